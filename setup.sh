#!/usr/bin/env bash
# Installs what the build and the tests need (Debian 12 packages), then builds every
# plug-in, test and tool into build/.
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev
  ffmpeg
  # The frei0r modules: the API header, and the tools their tests run them in.
  frei0r-plugins-dev gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-bad melt
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
$sudo apt-get update
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${packages[@]}"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)"
echo "Plug-ins built into $(pwd)/build/plugins:"
ls build/plugins
echo "frei0r modules built into $(pwd)/build/frei0r-1:"
ls build/frei0r-1
