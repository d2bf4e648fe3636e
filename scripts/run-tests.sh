#!/usr/bin/env bash
# The whole test suite from a fresh checkout: packages, a normal build with
# every test, then the engines again under AddressSanitizer and
# UndefinedBehaviorSanitizer. Any failure or sanitizer finding fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j"$jobs"
(cd build/release && ctest --output-on-failure -j"$jobs")

cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DFVX_SANITIZE=ON -DFVX_WITH_QT=OFF \
      -DFVX_BENCH=OFF
cmake --build build/asan -j"$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
(cd build/asan && ctest --output-on-failure -j"$jobs")

echo "All tests passed."
