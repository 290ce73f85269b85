# Cross-compiles the plug-ins as 32-bit Windows DLLs with Debian's mingw-w64 i686
# compiler (posix thread model, package g++-mingw-w64-i686-posix):
#
#   cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
#   cmake --build build-win32 -j2
#
# The DLLs land in build-win32/plugins/. Tests run under wine (CMAKE_CROSSCOMPILING_EMULATOR).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(QEL_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${QEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QEL_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${QEL_MINGW_PREFIX}-objdump CACHE FILEPATH "objdump for PE files")

set(CMAKE_FIND_ROOT_PATH /usr/${QEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under wine; QEL_WINE names the launcher (a wrapper may set the
# prefix and debug channels).
set(QEL_WINE "${CMAKE_CURRENT_LIST_DIR}/../tests/windows/run_wine.sh" CACHE FILEPATH
    "Runs Windows test programs (environment: tests/windows/wine_env.sh)")
set(CMAKE_CROSSCOMPILING_EMULATOR ${QEL_WINE})
