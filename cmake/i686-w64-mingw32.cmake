# Cross build for 32-bit Windows with Debian's mingw-w64 (posix threads):
#   cmake -S . -B build/win32 -G Ninja --toolchain cmake/i686-w64-mingw32.cmake
# Test programs run under Wine through CMAKE_CROSSCOMPILING_EMULATOR, with a
# Wine prefix inside the build tree so that runs start clean and separate
# build trees never share one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(VYN_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VYN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VYN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VYN_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${VYN_MINGW_TRIPLET}-objdump)

# Libraries and headers come from the cross root (and from the prefixes the
# build makes for itself), never from the Linux system.
set(CMAKE_FIND_ROOT_PATH /usr/${VYN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# WINEDEBUG=-all keeps test output clean; the two overrides stop the first
# start from offering to install the .NET and HTML runtimes.
set(VYN_WINEPREFIX ${CMAKE_BINARY_DIR}/wine)
set(CMAKE_CROSSCOMPILING_EMULATOR
  /usr/bin/env WINEDEBUG=-all WINEPREFIX=${VYN_WINEPREFIX} WINEDLLOVERRIDES=mscoree,mshtml= wine)
