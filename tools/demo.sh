#!/bin/bash
# Builds omr72-sim and runs the firmware updater against an emulated recorder. Arguments go to
# omr72-sim (see tools/demo.sh --help); with none, a recorder on the disk route that needs a
# boot-loader upgrade. Answer the prompts with Y, L and Y.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/bootstrap.sh --linux
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DOMR72_BUILD_TESTS=OFF >/dev/null
cmake --build build/demo --target omr72-sim -j "${OMR72_JOBS:-2}" >/dev/null
exec build/demo/tools/sim/omr72-sim "$@"
