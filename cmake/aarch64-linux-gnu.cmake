# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Cross build for 64-bit Arm Linux (Raspberry Pi OS and other arm64 Debian kin) with Debian's
# cross compiler and the arm64 Qt installed beside the machine's own (multiarch). Debian
# keeps arm64 libraries in /usr/lib/aarch64-linux-gnu, so the root to search is / itself and
# the library architecture picks the arm64 folders.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER ${CMAKE_LIBRARY_ARCHITECTURE}-gcc)
set(CMAKE_CXX_COMPILER ${CMAKE_LIBRARY_ARCHITECTURE}-g++)
set(PKG_CONFIG_EXECUTABLE ${CMAKE_LIBRARY_ARCHITECTURE}-pkg-config)

set(CMAKE_FIND_ROOT_PATH /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt's build tools (moc, uic, rcc) need nothing here: Debian's arm64 Qt names
# /usr/lib/qt6/libexec, where the machine's own qt6-base-dev-tools keeps them.

# Test programs and GoogleTest's listing of them run under qemu-user.
find_program(DOTLOOM_QEMU_AARCH64 qemu-aarch64-static)
if(DOTLOOM_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DOTLOOM_QEMU_AARCH64})
endif()
