#!/usr/bin/env bash
# The whole test suite: the unit and form tests in a normal build and again in an
# AddressSanitizer + UndefinedBehaviorSanitizer build. Headless.
set -euo pipefail
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" -LE e2e

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSOUNDER_SANITIZE=ON -DSOUNDER_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" -LE e2e
