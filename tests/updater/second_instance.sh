#!/bin/bash
# A second recorder application while the first still runs: the second prints the banner and
# the two messages, reads one key and ends with exit code 1.
# Usage: second_instance.sh FIRST SECOND
#   FIRST is started with no recorder attached and keeps waiting for one; SECOND is the program
#   under test.
set -u
first=$1
second=$2

work=$(mktemp -d)
trap 'exec 3>&-; kill "$first_pid" 2>/dev/null; wait "$first_pid" 2>/dev/null; rm -rf "$work"' EXIT
mkfifo "$work/keys"
if [[ "$(basename "$first")" == omr72-sim* ]]; then first_args=(--route none); else first_args=(); fi
"$first" "${first_args[@]}" <"$work/keys" >"$work/first.out" 2>/dev/null &
first_pid=$!
exec 3>"$work/keys"  # held open: the first instance sees no key and no end of input

waiting() { grep -q "Device is not connected" "$work/first.out" 2>/dev/null; }
refused() { grep -q "Close all other digital recorder applications" "$work/first.out" 2>/dev/null; }
# Until the first instance waits for a recorder, finds the lock taken or ends; the minute is
# only for a first instance that hangs.
for _ in $(seq 1 600); do
  waiting || refused && break
  kill -0 "$first_pid" 2>/dev/null || break
  sleep 0.1
done
if ! waiting; then
  if refused; then
    echo "another program on this machine holds the instance lock; the first instance says:"
  elif kill -0 "$first_pid" 2>/dev/null; then
    echo "the first instance still runs but never reached the connection wait:"
  else
    wait "$first_pid"
    echo "the first instance ended (exit code $?) before it reached the connection wait:"
  fi
  cat "$work/first.out"
  exit 1
fi

printf 'x' | "$second" >"$work/second.out" 2>/dev/null
code=$?
expected=$'Orlo Mica R72 Firmware Updater version 1.1\n\nClose all other digital recorder applications and try again.\nPress any key to exit.\n'
actual=$(tr -d '\r' <"$work/second.out"; printf '.')
actual=${actual%.}
if [ "$code" -ne 1 ] || [ "$actual" != "$expected" ]; then
  echo "exit code $code, output:"
  cat -A "$work/second.out"
  exit 1
fi
echo "second instance: exit code 1 and the expected output"
