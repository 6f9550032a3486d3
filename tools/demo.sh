#!/bin/bash
# Builds omr72-sim and runs the firmware updater against an emulated recorder. Arguments go to
# omr72-sim (see tools/demo.sh --help); with none, a recorder on the disk route that needs a
# boot-loader upgrade. Answer the prompts with Y, L and Y.
# The build's progress and any error go to stderr; stdout is the updater's alone.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${OMR72_DEMO_BUILD:-build/demo}
say() { printf 'demo: %s\n' "$*" >&2; }

tools/bootstrap.sh --linux >&2
say "configuring $build"
mkdir -p "$build"
if ! cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOMR72_BUILD_TESTS=OFF \
     >"$build/configure.log" 2>&1; then
  cat "$build/configure.log" >&2
  say "configuring failed (the messages above are also in $build/configure.log)"
  exit 1
fi
say "building omr72-sim (the first build takes a minute or two)"
if ! cmake --build "$build" --target omr72-sim -j "${OMR72_JOBS:-2}" >&2; then
  say "the build failed; the compiler's messages are above"
  exit 1
fi
say "starting omr72-sim"
exec "$build/tools/sim/omr72-sim" "$@"
