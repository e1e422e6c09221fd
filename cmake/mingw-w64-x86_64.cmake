# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Cross build for 64-bit Windows with Debian's MinGW-w64 (the posix thread model, which
# std::thread and std::mutex need). Programs link statically, so no DLL travels beside
# dotloom.exe, and the test programs run under Wine through scripts/wine-run.sh.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(DOTLOOM_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${DOTLOOM_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DOTLOOM_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${DOTLOOM_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${DOTLOOM_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libstdc++, libgcc and winpthread go into every program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# One Wine prefix per build folder, made on first use (see scripts/wine-run.sh).
get_filename_component(DOTLOOM_SOURCE_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${DOTLOOM_SOURCE_ROOT}/scripts/wine-run.sh;--prefix;${CMAKE_BINARY_DIR}/wineprefix")
