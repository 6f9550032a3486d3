#!/bin/bash
# The .deb: built by CPack from this build, installed with dpkg into a clean root (its own
# dpkg database, nothing else installed), holds exactly the listed files, and the programs
# run from there: omr72-sim through a scripted update, omr72-probe --emulated, omr72-pages
# (which must find libomr72.so in the root's /usr/lib), omr72-image on the samples. And
# `cmake --install` into another prefix installs the same set.
#   deb_install_test.sh CMAKE CPACK BUILD_DIR SAMPLES WORK
set -euo pipefail
cmake=$1 cpack=$2 build=$3 samples=$4 work=$5
rm -rf "$work"
root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
fail() { echo "FAIL: $*"; exit 1; }

"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/packages" >/dev/null
deb=$(echo "$work"/packages/omr72-updater_*.deb)
[ -f "$deb" ] || fail "no package in $work/packages"
# The root has no libc6 or libusb package; the programs use the host's.
dpkg --root="$root" --force-depends --log=/dev/null -i "$deb" >/dev/null 2>&1 ||
  fail "dpkg -i $deb"

expected="/usr/bin/omr72-image
/usr/bin/omr72-pages
/usr/bin/omr72-probe
/usr/bin/omr72-sim
/usr/bin/omr72-updater
/usr/include/q71.h
/usr/lib/libomr72.so
/usr/lib/udev/rules.d/70-omr72-recorder.rules
/usr/share/doc/omr72-updater/README.md"
files=$(dpkg --root="$root" -L omr72-updater | while read -r f; do [ -f "$root$f" ] && echo "$f"; done | sort)
[ "$files" = "$expected" ] || fail "installed files:
$files"

# The rules are the ones the build made from the served USB ids: plugdev and uaccess on the
# boot-loader device, uaccess on the recorder's sg node.
rules="$root/usr/lib/udev/rules.d/70-omr72-recorder.rules"
grep -q '^SUBSYSTEM=="usb", .*ATTR{idVendor}=="10c4", ATTR{idProduct}=="4512", MODE="0660", GROUP="plugdev", TAG+="uaccess"$' \
  "$rules" || fail "no plugdev and uaccess rule for 10c4:4512 in $rules"
grep -q '^SUBSYSTEM=="scsi_generic", .*ATTRS{vendor}=="Cool\*", ATTRS{model}=="Mass Storage\*", TAG+="uaccess"$' \
  "$rules" || fail "no uaccess rule for the recorder's sg node in $rules"
! grep -q '@' "$rules" || fail "unreplaced template text in $rules"

bin="$root/usr/bin"
out=$(printf 'YLY' | "$bin/omr72-sim" --route usb --latency none) || fail "omr72-sim exit $?"
grep -q "^Press any key to exit" <<<"$out" || fail "omr72-sim did not finish the update:
$out"
out=$("$bin/omr72-probe" --emulated) || fail "omr72-probe --emulated exit $?"
grep -q "PHYSICALDRIVE1 .*INQUIRY matches: the recorder's disk" <<<"$out" ||
  fail "omr72-probe --emulated:
$out"
# No recorder here: the library loads and answers "not connected" (exit 1).
out=$("$bin/omr72-pages" info 2>&1) && fail "omr72-pages info found a recorder"
[ "$out" = "connected: no" ] || fail "omr72-pages info: $out"
"$bin/omr72-image" info "$samples" | grep -q "^Model tag: R72SM$" || fail "omr72-image info"
"$cmake" --install "$build" --prefix "$work/prefix" >/dev/null
files=$(cd "$work/prefix" && find . -type f | sed 's|^\.|/usr|' | sort)
[ "$files" = "$expected" ] || fail "cmake --install installed:
$files"
out=$("$work/prefix/bin/omr72-pages" info 2>&1) && fail "omr72-pages info found a recorder"
[ "$out" = "connected: no" ] || fail "omr72-pages info from the prefix: $out"
echo "installed and ran from $root; cmake --install gives the same files"
