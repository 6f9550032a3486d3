#!/bin/bash
# The main update flows through a real Linux kernel: every case runs once in omr72-sim and once
# in the test bed's guest (all guest cases in one boot), and transcript, exit code, trace and
# state must be equal. Page access runs omr72-pages in the guest against libomr72.so and
# compares it with omr72-pages --emulated.
#
#   kernel_flows_test.sh SIM PAGES KERNEL_SIM
set -uo pipefail

sim=$(realpath "$1") pages=$(realpath "$2") kernel_sim=$(realpath "$3")
work=$(mktemp -d /tmp/omr72-kernel-flows.XXXXXX)
[ -n "${OMR72_KEEP:-}" ] && echo "keeping $work" || trap 'rm -rf "$work"' EXIT
batch=$work/guest
failures=0

fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}

# The instance lock is machine-wide; a private network namespace keeps other runs out of it.
isolated() {
  if unshare -n true 2>/dev/null; then unshare -n "$@"; else "$@"; fi
}

# name | keys (printf %b) | arguments, shared by omr72-sim and the guest
updater_cases=(
  "disk-upgrade|YLY|--route disk"
  "usb-flash-pages|YLY|--route usb"
  "usb-nand|YLY|--route usb --boot-loader 0.5"
  "usb-no-upgrade|YL|--route usb --boot-loader 2.0"
  "disk-no-upgrade|YL|--route disk --boot-loader 2.0"
  "foreign-disk|YL|--route disk --boot-loader 2.0 --foreign-disk 0"
  "declined|N|--route usb"
)

# name | program arguments (the file page.bin is in the case's folder)
pages_cases=(
  "pages-info|info"
  "pages-write|write 7 page.bin"
  "pages-read|read 7 2 out.bin"
)

add_guest_case() {  # name keys args...
  local dir=$batch/cases/$1 keys=$2
  shift 2
  mkdir -p "$dir"
  printf '%s\n' "$@" >"$dir/args"
  printf '%b' "$keys" >"$dir/keys"
}

head -c 4096 /dev/urandom >"$work/page.bin"
for entry in "${updater_cases[@]}"; do
  IFS='|' read -r name keys args <<<"$entry"
  mkdir -p "$work/sim/$name"
  # shellcheck disable=SC2086
  printf '%b' "$keys" | isolated "$sim" $args --latency none --trace "$work/sim/$name/trace" \
    --state "$work/sim/$name/state" >"$work/sim/$name/transcript"
  echo $? >"$work/sim/$name/exit"
  # shellcheck disable=SC2086
  add_guest_case "$name" "$keys" $args
done
for entry in "${pages_cases[@]}"; do
  IFS='|' read -r name args <<<"$entry"
  mkdir -p "$work/sim/$name"
  cp "$work/page.bin" "$work/sim/$name/"
  # shellcheck disable=SC2086
  (cd "$work/sim/$name" && OMR72_EMULATED_TRACE=trace "$pages" --emulated $args >transcript
   echo $? >exit)
  # shellcheck disable=SC2086
  add_guest_case "$name" "" --program /opt/omr72/omr72-pages $args
  cp "$work/page.bin" "$batch/cases/$name/"
done
# The round trip that the emulated library cannot show, as it forgets between processes.
add_guest_case pages-round-trip "" --program /bin/sh -c \
  "/opt/omr72/omr72-pages write 7 page.bin && /opt/omr72/omr72-pages read 7 2 back.bin"
cp "$work/page.bin" "$batch/cases/pages-round-trip/"

start=$(date +%s)
"$kernel_sim" --batch "$batch" || fail "the guest did not run"
echo "guest: $(($(date +%s) - start)) s for ${#updater_cases[@]} updater and $((${#pages_cases[@]} + 1)) page cases"

compare() {  # name file...
  local name=$1 file
  shift
  for file in "$@"; do
    if ! cmp -s "$work/sim/$name/$file" "$batch/cases/$name/$file"; then
      fail "$name: $file differs (omr72-sim <, kernel >)"
      diff "$work/sim/$name/$file" "$batch/cases/$name/$file" | head -n 20
    fi
  done
}

for entry in "${updater_cases[@]}"; do
  name=${entry%%|*}
  compare "$name" transcript exit trace state
  echo "$name: $(wc -l <"$batch/cases/$name/trace") requests; $(paste -sd' ' "$batch/cases/$name/kernel-commands")"
done
for entry in "${pages_cases[@]}"; do
  compare "${entry%%|*}" transcript exit trace
done
compare pages-read out.bin
cmp -s "$work/page.bin" "$batch/cases/pages-round-trip/back.bin" ||
  fail "pages-round-trip: the pages read back differ from those written"

# The foreign disk gets the kernel's own commands and the program's INQUIRY, nothing else.
foreign=$(grep '^foreign0 ' "$batch/cases/foreign-disk/kernel-commands")
[[ "$foreign" =~ program=([0-9]+)\ program-inquiry=([0-9]+) ]] ||
  fail "foreign-disk: the foreign disk was not on the bus"
[ "${BASH_REMATCH[1]:-x}" = "${BASH_REMATCH[2]:-y}" ] ||
  fail "foreign-disk: the program sent the foreign disk more than INQUIRY: $foreign"
if grep -q 'scsi drive=0' "$batch/cases/foreign-disk/trace"; then
  fail "foreign-disk: a command of the program reached the foreign disk"
fi

[ "$failures" -eq 0 ] || {
  echo "console of the guest:"
  tail -n 40 "$batch/console.log"
  exit 1
}
echo "all cases equal"
