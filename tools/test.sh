#!/bin/bash
# Builds everything and runs every test: Linux (plain and under AddressSanitizer with
# UndefinedBehaviorSanitizer), the 32-bit Windows release build with its export-table check,
# and the 64-bit Windows build whose tests run under wine64. The steps are the `all` workflow
# preset (CMakePresets.json); `cmake --workflow --preset linux` and so on run one of them.
# OMR72_JOBS (default 2) sets how many compilers and tests run at once.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/bootstrap.sh

export CMAKE_BUILD_PARALLEL_LEVEL=${OMR72_JOBS:-2} CTEST_PARALLEL_LEVEL=${OMR72_JOBS:-2}
# Here a skipped test (a test bed, memcheck or package test missing what it needs) is a failure.
export OMR72_NO_SKIPS=1
cmake --workflow --preset all

# Packages (kept a separate step): the .deb and the Windows zip, and the payloads the Windows
# builds carry checked against their sources.
printf '\n== %s\n' "Packages"
tools/package.sh
