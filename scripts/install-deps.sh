#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Installs the Debian packages Dotloom needs to build, run and test, when any is missing.
# Uses sudo when not run as root.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev
  xvfb xauth xdotool x11-utils imagemagick
  python3 libx11-6 dpkg-dev file desktop-file-utils
  clang libclang-rt-14-dev valgrind util-linux
  libbenchmark-dev libxcb1-dev time
  # The Windows build: MinGW-w64 with posix threads, GoogleTest's sources for it, and Wine
  # (64-bit only) to run its tests.
  g++-mingw-w64-x86-64-posix googletest wine64 wine
  # Wine's own fonts: the caption buttons of Windows windows are drawn with its Marlett.
  fonts-wine
)

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
