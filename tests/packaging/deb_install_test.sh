#!/bin/bash
# The .deb: built by CPack from this build, installed with dpkg into a clean root (its own
# dpkg database, nothing else installed), holds exactly the listed files, and the programs
# run from there: omr72-sim through a scripted update, omr72-probe --emulated, omr72-pages
# (which must find libomr72.so in the root's /usr/lib), omr72-image on the samples. And
# `cmake --install` into another prefix installs the same set.
# With EXE, a Windows build of the updater standing in for the maker's, the owner's path
# instead: the installed programs take their payloads from a copy of it whose firmware version
# is changed to 3.7, and refuse payloads that are not firmware before anything starts.
#   deb_install_test.sh CMAKE CPACK BUILD_DIR SAMPLES WORK [EXE]
set -euo pipefail
cmake=$1 cpack=$2 build=$3 samples=$4 work=$5 exe=${6:-}
if [ -n "$exe" ] && [ ! -f "$exe" ]; then
  [ "${OMR72_REQUIRE_WINDOWS_BUILDS:-0}" = 1 ] && { echo "FAIL: no $exe"; exit 1; }
  echo "SKIPPED: no Windows build at $exe"
  exit 0
fi
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

bin="$root/usr/bin"
if [ -n "$exe" ]; then
  # The maker's updater carries FWC as it is stored; its scrambled version bytes at 0x29F9 and
  # 0x29FA become 3.7 (7 ^ 0x59, 3 ^ 0x8B).
  # grep matches within lines: 32 bytes of FWC.bin without a line feed are looked for.
  for ((at = 0; ; at += 32)); do
    hex=$(od -An -tx1 -j "$at" -N 32 "$samples/FWC.bin" | tr -d ' \n')
    grep -qE '^(..)*0a' <<<"$hex" || break
  done
  found=$(LC_ALL=C grep -obUaP "$(sed 's/../\\x&/g' <<<"$hex")" "$exe" | cut -d: -f1)
  offsets=$(for f in $found; do echo $((f - at)); done)
  [ "$(wc -w <<<"$offsets")" = 1 ] || fail "FWC found at '$offsets' in $exe"
  maker="$work/OMR72_FW_Updater.exe"
  cp "$exe" "$maker"
  printf '\x5e\x88' | dd of="$maker" bs=1 seek=$((offsets + 0x29F9)) conv=notrunc status=none
  out=$("$bin/omr72-image" info "$maker") || fail "omr72-image info $maker: exit $?: $out"
  grep -q "^New firmware version: 3.7$" <<<"$out" || fail "omr72-image info $maker: $out"
  out=$(printf 'YLY' | "$bin/omr72-sim" --latency none --payloads "$maker" 2>"$work/err") ||
    fail "omr72-sim --payloads exit $?"
  grep -q "^Press 'Y' to load firmware version 3.7 or other key to exit.$" <<<"$out" ||
    fail "omr72-sim --payloads did not offer 3.7:
$out"
  grep -q "^Replacing firmware...OK$" <<<"$out" || fail "omr72-sim --payloads: no update:
$out"
  # Changed, they are no longer the samples: no word of samples, nor of the embedded ones.
  [ ! -s "$work/err" ] || fail "omr72-sim --payloads said: $(cat "$work/err")"
  # Random boot loaders are refused before the banner, with one line naming the file.
  mkdir -p "$work/random"
  cp "$samples/FWC.bin" "$samples/BRC20.bin" "$work/random/"
  head -c 65536 /dev/urandom >"$work/random/BRC.bin"
  code=0
  out=$("$bin/omr72-updater" --payloads "$work/random" 2>"$work/err") || code=$?
  [ "$code" = 2 ] && [ -z "$out" ] && [ "$(wc -l <"$work/err")" = 1 ] &&
    grep -q "random/BRC.bin: it descrambles into random bytes" "$work/err" ||
    fail "random BRC.bin: exit $code, out '$out', err '$(cat "$work/err")'"
  echo "the installed programs updated with the payloads of $maker"
  exit 0
fi

expected="/usr/bin/omr72-image
/usr/bin/omr72-pages
/usr/bin/omr72-probe
/usr/bin/omr72-sim
/usr/bin/omr72-updater
/usr/include/q71.h
/usr/lib/libomr72-emulated.so
/usr/lib/libomr72.so
/usr/lib/udev/rules.d/70-omr72-recorder.rules
/usr/share/doc/omr72-updater/README.md
/usr/share/doc/omr72-updater/changelog.gz
/usr/share/doc/omr72-updater/copyright
/usr/share/man/man1/omr72-image.1.gz
/usr/share/man/man1/omr72-pages.1.gz
/usr/share/man/man1/omr72-probe.1.gz
/usr/share/man/man1/omr72-sim.1.gz
/usr/share/man/man1/omr72-updater.1.gz"
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
out=$("$bin/omr72-pages" --emulated info 2>&1) || fail "omr72-pages --emulated info: $out"
grep -q "connected: yes" <<<"$out" || fail "omr72-pages --emulated info: $out"
"$bin/omr72-image" info "$samples" | grep -q "^Model tag: R72SM$" || fail "omr72-image info"
"$cmake" --install "$build" --prefix "$work/prefix" >/dev/null
files=$(cd "$work/prefix" && find . -type f | sed 's|^\.|/usr|' | sort)
[ "$files" = "$expected" ] || fail "cmake --install installed:
$files"
out=$("$work/prefix/bin/omr72-pages" info 2>&1) && fail "omr72-pages info found a recorder"
[ "$out" = "connected: no" ] || fail "omr72-pages info from the prefix: $out"
echo "installed and ran from $root; cmake --install gives the same files"
