#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Installs the Debian packages Dotloom needs to build, run and test, when any is missing.
# Uses sudo when not run as root.
#
#   install-deps.sh            everything: the Linux build, its tests, and the Windows build
#   install-deps.sh windows    only what building dotloom.exe and its tests needs
set -euo pipefail
# --help prints the comment above and stops before building or running anything.
if [[ ${1:-} == -h || ${1:-} == --help ]]; then sed -n '4,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; fi

windows_packages=(
  cmake ninja-build
  # MinGW-w64 with posix threads, GoogleTest's sources for it, and Wine (64-bit only) to
  # run the Windows tests; NSIS for the installer.
  g++-mingw-w64-x86-64-posix googletest wine64 wine util-linux mount python3 nsis
  # dotloom.exe end to end: its own X server, keys, screenshots; Wine's fonts, whose Marlett
  # draws the caption buttons.
  xvfb xauth xdotool imagemagick fonts-wine
)

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev
  xvfb xauth xdotool x11-utils imagemagick
  python3 libx11-6 dpkg-dev file desktop-file-utils
  clang libclang-rt-dev valgrind util-linux
  libbenchmark-dev libxcb1-dev time
  lintian appstream man-db qt6-translations-l10n
  "${windows_packages[@]}"
)
case "${1:-}" in
  "") ;;
  windows) packages=("${windows_packages[@]}") ;;
  *) sed -n '4,9s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  "${missing[@]}"
