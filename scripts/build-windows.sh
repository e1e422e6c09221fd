#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Builds dotloom.exe for 64-bit Windows on Debian/Ubuntu: installs the MinGW-w64 compiler,
# NSIS and Wine where they are missing, cross-builds with the `windows` preset, and packs the
# download with CPack into build/windows/:
#   dotloom-<version>-windows-x86_64.zip        dotloom-<version>/ with dotloom.exe, README.txt
#                                               and LICENSE.txt
#   dotloom-<version>-windows-x86_64-setup.exe  the per-user installer
#   SHA256SUMS                                  for both
# then checks them with tests/e2e/check_windows_package.py.
#
#   scripts/build-windows.sh           build, pack and check
#   scripts/build-windows.sh --test    first run the Windows tests under Wine as well
#   scripts/build-windows.sh --help    this text
#
# dotloom.exe is one statically linked file that needs only DLLs Windows ships.
set -euo pipefail

usage() { sed -n '4,17s/^# \{0,1\}//p' "$0"; }

run_tests=0
for argument in "$@"; do
  case "$argument" in
    -h | --help) usage; exit 0 ;;
    --test) run_tests=1 ;;
    *) usage >&2; exit 2 ;;
  esac
done

cd "$(dirname "$0")/.."
scripts/install-deps.sh windows
cmake --preset windows >/dev/null
if [[ $run_tests -eq 1 ]]; then
  cmake --build --preset windows
  ctest --preset windows
else
  cmake --build --preset windows --target dotloom
fi
(cd build/windows && cpack >/dev/null)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows/CMakeCache.txt)
tests/e2e/check_windows_package.py build/windows "$version"
ls -1 "$PWD"/build/windows/SHA256SUMS "$PWD"/build/windows/dotloom-"$version"-windows-x86_64*
