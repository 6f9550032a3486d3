#!/bin/bash
# The win32 tree's tests: `ctest --preset win32` with its arguments, after making the tree's two
# wine prefixes side by side. Made on first use instead, each would be made inside a test's
# time: on a slow machine (i386-guest's emulated one takes minutes) past the test list's
# time-out, and one after the other.
#
#   win32-tests.sh [--per-program] [CTEST ARG]...
#
# --per-program: each GoogleTest program runs once with all its cases (one wine process instead
# of one per case, which is what costs under emulation), and CTest runs the other tests. A
# program passes when it ends with 0, reports as many passed cases as CTest lists for it, and
# none failed or skipped.
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1
per_program=0
if [ "${1:-}" = --per-program ]; then
  per_program=1
  shift
fi

# wine takes absolute prefixes only.
cmake/wine-run.sh "$PWD/build/win32/wineprefix" &
tests=$!
cmake/wine-run.sh "$PWD/build/win32/standin-wineprefix" &
standin=$!
wait $tests
wait $standin
[ $per_program = 1 ] || exec ctest --preset win32 "$@"

# The listing runs every program's test list, as any CTest run does, and writes the lists.
listing=$(ctest --preset win32 -N) || { echo "$listing"; exit 1; }
root=$PWD failed=0 gtest_names=$(mktemp) others_log=$(mktemp)
trap 'rm -f "$gtest_names" "$others_log"' EXIT
lists=()
mapfile -t found < <(find build/win32 -name '*_tests.cmake')
for list in "${found[@]}"; do
  names=$(sed -n 's/^add_test(\[=\[\(.*\)\]=\] .*/\1/p' "$list")
  # A list left from a program this tree no longer has is not in the listing.
  [ -n "$names" ] && grep -qF ": $(head -n 1 <<<"$names")" <<<"$listing" || continue
  echo "$names" >>"$gtest_names"
  lists+=("$list")
done
[ -s "$gtest_names" ] || { echo "FAILED: no test program was listed"; exit 1; }

# The other tests (the test bed's, in a prefix of their own), by number, beside the programs.
others=$(awk -v names="$gtest_names" 'BEGIN { while ((getline n < names) > 0) g[n] = 1 }
  /^  Test +#[0-9]+: / { n = $2; sub(/#/, "", n); sub(/:$/, "", n); name = $3
                         if (!(name in g)) printf ",%s", n }' <<<"$listing")
others_pid=
if [ -n "$others" ]; then
  ctest --preset win32 -I "0,0,0$others" "$@" >"$others_log" 2>&1 &
  others_pid=$!
fi

for list in "${lists[@]}"; do
  # add_test([=[NAME]=]  WINE-RUN PREFIX PROGRAM [==[--gtest_filter=...]==] ...)
  names=$(sed -n 's/^add_test(\[=\[\(.*\)\]=\] .*/\1/p' "$list")
  program=$(awk '/^add_test\(/ {print $4; exit}' "$list")
  dir=$(sed -n 's/.* WORKING_DIRECTORY \([^ ]*\) .*/\1/p' "$list" | head -n 1)
  cases=$(wc -l <<<"$names")
  start=$SECONDS
  out=$(cd "${dir:-.}" && "$root/cmake/wine-run.sh" "$root/build/win32/wineprefix" "$program" \
          --gtest_also_run_disabled_tests 2>&1)
  code=$?
  passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' <<<"$out")
  if [ $code -ne 0 ] || [ "${passed:-0}" != "$cases" ] || grep -q '^\[  \(FAILED\|SKIPPED\) \]' <<<"$out"; then
    echo "$out"
    echo "FAILED: $(basename "$program"): exit code $code, ${passed:-no} of $cases cases passed"
    failed=1
  else
    echo "Passed: $(basename "$program"): $cases cases in one run, $((SECONDS - start)) s"
  fi
done
if [ -n "$others_pid" ]; then
  wait "$others_pid" || failed=1
  cat "$others_log"
  # A test bed that could not run (exit 77) is a failure here, never a quiet pass.
  if grep -qE '\*\*\*Skipped|\(Skipped\)$' "$others_log"; then
    echo "FAILED: a test was skipped"
    failed=1
  fi
fi
exit $failed
