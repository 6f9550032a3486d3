#!/bin/bash
# The updater's own Win32 device I/O, end to end: each case runs the real OMR72_FW_Updater.exe
# under wine against omr72-recorder through the stand-in driver (omr72-wine-sim) and the Linux
# omr72-sim on the same options and keys, and the two must agree byte for byte in transcript
# (CR LF read as LF), trace, state and exit code, and end as the case must. The cases run in one
# wine session (--batch), the first also alone. Then a second instance beside a waiting first
# one, and a C program that reads and writes pages through the exports.
# Usage: wine_sim_test.sh WINE_SIM SIM CLIENT_EXE UPDATER_EXE
#   SIM is the Linux omr72-sim. Run the script in a network namespace of its own
#   (tests/own_network.sh): omr72-sim's instance lock is machine-wide.
# OMR72_WINE_SIM_RECORDER and OMR72_WINE_SIM_PREFIX name the recorder and the test bed's prefix.
# Without omr72-recorder or omr72-sim the test fails: a test bed that quietly drops out proves
# nothing.
set -u
# A case that hangs (a regression that waits for ever) fails on its own after 180 s.
wine_sim=$1
sim=$2
client=$3
updater=$4

. "$(dirname "$0")/../../cmake/wine-loader.sh"
for program in "${OMR72_WINE_SIM_RECORDER:-}" "$sim"; do
  if [ ! -x "$program" ]; then
    echo "FAIL: no '$program' (build the linux preset)"
    exit 1
  fi
done
work=$(mktemp -d)
trap 'exec 3>&-; [ -n "${first_pid:-}" ] && { kill "$first_pid"; wait "$first_pid"; }; rm -rf "$work"' EXIT
failed=0
# A count, not a flag: each case compares it with its value before the case.
fail() {
  echo "FAIL: $*"
  failed=$((failed + 1))
}

same() {  # same FILE_A FILE_B WHAT
  cmp -s "$1" "$2" && return 0
  fail "$3 differs"
  diff <(cat -A "$1") <(cat -A "$2") | head -20
  return 1
}

# name | keys (printf escapes) | options | how the transcript ends (printf escapes, CR LF read
# as LF): a flow that stops early on both sides must not pass as equal.
updated='Replacing firmware...OK\nPress any key to exit...\n'
bl_failed='Replacing Boot Loader...Failed\nPress any key to exit.\n'
cases=(
  "disk route with boot-loader upgrade|YLYq|--route disk --boot-loader 1.0|$updated"
  "disk route without upgrade|YLq|--route disk --boot-loader 2.0|$updated"
  "USB route, boot loader 1.x|YLYq|--route usb|$updated"
  "USB route, boot loader 0.x (NAND boot block)|YLYq|--route usb --boot-loader 0.5|$updated"
  "foreign disk and foreign USB device present|YLYq|--route usb --usb-name 2 --foreign-usb 0 --foreign-disk 2 --drive 4|$updated"
  "recorder on both faces, at ezusb-3 and PHYSICALDRIVE5|YLYq|--route both --usb-name 3 --drive 5|$updated"
  "a failing chunk write ends the boot-loader upgrade|YLYq|--route disk --boot-loader 1.0 --fail-command 7|$bl_failed"
  "no recorder, Esc leaves the wait|\\x1b|--route none|Connect device to continue or press Esc to exit.\n"
  "unplugged before the 20th command of the disk-route upgrade|YLYq|--route disk --boot-loader 1.0 --unplug-at 20|$bl_failed"
  "unplugged on USB, back 5 polls later|YLYq|--route usb --unplug-at 10 --replug-after 5|$bl_failed"
  "seeded garbage in the identification replies|YLYq|--route usb --reply-fuzz 3|$updated"
)

# The first case alone, the way a person runs it; then every case in one wine session (--batch).
case_dir() { echo "$work/$(echo "$1" | tr -c 'a-zA-Z0-9\n' '_')"; }
IFS='|' read -r first_name keys options _ <<<"${cases[0]}"
read -r -a opts <<<"$options"
single=$(case_dir "single $first_name")
mkdir -p "$single"
printf "$keys" | timeout 180 "$wine_sim" "${opts[@]}" --trace "$single/trace" \
  --state "$single/state" >"$single/out" 2>"$single/err"
echo $? >"$single/code"

: >"$work/batch"
for entry in "${cases[@]}"; do
  IFS='|' read -r name keys options _ <<<"$entry"
  dir=$(case_dir "$name")
  printf '%s\t%s\t%s --trace %s --state %s\n' "$dir/wine" "$keys" "$options" \
    "$dir/wine/trace" "$dir/wine/state" >>"$work/batch"
done
start=$(date +%s%N)
timeout 300 "$wine_sim" --batch "$work/batch" </dev/null >"$work/batch.out" 2>&1 ||
  fail "the batch run: $(grep -v wine32 "$work/batch.out" | head -5)"
echo "batch of ${#cases[@]} cases: $((($(date +%s%N) - start) / 1000000)) ms in one wine session"

for entry in "${cases[@]}"; do
  IFS='|' read -r name keys options ending <<<"$entry"
  read -r -a opts <<<"$options"
  dir=$(case_dir "$name")
  printf "$keys" | timeout 180 "$sim" "${opts[@]}" --latency none \
    --trace "$dir/sim.trace" --state "$dir/sim.state" >"$dir/sim.out" 2>"$dir/sim.err"
  sim_code=$?
  before=$failed
  runs=("$dir/wine")
  [ "$name" = "$first_name" ] && runs+=("$single")
  for run in "${runs[@]}"; do
    wine_code=$(cat "$run/code" 2>/dev/null || echo none)
    [ "$wine_code" = "$sim_code" ] || fail "exit code $wine_code, omr72-sim $sim_code"
    sed 's/\r$//' "$run/out" >"$run/out.lf"
    same "$run/out.lf" "$dir/sim.out" transcript
    same "$run/trace" "$dir/sim.trace" trace
    same "$run/state" "$dir/sim.state" state
    grep -q "kept a device handle open" "$run/err" && fail "$(grep -a "kept a" "$run/err")"
  done
  # Equal is not enough: both sides must have come to the case's own ending.
  printf "$ending" >"$dir/ending"
  tail -c "$(wc -c <"$dir/ending")" "$dir/sim.out" | cmp -s - "$dir/ending" ||
    fail "the transcript does not end with: $(tr '\n' '|' <"$dir/ending") ($(head -3 "$dir/sim.err"))"
  if [ "$failed" -ne "$before" ]; then
    # The run alone fails on its own too (a setup failure, exit code 3): show each run's reason.
    echo "FAILED: $name (omr72-wine-sim stderr follows)"
    for run in "${runs[@]}"; do
      echo "-- ${run#"$work"/}"
      grep -v wine32 "$run/err" | head -10
    done
  else
    echo "ok: $name ($(wc -l <"$dir/wine/trace") lines of trace)"
  fi
done

# A second instance while a first one waits for its recorder inside the same wine session: the
# second prints the two messages, reads a key and ends with exit code 1, as under omr72-sim.
mkfifo "$work/keys"
"$wine_sim" --route none <"$work/keys" >"$work/first.out" 2>/dev/null &
first_pid=$!
exec 3>"$work/keys"
for _ in $(seq 1 300); do
  grep -q "Device is not connected" "$work/first.out" 2>/dev/null && break
  sleep 0.1
done
printf 'x' | WINEPREFIX=$OMR72_WINE_SIM_PREFIX WINEDEBUG=-all $wine "$updater" \
  >"$work/second.out" 2>/dev/null
second_code=$?
printf '\x1b' >&3
exec 3>&-
wait "$first_pid"
first_code=$?
first_pid=
mkfifo "$work/sim_keys"
"$sim" --route none <"$work/sim_keys" >"$work/sim_first.out" 2>/dev/null &
first_pid=$!
exec 3>"$work/sim_keys"
for _ in $(seq 1 300); do
  grep -q "Device is not connected" "$work/sim_first.out" 2>/dev/null && break
  sleep 0.1
done
printf 'x' | "$sim" --route none >"$work/sim_second.out" 2>/dev/null
sim_second_code=$?
printf '\x1b' >&3
exec 3>&-
wait "$first_pid"
first_pid=
before=$failed
grep -q "Device is not connected" "$work/first.out" || fail "the first instance never waited"
[ "$first_code" -eq 0 ] || fail "the first instance ended with $first_code after Esc"
[ "$second_code" -eq 1 ] || fail "the second instance ended with $second_code, not 1"
[ "$sim_second_code" -eq 1 ] || fail "omr72-sim's second instance ended with $sim_second_code"
sed 's/\r$//' "$work/second.out" >"$work/second.out.lf"
same "$work/second.out.lf" "$work/sim_second.out" "second-instance transcript"
[ "$failed" -eq "$before" ] && echo "ok: a second instance beside a waiting first one"

# The exports, loaded by a C program, read and write pages of the emulated recorder.
timeout 180 "$wine_sim" --program "$client" --route disk --trace "$work/pages.trace" \
  --state "$work/pages.state" "$updater" </dev/null >"$work/pages.out" 2>"$work/pages.err"
code=$?
before=$failed
[ "$code" -eq 0 ] || fail "the page client ended with $code"
grep -q "^all passed" "$work/pages.out" || fail "the page client: $(grep FAILED "$work/pages.out")"
# The flash parameters, then sub-command 1 writes pages 100 and 101, READ(10) reads them, and
# sub-command 2 reads 8 bytes at offset 16 of each; then 40 pages from page 200 written and read
# in commands of at most 64 KiB (32 pages, then 8): the exports' commands and nothing else.
cat >"$work/pages.expected" <<'EOF'
scsi drive=1 cdb=C8030000000000000000000000000000 dir=in len=40 -> ok
scsi drive=1 cdb=C8010000006400000200000000000000 dir=out len=4096 -> ok
scsi drive=1 cdb=28000000006400000200000000000000 dir=in len=4096 -> ok
scsi drive=1 cdb=C8020000006400000200080001001000 dir=in len=16 -> ok
scsi drive=1 cdb=C801000000C800002000000000000000 dir=out len=65536 -> ok
scsi drive=1 cdb=C801000000E800000800000000000000 dir=out len=16384 -> ok
scsi drive=1 cdb=2800000000C800002000000000000000 dir=in len=65536 -> ok
scsi drive=1 cdb=2800000000E800000800000000000000 dir=in len=16384 -> ok
EOF
same "$work/pages.trace" "$work/pages.expected" "the page client's trace"
if [ "$failed" -eq "$before" ]; then
  echo "ok: the exports by name and ordinal read and write pages through the stand-in"
else
  cat "$work/pages.out" "$work/pages.trace"
fi

[ "$failed" -eq 0 ] && echo "omr72-wine-sim: every case as omr72-sim"
exit $((failed > 0))
