#!/bin/sh
# The win32 tree's tests: `ctest --preset win32` with its arguments, after making the tree's two
# wine prefixes side by side. Made on first use instead, each would be made inside a test's
# time: on a slow machine (i386-guest's emulated one takes minutes) past the test list's
# time-out, and one after the other.
cd "$(dirname "$0")/../.." || exit 1
# wine takes absolute prefixes only.
cmake/wine-run.sh "$PWD/build/win32/wineprefix" &
tests=$!
cmake/wine-run.sh "$PWD/build/win32/standin-wineprefix" &
standin=$!
wait $tests
wait $standin
exec ctest --preset win32 "$@"
