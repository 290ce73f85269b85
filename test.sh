#!/usr/bin/env bash
# Runs every test: the suite on an optimised build, then again on an AddressSanitizer +
# UndefinedBehaviorSanitizer build (which also catches leaks); the 32-bit Windows DLLs'
# suite under wine; then each effect family's fuzz target for a bounded time, the
# host-threads test under ThreadSanitizer and a long soak of every deliverable.
#   QEL_FUZZ_SECONDS  seconds of fuzzing per family (default 60)
#   QEL_SOAK_FRAMES   frames per soak instance (default 4000)
set -euo pipefail
cd "$(dirname "$0")"
jobs="$(nproc)"
fuzz_seconds="${QEL_FUZZ_SECONDS:-60}"
soak_frames="${QEL_SOAK_FRAMES:-4000}"
clang_build=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang
             -DCMAKE_CXX_COMPILER=clang++ -DQEL_BUILD_BENCH=OFF)

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

echo "== fuzzing: libFuzzer + ASan + UBSan, ${fuzz_seconds} s per effect family, seed 1"
cmake -S . -B build-fuzz "${clang_build[@]}" -DQEL_FUZZ=ON -DQEL_BUILD_TESTS=OFF
cmake --build build-fuzz -j "$jobs"
mkdir -p build-fuzz/artifacts
for family in particles inferno stains; do
  # A fresh scratch corpus each run, grown from the committed seeds and the inputs of past
  # findings (fuzz/regressions, replayed first under clang's sanitizers): the same seed then
  # replays the same first inputs. Crashing inputs land in build-fuzz/artifacts.
  scratch="build-fuzz/corpus-$family"
  rm -rf "$scratch" && mkdir -p "$scratch"
  log="build-fuzz/fuzz-$family.log"
  if ! OMP_NUM_THREADS=2 LSAN_OPTIONS=use_tls=0:suppressions=fuzz/lsan.supp \
      "build-fuzz/fuzz/fuzz_$family" -seed=1 -max_total_time="$fuzz_seconds" \
      -timeout=20 -close_fd_mask=2 -print_final_stats=1 \
      -artifact_prefix="build-fuzz/artifacts/$family-" "$scratch" "fuzz/corpus/$family" "fuzz/regressions/$family" >"$log" 2>&1; then
    tail -n 80 "$log"
    echo "fuzz_$family broke a host rule; replay: build-fuzz/fuzz/fuzz_$family build-fuzz/artifacts/$family-*"
    exit 1
  fi
  echo "fuzz_$family: $(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1)"
done

echo "== ThreadSanitizer: host threads on every deliverable, OpenMP from libomp with Archer"
cmake -S . -B build-tsan "${clang_build[@]}" -DQEL_TSAN=ON
cmake --build build-tsan -j "$jobs" --target robust_threads_tests
ctest --test-dir build-tsan -R '^robust_threads$' --output-on-failure

echo "== soak: ${soak_frames} frames per instance, every deliverable"
QEL_SOAK_FRAMES="$soak_frames" ctest --test-dir build -R 'Soak\.' --output-on-failure -j "$jobs"

echo "== all tests passed"
