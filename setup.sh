#!/usr/bin/env bash
# Installs what the build and the tests need (Debian 12 packages), then builds every
# plug-in, test and tool into build/.
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev
  ffmpeg
  # The 32-bit Windows DLLs: cross compiler, googletest sources for the Windows tests,
  # wine to run them, and qemu-i386 for machines whose kernel cannot start 32-bit
  # programs (tests/windows/wine_env.sh).
  g++-mingw-w64-i686-posix googletest wine wine32:i386 qemu-user-static
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${packages[@]}"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)"
echo "Plug-ins built into $(pwd)/build/plugins:"
ls build/plugins

cmake -S . -B build-win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
cmake --build build-win32 -j "$(nproc)"
echo "32-bit Windows plug-ins built into $(pwd)/build-win32/plugins:"
ls build-win32/plugins
