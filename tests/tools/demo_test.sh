#!/bin/bash
# tools/demo.sh with a stand-in cmake: the build's progress and every error reach stderr, a
# failed build ends the script with an error, and a good one starts omr72-sim with the
# arguments given.   demo_test.sh SOURCE_DIR WORK
set -euo pipefail
source=$1 work=$2
rm -rf "$work"
mkdir -p "$work/bin"
fail() { echo "FAIL: $*"; exit 1; }

# The stand-in: configure says nothing; the build prints progress, then fails when
# DEMO_BUILD_FAILS is set, else leaves an omr72-sim that shows its arguments.
cat >"$work/bin/cmake" <<'STANDIN'
#!/bin/bash
[ "$1" = "--build" ] || exit "${DEMO_CONFIGURE_FAILS:-0}"
echo "[1/2] Building CXX object tools/sim/main.cpp.o"
if [ -n "${DEMO_BUILD_FAILS:-}" ]; then
  echo "main.cpp:1:1: error: expected unqualified-id"
  exit 1
fi
mkdir -p "$2/tools/sim"
printf '#!/bin/sh\necho "omr72-sim $*"\n' >"$2/tools/sim/omr72-sim"
chmod +x "$2/tools/sim/omr72-sim"
echo "[2/2] Linking CXX executable tools/sim/omr72-sim"
STANDIN
chmod +x "$work/bin/cmake"
run() { PATH="$work/bin:$PATH" OMR72_DEMO_BUILD="$work/build" "$source/tools/demo.sh" "$@" \
          >"$work/out" 2>"$work/err"; }

DEMO_BUILD_FAILS=1 run && fail "a failed build went on"
grep -q "error: expected unqualified-id" "$work/err" || fail "the compiler's error was not shown"
grep -q "\[1/2\] Building" "$work/err" || fail "no build progress shown"
grep -q "demo: the build failed" "$work/err" || fail "no word that the build failed"
[ ! -s "$work/out" ] || fail "stdout is not the updater's alone"

DEMO_CONFIGURE_FAILS=1 run && fail "a failed configure went on"
grep -q "demo: configuring failed" "$work/err" || fail "no word that configuring failed"

run --route usb || fail "a good build did not run omr72-sim"
[ "$(cat "$work/out")" = "omr72-sim --route usb" ] || fail "stdout: $(cat "$work/out")"
grep -q "\[2/2\] Linking" "$work/err" || fail "no build progress shown"
echo "demo.sh shows its build and its errors"
