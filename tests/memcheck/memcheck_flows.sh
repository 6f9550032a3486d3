#!/bin/bash
# One whole omr72-sim update of each main flow under valgrind memcheck: every run must reach
# "Replacing firmware...OK" with no memory error and no leak of any kind.
#   memcheck_flows.sh OMR72_SIM
set -uo pipefail
sim=$1
command -v valgrind >/dev/null || { echo "valgrind is not installed"; exit 77; }

flows=(
  "disk route, boot-loader upgrade|"
  "USB route 1.x, boot-loader upgrade|--route usb"
  "USB route 0.x, NAND rewrite|--route usb --boot-loader 0.5"
  "USB route, no upgrade|--route usb --boot-loader 2.0"
  "disk route, no upgrade|--boot-loader 2.0"
)
status=0
out=$(mktemp)
log=$(mktemp)
trap 'rm -f "$out" "$log"' EXIT
for flow in "${flows[@]}"; do
  name=${flow%%|*}
  read -r -a options <<<"${flow#*|}"
  printf 'YLY' | valgrind -q --error-exitcode=3 --leak-check=full --show-leak-kinds=all \
    --suppressions="$(dirname "$0")/static_runtime.supp" \
    --errors-for-leak-kinds=all --log-file="$log" "$sim" "${options[@]}" --latency none >"$out"
  rc=$?
  if [ $rc -ne 0 ] || ! grep -q 'Replacing firmware...OK' "$out" || [ -s "$log" ]; then
    echo "FAIL $name: exit $rc"
    cat "$log"
    tail -3 "$out"
    status=1
  else
    echo "ok   $name"
  fi
done
exit $status
