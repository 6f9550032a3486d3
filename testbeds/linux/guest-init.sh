#!/bin/sh
# The test bed guest's init: loads the gadget and storage modules, mounts the folder the host
# shares (9p, tag omr72) and runs every case in /share/cases, one after another, each through
# the gadget program, which writes its results into the case's folder. Then powers off.
export PATH=/bin:/sbin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/ffs
while read -r module; do
  case "$module" in
    */dummy_hcd.ko) insmod "$module" num=2 ;;
    *) insmod "$module" 2>/dev/null ;;
  esac
done </modules.order
mount -t configfs configfs /sys/kernel/config
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 omr72 /share || {
  echo "omr72-guest: no shared folder"
  poweroff -f
}
[ -f /share/setup.sh ] && . /share/setup.sh
echo "omr72-guest: ready after $(cut -d' ' -f1 /proc/uptime) s"
for case in /share/cases/*/; do
  [ -f "$case/args" ] || continue
  set --
  while IFS= read -r arg; do set -- "$@" "$arg"; done <"$case/args"
  # A case may ask for udevd (device node permissions from udev rules): it then stays.
  if [ -f "$case/udevd" ] && [ ! -e /run/udev/control ]; then
    mkdir -p /run/udev
    /lib/systemd/systemd-udevd --daemon 2>/dev/null
    udevadm trigger --action=add
    udevadm settle --timeout=20
  fi
  start=$(cut -d' ' -f1 /proc/uptime)
  /opt/omr72/omr72-usb-gadget --case "$case" "$@" 2>"$case/gadget.log"
  echo "$start $(cut -d' ' -f1 /proc/uptime)" >"$case/times"
  echo "omr72-guest: case $case done"
done
sync
poweroff -f
