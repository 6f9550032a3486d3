#!/bin/bash
# The README's commands, run as a new user would type them (build/linux stands for this
# build): its transcript is what omr72-sim prints today, its C example compiles and reads the
# emulated recorder, and every command listed below is in the README word for word and works.
# Commands not run here are run by CI: tools/test.sh itself, tools/demo.sh (demo_test.sh), the
# cpack lines and `omr72-image extract` (tools/package.sh), the configure stop
# (payload_plausibility_test.cmake), cmake --install and the .deb (deb_install_test.sh).
#   readme_test.sh SOURCE_DIR BUILD_DIR WORK C_COMPILER [C_FLAGS]
# (the example is compiled with the build's compiler and flags, so that it can load a library
# built with sanitizers)
set -euo pipefail
source=$1 build=$2 work=$3 cc=$4 cflags=${5:-}
readme="$source/README.md"
rm -rf "$work"
mkdir -p "$work"
cd "$source"
fail() { echo "FAIL: $*"; exit 1; }

# command, then the exit code it must end with
commands=(
  "printf 'YLY' | build/linux/tools/sim/omr72-sim --latency none" 0
  "printf 'YLY' | build/linux/tools/sim/omr72-sim --route usb --trace /tmp/trace.txt" 0
  "build/linux/tools/probe/omr72-probe --emulated --route both" 0
  "build/linux/tools/probe/omr72-probe" 1
  "build/linux/tools/image/omr72-image info images/samples" 0
  "build/linux/pages/omr72-pages --emulated info" 0
  # Here without a terminal nor keys; on a terminal they are run by terminal_process_test.
  "build/linux/tools/sim/omr72-sim" 0
  "build/linux/tools/sim/omr72-sim --no-return" 0
)
for ((i = 0; i < ${#commands[@]}; i += 2)); do
  command=${commands[i]} wanted=${commands[i + 1]}
  grep -qF -- "$command" "$readme" || fail "the README no longer says: $command"
  rc=0
  bash -c "${command//build\/linux/$build}" >"$work/out" 2>&1 </dev/null || rc=$?
  [ "$rc" -eq "$wanted" ] || fail "$command: exit $rc, wanted $wanted: $(cat "$work/out")"
done

# The transcript: the indented lines after the command, up to the final prompt.
sed -n "/^    \$ printf 'YLY' | build\/linux\/tools\/sim\/omr72-sim --latency none$/,/^    Press any key to exit...$/p" \
  "$readme" | tail -n +2 | sed 's/^    //' >"$work/readme-transcript"
printf 'YLY' | "$build/tools/sim/omr72-sim" --latency none | tr -d '\r' >"$work/transcript"
[ -s "$work/readme-transcript" ] || fail "no transcript in the README"
diff "$work/readme-transcript" "$work/transcript" || fail "the README's transcript is not today's"

# The C example, compiled as the README says (with the build tree's header and library), run
# against the emulated recorder's library under the name libomr72.so, then against the real one.
sed -n '/^```c$/,/^```$/p' "$readme" | sed '1d;$d' >"$work/q71_example.c"
grep -qF "    cc q71_example.c -lomr72 -o q71_example" "$readme" || fail "no build command"
mkdir -p "$work/include" "$work/emulated"
cp scsilink/q71.h "$work/include/"
# shellcheck disable=SC2086  # the flags are words
(cd "$work" && "$cc" $cflags q71_example.c -Iinclude -L"$build/pages" -lomr72 -o q71_example) ||
  fail "the C example does not compile"
ln -s "$build/pages/libomr72-emulated.so" "$work/emulated/libomr72.so"
out=$(LD_LIBRARY_PATH="$work/emulated" "$work/q71_example") || fail "example on the emulated recorder"
[ "$out" = "page size 2048, firmware 1.5, first byte 0xFF" ] || fail "example printed: $out"
out=$(LD_LIBRARY_PATH="$build/pages" "$work/q71_example") && fail "the example found a recorder"
[ "$out" = "no recorder" ] || fail "example printed: $out"

# Updating a real recorder, step 3: a payload folder given, the notice names a copy of the
# samples as such (real payloads: no notice).
grep -qF -- "cmake --preset default -DOMR72_PAYLOAD_DIR=\$PWD/payloads" "$readme" || fail "step 3"
mkdir -p "$work/payloads"
cp images/samples/*.bin "$work/payloads/"
cmake -S . -B "$work/configure" -G Ninja -DOMR72_BUILD_TESTS=OFF \
  -DOMR72_PAYLOAD_DIR="$work/payloads" >"$work/configure.log" 2>&1 || fail "configure with payloads"
grep -q "holds copies of the SAMPLE payloads" "$work/configure.log" ||
  fail "a copy of the samples is not named as such"
rm -rf "$work/configure"
echo "the README's commands work"
