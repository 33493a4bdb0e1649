#!/usr/bin/env bash
# The whole test suite, headless:
#   1. the unit and form tests, and the end-to-end runs in real windows under Xvfb;
#   2. the unit and form tests again in an AddressSanitizer + UndefinedBehaviorSanitizer build;
#   3. the tests of the libraries' kernels in a portable build (no x86 intrinsics), whose plain
#      kernels must give the bits the tests hold;
#   4. each libFuzzer target for a short fixed run (clang).
# Any failure fails the run. FUZZ_SECONDS sets the length of each fuzz run (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-20}
started=$SECONDS
step() { printf '\n== %s (%ds so far)\n' "$1" $((SECONDS - started)); }

step "normal build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
step "unit, form and end-to-end tests"
ctest --test-dir build --output-on-failure -j "$jobs" -LE e2e
ctest --test-dir build --output-on-failure -L e2e --no-tests=error
step "Debian package: validate, install, run from /usr, remove"
tools/check_package.sh

step "sanitizer build"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSOUNDER_SANITIZE=ON -DSOUNDER_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
step "unit and form tests under ASan + UBSan"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" -LE e2e

step "portable build (no x86 intrinsics): the libraries' kernels and their tests"
cmake -S . -B build-portable -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSOUNDER_PORTABLE=ON -DSOUNDER_BENCH=OFF >/dev/null
cmake --build build-portable -j "$jobs" --target common_tests sounder_analysis_tests
(cd build-portable/tests/common && ./common_tests --gtest_brief=1)
(cd build-portable/tests/analysis && ./sounder_analysis_tests --gtest_brief=1)

step "fuzz targets"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSOUNDER_FUZZ=ON \
  -DSOUNDER_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$jobs" --target fuzz_recording_reader fuzz_gain_table fuzz_acquisition_reader \
  fuzz_recording_metadata fuzz_sigmf_archive fuzz_sim_channel fuzz_place_text fuzz_waterfall_reader fuzz_calibration
for target in recording_reader gain_table acquisition_reader recording_metadata sigmf_archive sim_channel place_text \
    waterfall_reader calibration; do
  corpus=build-fuzz/corpus-run-$target
  log=build-fuzz/fuzz_$target.log
  mkdir -p "$corpus"
  if ! build-fuzz/fuzz/fuzz_$target "$corpus" fuzz/corpus/$target -max_total_time="$fuzz_seconds" \
      -artifact_prefix=build-fuzz/ -print_final_stats=1 >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz_$target found a failing input (see build-fuzz/)"
    exit 1
  fi
  echo "fuzz_$target: $(grep -E 'stat::number_of_executed_units' "$log" | awk '{print $2}') executions in ${fuzz_seconds}s"
done
step "all passed"
