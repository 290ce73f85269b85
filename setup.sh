#!/usr/bin/env bash
# Installs what the build and the tests need (Debian 12 packages), then builds every
# plug-in, test and tool into build/.
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev
  ffmpeg
  clang libclang-rt-14-dev libomp-dev llvm  # fuzzing and ThreadSanitizer builds of test.sh
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
$sudo apt-get update
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${packages[@]}"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)"
echo "Plug-ins built into $(pwd)/build/plugins:"
ls build/plugins
