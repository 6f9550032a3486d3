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
trap 'exec 3>&-; [ -n "$updater_pid" ] && kill "$updater_pid" 2>/dev/null; rm -rf "$work"' EXIT
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

mkfifo "$work/keys"
"${runner[@]}" "$updater" <"$work/keys" >"$work/updater.out" 2>/dev/null &
updater_pid=$!
exec 3>"$work/keys"  # held open: no key and no end of input until the Esc below
waiting() { grep -q "Device is not connected" "$work/updater.out" 2>/dev/null; }
for _ in $(seq 1 600); do
  waiting && break
  kill -0 "$updater_pid" 2>/dev/null || break
  sleep 0.1
done
waiting || { cat "$work/updater.out"; fail "the updater never reached the connection wait"; }
# The WinUSB devices are listed again every two seconds: the wait must survive that.
sleep 3
kill -0 "$updater_pid" 2>/dev/null || { cat "$work/updater.out"; fail "the updater left the wait"; }
printf '\x1b' >&3
for _ in $(seq 1 100); do
  kill -0 "$updater_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$updater_pid" 2>/dev/null && fail "the updater still waits 10 s after Esc"
wait "$updater_pid"
code=$?
updater_pid=
[ "$code" -eq 0 ] || { cat "$work/updater.out"; fail "the updater ended with $code after Esc"; }
echo "omr72-probe found no USB device; the updater waited and left on Esc"
