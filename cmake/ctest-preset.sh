#!/bin/bash
# One preset's tests for the `all` tree: `ctest --preset PRESET`. Where a skip must count as a
# failure (OMR72_NO_SKIPS, which tools/test.sh sets, or CI), a test that was skipped (exit 77
# with SKIP_RETURN_CODE, a GoogleTest skip) fails the run, so that a test bed, memcheck or the
# package test cannot drop out of a green run because something it needs is missing.
#   ctest-preset.sh CTEST PRESET
set -uo pipefail
ctest=$1 preset=$2
if [ -z "${OMR72_NO_SKIPS:-}" ] && [ "${CI:-}" != true ]; then
  exec "$ctest" --preset "$preset"
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$ctest" --preset "$preset" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
skipped=$(grep -E '\*\*\*Skipped|\(Skipped\)$' "$log" | sort -u)
if [ -n "$skipped" ]; then
  printf '\nSkipped in preset %s, which counts as a failure here:\n%s\n' "$preset" "$skipped"
  exit 1
fi
exit "$status"
