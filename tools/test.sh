#!/bin/bash
# Builds everything and runs every test: Linux (plain and under AddressSanitizer with
# UndefinedBehaviorSanitizer), the 32-bit Windows release build with its export-table check,
# and the 64-bit Windows build whose tests run under wine64.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/bootstrap.sh

jobs=${OMR72_JOBS:-2}
step() { printf '\n== %s\n' "$*"; }

step "Linux"
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"

step "Linux, AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

step "32-bit Windows (release target)"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"

step "64-bit Windows under wine64"
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j "$jobs"
# One quiet wine prefix inside the build tree, made once before the tests use it.
export WINEPREFIX="$PWD/build/win64/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || wineboot --init >/dev/null 2>&1 || true
wineserver -w || true
ctest --preset win64 -j "$jobs"

# Packages (kept a separate step): the .deb and the Windows zip, and the payloads the Windows
# builds carry checked against their sources.
step "Packages"
tools/package.sh
