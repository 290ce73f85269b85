#!/usr/bin/env bash
# Runs every test: the suite on an optimised build, then again on an AddressSanitizer +
# UndefinedBehaviorSanitizer build (which also catches leaks), then the 32-bit Windows
# DLLs' suite under wine.
set -euo pipefail
cd "$(dirname "$0")"
jobs="$(nproc)"

echo "== optimised build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQEL_SANITIZE=ON \
  -DQEL_BUILD_BENCH=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== 32-bit Windows DLLs, tests under wine"
# The Linux build's frame_crcs gives the lines that the DLLs must reproduce.
cmake -S . -B build-win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DQEL_NATIVE_FRAME_CRCS="$PWD/build/tests/crossplatform/frame_crcs"
cmake --build build-win32 -j "$jobs"
source tests/windows/wine_env.sh
wine_work="$(mktemp -d)"
trap 'qel_wine_stop; rm -rf "$wine_work"' EXIT
qel_wine_start "$wine_work"
ctest --test-dir build-win32 --output-on-failure -j "$jobs"
qel_wine_stop
rm -rf "$wine_work"
trap - EXIT

echo "== all tests passed"
