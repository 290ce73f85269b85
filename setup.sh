#!/usr/bin/env bash
# Installs what the build and the tests need (Debian 12 packages), builds every plug-in,
# test and tool into build/, then runs the main job: qelfx renders a short clip of every
# effect over its built-in picture and the gallery of all of them, into out/.
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev
  ffmpeg libpng-dev
  # The frei0r modules: the API header, and the tools their tests run them in.
  frei0r-plugins-dev gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-bad melt
  # Gem for Pure Data, the third-party host of the integration test, headless under Xvfb
  gem gem-plugin-tiff puredata-core xvfb xauth libgl1-mesa-dri
  clang libclang-rt-14-dev libomp-dev llvm  # fuzzing and ThreadSanitizer builds of test.sh
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
echo "frei0r modules built into $(pwd)/build/frei0r-1:"
ls build/frei0r-1

cmake -S . -B build-win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
cmake --build build-win32 -j "$(nproc)"
echo "32-bit Windows plug-ins built into $(pwd)/build-win32/plugins:"
ls build-win32/plugins

echo "== qelfx: every effect over the built-in picture, into out/"
mkdir -p out
for library in build/plugins/*.so; do
  name="$(basename "$library" .so)"
  build/bin/qelfx render "$name" -o "out/$name.mp4"
  echo "out/$name.mp4"
done
build/bin/qelfx gallery -o out/gallery.png
echo "out/gallery.png"
