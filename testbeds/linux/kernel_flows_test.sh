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

# The guest ends itself before CTest ends this script (TIMEOUT 900), so that a hang is told
# case by case below rather than as a bare time-out.
export OMR72_GUEST_TIMEOUT=${OMR72_GUEST_TIMEOUT:-780}

# The instance lock is machine-wide; a private network namespace keeps other runs out of it.
isolated() {
  if unshare -n true 2>/dev/null; then unshare -n "$@"; else "$@"; fi
}

# How a run must end: the last line but one of its transcript (both sides being equal is not
# enough: a flow that stops early, say at "Boot Loader not found", stops early on both).
replaced="Replacing firmware...OK"
waiting="Connect device to continue or press Esc to exit."
declined="Press 'Y' to load firmware version 2.10 or other key to exit."

# name | keys (printf %b) | ending | arguments, shared by omr72-sim and the guest. Cases run in
# name order in the guest; those up to 2x as root with no udevd (nodes as devtmpfs makes them).
updater_cases=(
  "10-disk-upgrade|YLY|$replaced|--route disk"
  "11-usb-flash-pages|YLY|$replaced|--route usb"
  "12-usb-nand|YLY|$replaced|--route usb --boot-loader 0.5"
  "13-usb-no-upgrade|YL|$replaced|--route usb --boot-loader 2.0"
  "14-disk-no-upgrade|YL|$replaced|--route disk --boot-loader 2.0"
  "15-foreign-disk|YL|$replaced|--route disk --boot-loader 2.0 --foreign-disk 0"
  "16-declined|N|$declined|--route usb"
)

# Permissions: name | guest user | udevd | keys | ending | denied node (the recorder's node is
# there, the user may not open it) | guest arguments | omr72-sim arguments. A user who may not
# open the nodes finds nothing, as if no recorder were there, and leaves with Esc.
permission_cases=(
  "20-tester-without-rules|1000|no|\\x1b|$waiting|usb|--route usb|--route none"
  "30-tester-with-rules|1000|yes|YL|$replaced||--route usb --boot-loader 2.0|--route usb --boot-loader 2.0"
  "31-stranger-usb|1001|yes|\\x1b|$waiting|usb|--route usb|--route none"
  "32-stranger-disk|1001|yes|\\x1b|$waiting|sg|--route disk|--route none"
  # Not a permission case: a recorder off the bus for only 300 ms, leaving before it answers
  # the command that restarted it, still ends the same way.
  "40-disk-short-gap|0|yes|YL|$replaced||--route disk --boot-loader 2.0 --gap-ms 300 --restart-early|--route disk --boot-loader 2.0"
)

# name | program arguments (the file page.bin is in the case's folder)
pages_cases=(
  "17-pages-info|info"
  "17-pages-write|write 7 page.bin"
  "18-pages-read|read 7 2 out.bin"
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
  IFS='|' read -r name keys _ args <<<"$entry"
  mkdir -p "$work/sim/$name"
  # shellcheck disable=SC2086
  printf '%b' "$keys" | isolated "$sim" $args --latency none --trace "$work/sim/$name/trace" \
    --state "$work/sim/$name/state" >"$work/sim/$name/transcript"
  echo $? >"$work/sim/$name/exit"
  # shellcheck disable=SC2086
  add_guest_case "$name" "$keys" $args
done
for entry in "${permission_cases[@]}"; do
  IFS='|' read -r name user udevd keys _ _ guest_args sim_args <<<"$entry"
  mkdir -p "$work/sim/$name"
  # shellcheck disable=SC2086
  printf '%b' "$keys" | isolated "$sim" $sim_args --latency none --trace "$work/sim/$name/trace" \
    --state "$work/sim/$name/state" >"$work/sim/$name/transcript"
  echo $? >"$work/sim/$name/exit"
  # shellcheck disable=SC2086
  add_guest_case "$name" "$keys" --user "$user" $guest_args
  [ "$udevd" = no ] || touch "$batch/cases/$name/udevd"
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
add_guest_case 19-pages-round-trip "" --program /bin/sh -c \
  "/opt/omr72/omr72-pages write 7 page.bin && /opt/omr72/omr72-pages read 7 2 back.bin"
cp "$work/page.bin" "$batch/cases/19-pages-round-trip/"

start=$(date +%s)
"$kernel_sim" --batch "$batch" || fail "the guest did not run"
echo "guest: $(($(date +%s) - start)) s for ${#updater_cases[@]} updater, $((${#pages_cases[@]} + 1)) page and ${#permission_cases[@]} permission cases"

# A case the guest never finished is where it hung: its gadget log says how far it came.
finished() {  # name
  [ -f "$batch/cases/$1/exit" ] && return 0
  fail "$1: the guest never finished this case; its gadget log ends:"
  tail -n 15 "$batch/cases/$1/gadget.log" 2>/dev/null
  return 1
}

ends() {  # name ending: both sides end with that line, then "Press any key" or nothing
  local side
  for side in "$work/sim" "$batch/cases"; do
    tail -n 2 "$side/$1/transcript" | grep -qxF -- "$2" ||
      fail "$1: $side's run does not end with \"$2\": $(tail -n 2 "$side/$1/transcript" | paste -sd'|')"
  done
}

# Denied, not never enumerated: the gadget saw the face bound and logged the recorder's node
# (an sg node, or a USB node other than a root hub's 001).
denied() {  # name kind
  local log=$batch/cases/$1/gadget.log pattern='node /dev/sg'
  [ "$2" = usb ] && pattern='node /dev/bus/usb/[0-9]*/(00[2-9]|0[1-9][0-9])'
  if grep -q 'the device did not show up' "$log" || ! grep -qE "$pattern" "$log"; then
    fail "$1: the recorder never enumerated, so the case shows no denial"
  fi
}

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
  IFS='|' read -r name _ ending _ <<<"$entry"
  finished "$name" || continue
  compare "$name" transcript exit trace state
  ends "$name" "$ending"
  echo "$name: $(wc -l <"$batch/cases/$name/trace") requests; $(paste -sd' ' "$batch/cases/$name/kernel-commands")"
done
for entry in "${pages_cases[@]}"; do
  name=${entry%%|*}
  finished "$name" || continue
  compare "$name" transcript exit trace
  [ "$(cat "$batch/cases/$name/exit")" = 0 ] || fail "$name: omr72-pages ended with an error"
done
for entry in "${permission_cases[@]}"; do
  IFS='|' read -r name _ _ _ ending node _ <<<"$entry"
  finished "$name" || continue
  compare "$name" transcript exit trace
  ends "$name" "$ending"
  [ -z "$node" ] || denied "$name" "$node"
  grep ' node ' "$batch/cases/$name/gadget.log" | sed "s/^ *[0-9.]* /$name: /"
done
compare 30-tester-with-rules state
# After so short a gap the recorder may be back before the program has ended, where omr72-sim
# leaves it away (it comes back on the program's polls): all the rest of the state is equal.
for side in "$work/sim" "$batch/cases"; do
  sed 's/"route":"[a-z]*",//' "$side/40-disk-short-gap/state" >"$side/40-disk-short-gap/memory"
done
compare 40-disk-short-gap memory
compare 18-pages-read out.bin
cmp -s "$work/page.bin" "$batch/cases/19-pages-round-trip/back.bin" ||
  fail "pages-round-trip: the pages read back differ from those written"

# The foreign disk gets the kernel's own commands and the program's INQUIRY, nothing else.
foreign=$(grep '^foreign0 ' "$batch/cases/15-foreign-disk/kernel-commands")
[[ "$foreign" =~ program=([0-9]+)\ program-inquiry=([0-9]+) ]] ||
  fail "foreign-disk: the foreign disk was not on the bus"
[ "${BASH_REMATCH[1]:-x}" = "${BASH_REMATCH[2]:-y}" ] ||
  fail "foreign-disk: the program sent the foreign disk more than INQUIRY: $foreign"
if grep -q 'scsi drive=0' "$batch/cases/15-foreign-disk/trace"; then
  fail "foreign-disk: a command of the program reached the foreign disk"
fi

[ "$failures" -eq 0 ] || {
  echo "console of the guest:"
  tail -n 40 "$batch/console.log"
  exit 1
}
echo "all cases equal"
