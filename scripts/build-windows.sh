#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Builds dotloom.exe for 64-bit Windows on Debian/Ubuntu: installs the MinGW-w64 compiler and
# Wine where they are missing, cross-builds with the `windows` preset, and packs
# dotloom.exe, README.md and LICENSE into a .zip with CPack.
#
#   scripts/build-windows.sh           build build/windows/dotloom-<version>-windows-x86_64.zip
#   scripts/build-windows.sh --test    then run the Windows tests under Wine as well
#   scripts/build-windows.sh --help    this text
#
# dotloom.exe is one statically linked file that needs only DLLs Windows ships.
set -euo pipefail

usage() { sed -n '4,12s/^# \{0,1\}//p' "$0"; }

run_tests=0
for argument in "$@"; do
  case "$argument" in
    -h | --help) usage; exit 0 ;;
    --test) run_tests=1 ;;
    *) usage >&2; exit 2 ;;
  esac
done

# What ships: the three files, and a program under 1 MiB that imports only DLLs Windows has.
check_package() {
  local zip=$1 listing size dll
  listing=$(python3 -c 'import sys, zipfile
print("\n".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$zip")
  if [[ "$listing" != $'LICENSE\nREADME.md\ndotloom.exe' ]]; then
    echo "unexpected files in $zip:" >&2
    echo "$listing" >&2
    return 1
  fi
  unpacked=$(mktemp -d)
  trap 'rm -rf "$unpacked"' EXIT
  python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extract("dotloom.exe", sys.argv[2])' \
    "$zip" "$unpacked"
  size=$(stat -c %s "$unpacked/dotloom.exe")
  if (( size >= 1048576 )); then
    echo "dotloom.exe is $size bytes, over 1 MiB" >&2
    return 1
  fi
  while read -r dll; do
    case "${dll,,}" in
      advapi32.dll | comctl32.dll | comdlg32.dll | dwmapi.dll | gdi32.dll | kernel32.dll) ;;
      msvcrt.dll | ole32.dll | oleaut32.dll | shcore.dll | shell32.dll | shlwapi.dll) ;;
      user32.dll | uxtheme.dll | version.dll | windowscodecs.dll | api-ms-win-*) ;;
      *)
        echo "dotloom.exe needs $dll, which Windows does not ship" >&2
        return 1
        ;;
    esac
  done < <(x86_64-w64-mingw32-objdump -p "$unpacked/dotloom.exe" | sed -n 's/^\s*DLL Name: //p')
}

cd "$(dirname "$0")/.."
scripts/install-deps.sh windows
cmake --preset windows >/dev/null
if [[ $run_tests -eq 1 ]]; then
  cmake --build --preset windows
  ctest --preset windows
else
  cmake --build --preset windows --target dotloom
fi
(cd build/windows && cpack -G ZIP >/dev/null)
zip=$(ls -1 "$PWD"/build/windows/dotloom-*-windows-x86_64.zip)
check_package "$zip"
echo "$zip"
