#!/usr/bin/env bash
# Runs every test: the suite on an optimised build, then again on an AddressSanitizer +
# UndefinedBehaviorSanitizer build (which also catches leaks).
set -euo pipefail
cd "$(dirname "$0")"
jobs="$(nproc)"

echo "== optimised build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" -LE gem

echo "== Gem for Pure Data: a third-party host runs every plug-in (under Xvfb)"
ctest --test-dir build --output-on-failure -j "$jobs" -L gem

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQEL_SANITIZE=ON \
  -DQEL_BUILD_BENCH=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== all tests passed"
