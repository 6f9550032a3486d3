#!/bin/bash
# omr72-sim as a process: scripted keys on standard input, the exact transcript on standard
# output, the trace and state files, and the exit codes of a run and of a bad option.
# Usage: sim_process.sh SIM [RUNNER...]
set -u
sim=$1
shift
runner=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

printf 'YLYq' | "${runner[@]}" "$sim" --route usb --trace "$work/trace" --state "$work/state" \
  >"$work/out" 2>"$work/err"
code=$?
expected=$'Orlo Mica R72 Firmware Updater version 1.1\n\nDevice is connected.\nCurrent Boot Loader version: 1.0\nCurrent firmware version: 1.5\nSerial number: ABCDE12345\nPress \'Y\' to load firmware version 2.10 or other key to exit.\n\r\nWARNING: Loading firmware will erase ALL data on this recorder.\r\nPress \'L\' to confirm load or other key to exit.\n\nIt is necessary to upgrade Boot Loader before firmware loading.\nPress \'Y\' to upgrade Boot Loader 1.0 to version 2.0 or other key to exit.\nReplacing Boot Loader...OK\nReplacing firmware...OK\nPress any key to exit...\n'
# Windows text-mode output turns each line feed into CR LF (so "\r\n" ends as CR CR LF); the
# line ends are compared without their carriage returns, which the in-process tests check.
actual=$(sed 's/\r*$//' "$work/out"; printf '.')
actual=${actual%.}
want=$(printf '%s' "$expected" | sed 's/\r*$//'; printf '.')
want=${want%.}
[ "$code" -eq 0 ] || fail "exit code $code"
grep -q "Close all other digital recorder applications" "$work/out" &&
  fail "another program on this machine holds the instance lock"
[ "$actual" = "$want" ] || { fail "transcript"; cat -A "$work/out"; }
grep -q '"firmwareImageWritten":true' "$work/state" || fail "state: $(cat "$work/state")"
grep -q '"serial":"ABCDEW12345"' "$work/state" || fail "state serial"
[ "$(grep -c 'req=0x21' "$work/trace")" -eq 168 ] || fail "168 USB chunk writes"
[ "$(grep -c 'cdb=C80B' "$work/trace")" -eq 168 ] || fail "168 disk chunk writes"
grep -q '^usb dev=ezusb-0 vendor dir=in req=0xC6 value=0x0000 index=0x0000 len=2 -> ok' \
  "$work/trace" || fail "trace line form"

"${runner[@]}" "$sim" --route sideways </dev/null >"$work/out" 2>"$work/err"
code=$?
[ "$code" -eq 2 ] || fail "bad value: exit code $code"
[ "$(sed 's/\r$//' "$work/err" | wc -l)" -eq 1 ] || fail "bad value: one line on stderr"
[ -s "$work/out" ] && fail "bad value: nothing on stdout"

# Refused before the run, with one line on stderr and nothing on stdout: an output file that
# cannot be written (the file that was at the other path stays as it was), a folder as an
# output file, an option word handed to the updater, payloads that are not there (and so no
# request reaches the emulated recorder: the trace stays empty).
echo kept >"$work/keep"
for args in "--state $work/keep --trace $work/no/such/folder/trace" "--state $work" "-x" \
  "--trace $work/trace --payloads $work"; do
  # shellcheck disable=SC2086  # the arguments are words
  printf 'YLY' | "${runner[@]}" "$sim" $args >"$work/out" 2>"$work/err"
  code=$?
  [ "$code" -eq 2 ] || fail "$args: exit code $code"
  [ "$(sed 's/\r$//' "$work/err" | wc -l)" -eq 1 ] || fail "$args: one line on stderr: $(cat "$work/err")"
  [ -s "$work/out" ] && fail "$args: nothing on stdout"
done
[ "$(cat "$work/keep")" = kept ] || fail "a refused run replaced its state file"
[ -s "$work/trace" ] && fail "refused payloads: the recorder was asked: $(head -n 3 "$work/trace")"
[ -d "$work" ] || fail "a folder given as the state file is gone"

# Piped, a wait that never ends sleeps as it would on a terminal instead of spinning a core:
# after the emulated seconds of its start, under half a core (CPU time, in clock ticks, over
# two seconds of the wait). Only for a native process, whose /proc entry is its own.
if [ "${#runner[@]}" -eq 0 ] && [ -r /proc/self/stat ]; then
  (printf 'YLY'; sleep 8) | "$sim" --no-return >/dev/null 2>&1 &
  pid=$!  # the pipeline's last process: omr72-sim
  sleep 3
  ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
  before=$(ticks)
  sleep 2
  after=$(ticks)
  kill "$pid"
  wait "$pid" 2>/dev/null
  [ $((after - before)) -lt "$(getconf CLK_TCK)" ] ||
    fail "--no-return piped: $((after - before)) ticks of CPU in 2 s"
fi

"${runner[@]}" "$sim" --help </dev/null >"$work/out" 2>&1
code=$?
[ "$code" -eq 0 ] || fail "--help: exit code $code"
grep -q -- '--fail-command' "$work/out" || fail "--help lists the options"

[ "$failed" -eq 0 ] && echo "omr72-sim process runs: as expected"
exit "$failed"
