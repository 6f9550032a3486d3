#!/bin/bash
# Installs what the build and the tests need on a Debian machine, as root. Packages that are
# already there are left alone; nothing is fetched when nothing is missing.
#   tools/bootstrap.sh          everything: Linux, Windows cross builds and wine
#   tools/bootstrap.sh --linux  only what the Linux build needs
set -euo pipefail

# qemu-system-x86, cpio, kmod and udev build and boot the kernel test bed's guest (its kernel and
# busybox are fetched with apt-get download, not installed), and the guest in which
# testbeds/windows/i386-guest runs the 32-bit Windows tests where this kernel runs no 32-bit code.
linux_packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev googletest
                libusb-1.0-0-dev qemu-system-x86 cpio kmod udev clang libclang-rt-dev valgrind
                libbenchmark-dev)
# wine32:i386 beside wine64 runs the i686 release build as 64-bit Windows runs it, a 32-bit
# process in a WoW64 prefix; it needs the i386 architecture.
windows_packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
                  binutils-mingw-w64-x86-64 wine wine64 wine32:i386 unzip)

wanted=("${linux_packages[@]}")
[ "${1:-}" = "--linux" ] || wanted+=("${windows_packages[@]}")

missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
