#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test under ctest:
# the native tree (the Linux HID backend under umockdev included, also with
# failing system calls on the board's hidraw nodes), the HID
# layer, the loader client and the simulated board again under
# ThreadSanitizer, the whole native tree under AddressSanitizer and
# UndefinedBehaviorSanitizer with each fuzz target run for 30 s, and the
# plain layers cross-built for Windows with mingw-w64 and run under Wine;
# and what is shipped: the Debian package built, checked, installed, run and
# purged, and the Windows zip unpacked and run.
set -euo pipefail
cd "$(dirname "$0")/.."
# Each stage's time, for the closing summary: "timed NAME" after a stage
# ends names what ran since the last one.
times_file=$(mktemp)
stage_began=$SECONDS
run_began=$SECONDS
timed() {
  local took=$((SECONDS - stage_began))
  printf '  %-44s %3dm %02ds\n' "$1" $((took / 60)) $((took % 60)) >>"$times_file"
  stage_began=$SECONDS
}
bash scripts/setup.sh
timed "set-up (Debian packages)"

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
# Every run prints its summary; the script fails at the end if one failed,
# and closes with the count over all runs.
status=0
summaries=$(mktemp)
labelled=$(mktemp)  # runs named in the closing summary
run_ctest() {
  local rc=0
  ctest "$@" 2>&1 | tee -a "$summaries" || rc=1
  return $rc
}

cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVA_WERROR=ON
cmake --build build/test -j "$jobs"
timed "native build"
run_ctest --test-dir build/test --output-on-failure -j "$jobs" || status=1
timed "native tests"

# The Debian package: built in a tree configured for installation, checked
# by lintian and the validators, installed, run, and purged
# (scripts/package-check.sh; it needs build/test's make_demo_images).
package_start=$SECONDS
if ! bash scripts/package-check.sh >build/package-check.log 2>&1; then
  tail -n 40 build/package-check.log
  status=1
fi
package_result=$(grep '^Package: ' build/package-check.log | tail -1 || echo "Package: FAILED (see build/package-check.log)")
echo "$package_result in $((SECONDS - package_start)) s" | tee -a "$labelled"
timed "package: build, check, install, run, purge"

# HID device access under ThreadSanitizer: the worker's check-out and
# check-in against the main thread's passes, reads against unplugs; and the
# loader client and image flasher against the simulated board, whose
# answers and returns come from its own timer thread. (The update workflow
# itself runs in Qt's event loop; Debian's Qt is not built for
# ThreadSanitizer, so its tests stay out of this run.)
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVA_WERROR=ON \
  -DKESTROVA_GUI=OFF -DKESTROVA_ONLY="common;hid;sim;bsl" \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread"
cmake --build build/tsan -j "$jobs"
timed "ThreadSanitizer build"
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/hid/tsan.supp" \
  run_ctest --test-dir build/tsan --output-on-failure -j "$jobs" || status=1
timed "ThreadSanitizer tests"

# ---- AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzz targets ----
# The whole native tree once more but for the benchmarks and tools (no test
# runs them), built by clang with ASan and UBSan and leak checking at exit;
# the same build holds the libFuzzer targets.
# fuzzer-no-link: coverage for the fuzz targets; the tests ignore it.
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVA_WERROR=ON \
  -DKESTROVA_ONLY="common;settings;hid;sim;bsl;update;cli;log;resources;app;station;runner;wine;fuzz;soak" \
  -DCMAKE_CXX_COMPILER=clang++ -DKESTROVA_FUZZ=ON \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined"
cmake --build build/asan -j "$jobs"
timed "ASan+UBSan build (with the fuzz targets)"
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
run_ctest --test-dir build/asan --output-on-failure -j "$jobs" || status=1
echo "ASan+UBSan: $(grep -E 'tests passed, [0-9]+ tests? failed' "$summaries" | tail -1)" >>"$labelled"
timed "ASan+UBSan tests"

# Each fuzz target for 30 s from its seeds, the corpus it grows kept in the
# build tree for the next run, two at a time (a fuzzer keeps to one core);
# then the RTF corpus read back by unrtf too.
fuzz() {
  local target=$1 corpus="build/asan/fuzz-corpus/$1"
  mkdir -p "$corpus"
  local options=(-max_total_time=30 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
                 -artifact_prefix="build/asan/$target-")
  if [ -f "tests/fuzz/$target.dict" ]; then options+=(-dict="tests/fuzz/$target.dict"); fi
  "build/asan/tests/fuzz/$target" "${options[@]}" "$corpus" "tests/fuzz/corpus/$target" \
    >"build/asan/$target.log" 2>&1
}
for pair in "fuzz_settings fuzz_titxt" "fuzz_descriptor fuzz_rtf"; do
  read -r first second <<<"$pair"
  fuzz "$first" & first_pid=$!
  fuzz "$second" & second_pid=$!
  first_failed=0; second_failed=0
  wait "$first_pid" || first_failed=1
  wait "$second_pid" || second_failed=1
  for result in "$first $first_failed" "$second $second_failed"; do
    read -r target failed <<<"$result"
    fuzz_log="build/asan/$target.log"
    if [ "$failed" = 0 ]; then
      runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$fuzz_log")
      echo "Fuzz $target: passed, $runs runs in 30 s" | tee -a "$labelled"
    else
      tail -n 40 "$fuzz_log"
      echo "Fuzz $target: FAILED (input and trace in $fuzz_log)" | tee -a "$labelled"
      status=1
    fi
  done
done
if KESTROVA_FUZZ_UNRTF=1 build/asan/tests/fuzz/fuzz_rtf -runs=0 -artifact_prefix=build/asan/fuzz_rtf-unrtf- \
     build/asan/fuzz-corpus/fuzz_rtf \
     tests/fuzz/corpus/fuzz_rtf >build/asan/fuzz_rtf_unrtf.log 2>&1; then
  echo "Fuzz fuzz_rtf corpus through unrtf: passed" | tee -a "$labelled"
else
  tail -n 40 build/asan/fuzz_rtf_unrtf.log
  echo "Fuzz fuzz_rtf corpus through unrtf: FAILED" | tee -a "$labelled"
  status=1
fi
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
timed "fuzz targets (4 x 30 s, two at a time; unrtf)"
# ---- end of the sanitizer and fuzz runs ----

# Windows: GoogleTest from Debian's sources, then the device layers, the
# update engine, kestrova-flash and the window's own system code, run under
# Wine in a private prefix: the pauses and which way they go, the HID
# layer's tests, the station's files (the lock of the copy that runs, the
# application folder, the crash handler and bugreport.txt), the thread
# runner, kestrova-flash's tests, and a complete update by
# kestrova-flash.exe on the simulated bus compared byte for byte with the
# images. The Windows backend's tests on Wine's HID bus and one more
# complete update run in front of the simulated board on a umockdev hidraw
# node (tests/wine). The pause benchmark is built to be run by hand.
toolchain="$PWD/cmake/mingw-w64.cmake"
gtest_prefix="$PWD/build/mingw-gtest/install"
if [ ! -f "$gtest_prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B build/mingw-gtest/build -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$gtest_prefix"
  cmake --build build/mingw-gtest/build -j "$jobs"
  cmake --install build/mingw-gtest/build
fi
timed "Windows: GoogleTest for mingw-w64 (once)"
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
timed "Windows: the Wine prefix (once)"
cmake -S . -B build/mingw -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVA_WERROR=ON \
  -DKESTROVA_GUI=OFF -DKESTROVA_ONLY="common;settings;hid;sim;bsl;update;cli;log;runner;wine;bench" \
  -DKESTROVA_TEST_ONLY="common;settings;hid;sim;cli;runner;wine" \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DGTest_DIR="$gtest_prefix/lib/cmake/GTest" \
  -DKESTROVA_WINE_BOARD="$PWD/build/test/tests/wine/wine_hid_board"
cmake --build build/mingw -j "$jobs"
timed "Windows: mingw-w64 build"
run_ctest --test-dir build/mingw --output-on-failure || status=1
timed "Windows: tests under Wine"
# The Windows zip, unpacked and run as a bench would.
if (cd build/mingw && cpack -G ZIP >/dev/null) && bash scripts/windows-zip-check.sh build/mingw; then
  echo "Windows zip: passed" | tee -a "$labelled"
else
  echo "Windows zip: FAILED" | tee -a "$labelled"
  status=1
fi
# Leave no Wine server behind.
WINEPREFIX="$KESTROVA_WINEPREFIX" /usr/lib/wine/wineserver -k || true
timed "Windows: the zip unpacked and run"

echo "Stage times:"
cat "$times_file"
total=$((SECONDS - run_began))
printf '  %-44s %3dm %02ds\n' "the whole run" $((total / 60)) $((total % 60))
cat "$labelled"
# "N% tests passed, F tests failed out of T" of every run, added up; each
# fuzz run, the package check and the Windows zip count as one test each.
awk 'FILENAME == ARGV[1] && /tests passed, [0-9]+ tests? failed out of/ { failed += $4; total += $NF }
     /^(Fuzz .*|Package|Windows zip): passed/ { total += 1 }
     /^(Fuzz .*|Package|Windows zip): FAILED/ { total += 1; failed += 1 }
     END { printf "Total: %d passed, %d failed\n", total - failed, failed }' "$summaries" "$labelled"
rm -f "$summaries" "$labelled" "$times_file"
exit "$status"
