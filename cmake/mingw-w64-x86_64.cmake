# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix threads
# flavour, which std::thread needs): g++-mingw-w64-x86-64-posix.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(nx_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${nx_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${nx_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${nx_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${nx_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every .exe runs on its own: the compiler's runtime (libgcc, libstdc++,
# winpthread) is linked in rather than shipped as DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests of the Windows build run under Wine on the build machine.
find_program(NX_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(NX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${NX_WINE})
endif()

# Header-only libraries come from the host's packages.
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/host-headers/nlohmann_json)
