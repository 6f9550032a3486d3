#!/bin/bash
# The Windows programs on a machine with neither the EZ-USB driver nor a device bound to WinUSB
# (wine, whose winusb.dll has stubs only): omr72-probe says so for every USB name and exits
# with 1; the updater keeps waiting for its recorder, past a relisting of the WinUSB devices,
# and Esc ends the wait with exit code 0.
# Usage: windows_without_drivers.sh UPDATER PROBE RUNNER...
set -u
updater=$1
probe=$2
shift 2
runner=("$@")

work=$(mktemp -d)
updater_pid=
trap '[ -n "$updater_pid" ] && kill "$updater_pid" 2>/dev/null; rm -rf "$work"' EXIT
fail() {
  echo "$*"
  exit 1
}

"${runner[@]}" "$probe" >"$work/probe.out" 2>&1
code=$?
tr -d '\r' <"$work/probe.out" >"$work/probe.txt"
[ "$code" -eq 1 ] || { cat "$work/probe.txt"; fail "omr72-probe: exit code $code, not 1"; }
for n in 0 1 2 3 4 5 6 7 8; do
  grep -Eq "^  ezusb-$n +- +no device$" "$work/probe.txt" ||
    { cat "$work/probe.txt"; fail "omr72-probe: ezusb-$n is not reported as no device"; }
done
grep -q "WinUSB" "$work/probe.txt" || fail "omr72-probe does not name WinUSB as a way to the USB route"

waiting() { grep -q "Device is not connected" "$1" 2>/dev/null; }
# until_waiting PID OUT: until the updater waits for its recorder or has ended.
until_waiting() {
  for _ in $(seq 1 600); do
    waiting "$2" && return 0
    kill -0 "$1" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# With input from /dev/null no key ever comes and the wait polls every name every millisecond,
# which lists the WinUSB devices again every two seconds: it must keep waiting through that.
"${runner[@]}" "$updater" </dev/null >"$work/polling.out" 2>/dev/null &
updater_pid=$!
until_waiting "$updater_pid" "$work/polling.out" ||
  { cat "$work/polling.out"; fail "the updater never reached the connection wait"; }
sleep 3
kill -0 "$updater_pid" 2>/dev/null || { cat "$work/polling.out"; fail "the updater left the wait"; }
kill "$updater_pid"
wait "$updater_pid"
updater_pid=

# Esc through a pipe. Wine hands a Unix pipe over as one that cannot be peeked, so the updater
# reads its input ahead and waits in that read after its first pass over the names.
{
  while [ -d "$work" ] && [ ! -e "$work/esc" ]; do sleep 0.1; done
  [ -e "$work/esc" ] && printf '\x1b'
  # No end of input before the updater has ended.
  while [ -d "$work" ] && [ ! -e "$work/ended" ]; do sleep 0.1; done
} | "${runner[@]}" "$updater" >"$work/updater.out" 2>/dev/null &
updater_pid=$!
until_waiting "$updater_pid" "$work/updater.out" ||
  { cat "$work/updater.out"; fail "the updater never reached the connection wait"; }
touch "$work/esc"
for _ in $(seq 1 100); do
  kill -0 "$updater_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$updater_pid" 2>/dev/null && fail "the updater still waits 10 s after Esc"
touch "$work/ended"
wait "$updater_pid"  # the whole pipeline
code=$?
updater_pid=
[ "$code" -eq 0 ] || { cat "$work/updater.out"; fail "the updater ended with $code after Esc"; }
echo "omr72-probe found no USB device; the updater waited and left on Esc"
