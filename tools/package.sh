#!/bin/bash
# The packages, after tools/test.sh has built build/linux and build/win32: the .deb and the
# Windows zip into build/packages. Then the payloads that the Windows builds, and the zip's
# executable, carry are checked byte for byte against the payloads they were built from.
set -euo pipefail
cd "$(dirname "$0")/.."

rm -rf build/packages
cpack --config build/linux/CPackConfig.cmake -B build/packages >/dev/null
cpack --config build/win32/CPackConfig.cmake -B build/packages >/dev/null

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/win32/CMakeCache.txt)
zip=build/packages/omr72-updater-$version-win32.zip
top=omr72-updater-$version-win32
listed=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
wanted=$(printf '%s\n' "$top/LICENSE" "$top/OMR72_FW_Updater.exe" "$top/README.md" \
  "$top/omr72-probe.exe" "$top/omr72-winusb.inf" "$top/q71.h" | sort)
if [ "$listed" != "$wanted" ]; then
  printf 'the zip holds:\n%s\n' "$listed" >&2
  exit 1
fi
rm -rf build/packages/zip-check
unzip -q "$zip" -d build/packages/zip-check
build/linux/tools/image/omr72-image extract "build/packages/zip-check/$top/OMR72_FW_Updater.exe" \
  build/packages/zip-check/payloads >/dev/null
payloads=$(cat build/win32/omr72-payload-dir.txt)
for name in FWC BRC BRC20; do
  cmp "$payloads/$name.bin" "build/packages/zip-check/payloads/$name.bin"
done
rm -rf build/packages/zip-check

OMR72_REQUIRE_WINDOWS_BUILDS=1 ctest --preset default \
  -R '^(omr72_windows_payloads|omr72_deb_maker_payloads)$'
# The .deb passes lintian without errors; its warnings are listed.
lintian --tag-display-limit 0 build/packages/omr72-updater_*.deb || {
  echo "lintian found errors in the .deb" >&2
  exit 1
}
ls build/packages
