#!/bin/bash
# Builds the test bed's guest: Debian's own kernel and an initramfs with busybox, the USB gadget
# and mass-storage modules, and the programs given on the command line (with the shared
# libraries they load). Nothing is installed on this machine: the kernel and busybox packages
# are fetched with apt-get download and unpacked into OUT/cache, once.
#
#   build-guest.sh OUT RULES PROGRAM...
#
# RULES is the program's udev rules file; the guest gets udevd (this machine's, from the udev
# package) to start when a case asks for it. Writes OUT/vmlinuz and OUT/initrd.img; OUT/cache
# keeps the unpacked packages between runs.
set -euo pipefail

out=$1 rules=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
cache=$out/cache
mkdir -p "$cache"

# Modules in load order (dependencies first): the dummy host and device controllers, configfs
# gadgets with FunctionFS, usb-storage with sd and sg, and 9p over virtio for the shared folder.
modules=(dummy_hcd libcomposite usb_f_fs sg sd_mod usb_storage 9p 9pnet_virtio virtio_pci)

fetch_packages() {
  local dl=$cache/debs
  rm -rf "$dl" "$cache/root"
  mkdir -p "$dl" "$cache/root"
  # The versioned kernel package that linux-image-amd64 stands for.
  local image
  image=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
  [ -n "$image" ] || { echo "build-guest: no linux-image package known to apt" >&2; exit 1; }
  (cd "$dl" && apt-get download -q "$image" busybox-static >/dev/null 2>&1) ||
    (apt-get update -qq && cd "$dl" && apt-get download -q "$image" busybox-static >/dev/null)
  for deb in "$dl"/*.deb; do dpkg-deb -x "$deb" "$cache/root"; done
  rm -rf "$dl"
}

kernel_version() {
  ls "$cache/root/lib/modules" | head -n 1
}

build_base() {
  local version base=$cache/base
  version=$(kernel_version)
  depmod -b "$cache/root" "$version"
  rm -rf "$base"
  mkdir -p "$base"/{bin,sbin,dev,proc,sys,tmp,run,share,lib/modules,etc,opt/omr72}
  cp "$cache/root/bin/busybox" "$base/bin/busybox"
  for applet in $("$base/bin/busybox" --list); do
    [ -e "$base/bin/$applet" ] || ln -s busybox "$base/bin/$applet"
  done
  : >"$base/modules.order"
  local m path
  for m in "${modules[@]}"; do
    modprobe -d "$cache/root" -S "$version" --show-depends "$m" | awk '$1 == "insmod" {print $2}'
  done | awk '!seen[$0]++' | while read -r path; do
    cp "$path" "$base/lib/modules/"
    echo "/lib/modules/$(basename "$path")" >>"$base/modules.order"
  done
  cp "$cache/root/boot/vmlinuz-$version" "$cache/vmlinuz"
  (cd "$base" && find . | cpio -o -H newc --quiet | gzip -1) >"$cache/base.cpio.gz.new"
  mv "$cache/base.cpio.gz.new" "$cache/base.cpio.gz"
}

[ -d "$cache/root/lib/modules" ] || fetch_packages
[ -f "$cache/base.cpio.gz" ] && [ "$cache/base.cpio.gz" -nt "$0" ] || build_base

# The part that changes with every build: init, our programs and the libraries they need.
apps=$out/apps
rm -rf "$apps"
mkdir -p "$apps/opt/omr72" "$apps/etc"
cp "$here/guest-init.sh" "$apps/init"
chmod 755 "$apps/init"
# tester may use the recorder (plugdev for the USB device, disk for /dev/sgN); stranger may not.
printf '%s\n' "root:x:0:0:root:/:/bin/sh" "tester:x:1000:1000:tester:/tmp:/bin/sh" \
  "stranger:x:1001:1001:stranger:/tmp:/bin/sh" >"$apps/etc/passwd"
printf '%s\n' "root:x:0:" "disk:x:6:tester" "plugdev:x:46:tester" "tester:x:1000:" \
  "stranger:x:1001:" >"$apps/etc/group"
# udevd and the rules that matter here: Debian's defaults (sg to the disk group) and ours.
udevadm=$(command -v udevadm)
mkdir -p "$apps/lib/systemd" "$apps/lib/udev/rules.d" "$apps/etc/udev/rules.d"
cp /lib/udev/rules.d/50-udev-default.rules "$apps/lib/udev/rules.d/"
cp "$rules" "$apps/etc/udev/rules.d/"
for program in "$udevadm" "$@"; do
  cp "$program" "$apps/opt/omr72/"
  # Shared libraries at the paths the dynamic loader looks in.
  ldd "$program" | awk '/=> \// {print $3} /^\t\/lib/ {print $1}' | while read -r lib; do
    mkdir -p "$apps$(dirname "$lib")"
    cp -L "$lib" "$apps$lib"
  done
done
ln -s /opt/omr72/udevadm "$apps/lib/systemd/systemd-udevd"
mkdir -p "$apps/bin"
ln -s /opt/omr72/udevadm "$apps/bin/udevadm"
# The 64-bit loader is found at /lib64 whatever the programs' ldd says.
if [ -e /lib64/ld-linux-x86-64.so.2 ]; then
  mkdir -p "$apps/lib64"
  cp -L /lib64/ld-linux-x86-64.so.2 "$apps/lib64/"
fi
(cd "$apps" && find . | cpio -o -H newc --quiet | gzip -1) >"$out/apps.cpio.gz"
cat "$cache/base.cpio.gz" "$out/apps.cpio.gz" >"$out/initrd.img.new"
mv "$out/initrd.img.new" "$out/initrd.img"
cp "$cache/vmlinuz" "$out/vmlinuz"
