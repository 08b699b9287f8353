#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test under ctest:
# the native tree (the Linux HID backend under umockdev included), the HID
# layer again under ThreadSanitizer, and the HID layer cross-built for
# Windows with mingw-w64 and run under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
# Every run prints its summary; the script fails at the end if one failed,
# and closes with the count over all runs.
status=0
summaries=$(mktemp)
run_ctest() {
  local rc=0
  ctest "$@" 2>&1 | tee -a "$summaries" || rc=1
  return $rc
}

cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVA_WERROR=ON
cmake --build build/test -j "$jobs"
run_ctest --test-dir build/test --output-on-failure -j "$jobs" || status=1

# HID device access under ThreadSanitizer: the worker's check-out and
# check-in against the main thread's passes, reads against unplugs.
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVA_WERROR=ON \
  -DKESTROVA_GUI=OFF -DKESTROVA_ONLY="hid;sim" \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread"
cmake --build build/tsan -j "$jobs"
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/hid/tsan.supp" \
  run_ctest --test-dir build/tsan --output-on-failure -j "$jobs" || status=1

# Windows: GoogleTest from Debian's sources, then the device layers, the
# update engine and kestrova-flash, run under Wine in a private prefix: the
# HID layer's tests, kestrova-flash's tests, and a complete update by
# kestrova-flash.exe on the simulated bus compared byte for byte with the images.
# The Windows backend's tests on Wine's HID bus and one more complete update
# run in front of the simulated board on a umockdev hidraw node (tests/wine).
toolchain="$PWD/cmake/mingw-w64.cmake"
gtest_prefix="$PWD/build/mingw-gtest/install"
if [ ! -f "$gtest_prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B build/mingw-gtest/build -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$gtest_prefix"
  cmake --build build/mingw-gtest/build -j "$jobs"
  cmake --install build/mingw-gtest/build
fi
export KESTROVA_WINEPREFIX="$PWD/build/wineprefix"
if [ ! -f "$KESTROVA_WINEPREFIX/system.reg" ]; then
  WINEPREFIX="$KESTROVA_WINEPREFIX" WINEDEBUG=-all /usr/lib/wine/wine64 wineboot -i
  # Windows without a display: the hidden notification window still works.
  WINEPREFIX="$KESTROVA_WINEPREFIX" WINEDEBUG=-all /usr/lib/wine/wine64 \
    reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
fi
# Wine's HID bus starts its udev backend (hidraw nodes, here the board on
# umockdev) only when its SDL backend is switched off.
if ! grep -qs '^"Enable SDL"=dword:00000000' "$KESTROVA_WINEPREFIX/system.reg"; then
  WINEPREFIX="$KESTROVA_WINEPREFIX" WINEDEBUG=-all /usr/lib/wine/wine64 \
    reg add 'HKLM\System\CurrentControlSet\Services\winebus' /v 'Enable SDL' /t REG_DWORD /d 0 /f
  WINEPREFIX="$KESTROVA_WINEPREFIX" /usr/lib/wine/wineserver -w
fi
cmake -S . -B build/mingw -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVA_WERROR=ON \
  -DKESTROVA_GUI=OFF -DKESTROVA_ONLY="hid;sim;bsl;update;cli;wine" -DKESTROVA_TEST_ONLY="hid;sim;cli;wine" \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DGTest_DIR="$gtest_prefix/lib/cmake/GTest" \
  -DKESTROVA_WINE_BOARD="$PWD/build/test/tests/wine/wine_hid_board"
cmake --build build/mingw -j "$jobs"
run_ctest --test-dir build/mingw --output-on-failure || status=1
# Leave no Wine server behind.
WINEPREFIX="$KESTROVA_WINEPREFIX" /usr/lib/wine/wineserver -k || true

# "N% tests passed, F tests failed out of T" of every run, added up.
awk '/tests passed, [0-9]+ tests? failed out of/ { failed += $4; total += $NF }
     END { printf "Total: %d passed, %d failed\n", total - failed, failed }' "$summaries"
rm -f "$summaries"
exit "$status"
