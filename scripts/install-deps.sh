#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Installs the Debian packages of one profile, when any is missing. Uses sudo when not run
# as root.
#
#   install-deps.sh run        building and running Dotloom: compiler, CMake, Ninja, Qt
#                              (what scripts/run.sh installs)
#   install-deps.sh test       the whole test bench: run's packages, the tests' tools, the
#                              fuzzers, benchmarks, the Windows build and the page
#                              (scripts/test.sh); the default
#   install-deps.sh windows    only what building dotloom.exe and its tests needs
#   install-deps.sh arm64      only what build-arm64.sh needs: the arm64 cross build, its
#                              package check, and its tests under qemu
#   install-deps.sh web        only what the page needs: run-web.sh, its tests under node and
#                              in headless Chromium
set -euo pipefail
# --help prints the comment above and stops before building or running anything.
if [[ ${1:-} == -h || ${1:-} == --help ]]; then sed -n '4,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; fi

windows_packages=(
  cmake ninja-build
  # MinGW-w64 with posix threads, GoogleTest's sources for it, and Wine (64-bit only) to
  # run the Windows tests; NSIS for the installer.
  g++-mingw-w64-x86-64-posix googletest wine64 wine util-linux mount python3 nsis
  # dotloom.exe end to end: its own X server, keys, screenshots; Wine's fonts, whose Marlett
  # draws the caption buttons. The scripts read pictures with Pillow, talk X with python-xlib
  # and read the program file with pefile.
  xvfb xauth xdotool imagemagick fonts-wine python3-pil python3-xlib python3-pefile
)

# arm64 (Raspberry Pi OS and other arm64 Debian kin), cross-built: Debian's cross compiler,
# the arm64 Qt beside the machine's own (multiarch), GoogleTest's sources, qemu to run the
# arm64 tests; the package check's tools, and the machine's own Qt and the end-to-end tools
# to compare the arm64 program's window with the x86-64 one. Never part of the default.
arm64_packages=(
  cmake ninja-build crossbuild-essential-arm64 qt6-base-dev:arm64 pkgconf:arm64 googletest
  qemu-user-static g++ qt6-base-dev qt6-base-dev-tools libgl-dev python3 util-linux
  dpkg-dev file lintian appstream man-db desktop-file-utils
  xvfb xauth xdotool x11-utils imagemagick python3-pil python3-xlib
)

# The page: Debian's emscripten (with its node), GoogleTest's sources for the tests under
# node, and headless Chromium driven by Debian's selenium, with Pillow to read the screen.
web_packages=(
  cmake ninja-build emscripten nodejs googletest python3
  chromium chromium-driver python3-selenium python3-pil
)

# Building and running the Qt program, nothing else: no test tool, no cross compiler.
run_packages=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libgl-dev)

test_packages=(
  "${run_packages[@]}" pkg-config
  libgtest-dev libgmock-dev
  xvfb xauth xdotool x11-utils imagemagick
  python3 libx11-6 dpkg-dev file desktop-file-utils
  clang libclang-rt-dev valgrind util-linux
  libbenchmark-dev libxcb1-dev time
  lintian appstream man-db qt6-translations-l10n
  # The end-to-end test on Wayland: Qt's Wayland platform, a headless compositor, its
  # screenshots and keys.
  qt6-wayland sway grim wtype
  # Saves on a real FAT file system, mounted through FUSE.
  fusefat fuse3 dosfstools
  "${windows_packages[@]}"
  "${web_packages[@]}"
)
case "${1:-test}" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${test_packages[@]}") ;;
  windows) packages=("${windows_packages[@]}") ;;
  arm64) packages=("${arm64_packages[@]}") ;;
  web) packages=("${web_packages[@]}") ;;
  *) sed -n '4,/^[^#]/s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
esac

# A name without an architecture means the machine's own (or "all"): with arm64 packages
# installed beside, dpkg-query lists both.
native=$(dpkg --print-architecture)
missing=()
for package in "${packages[@]}"; do
  arch=$native
  [[ $package != *:* ]] || arch=${package#*:}
  status=$(dpkg-query -W -f='${Architecture} ${Status}\n' "$package" 2>/dev/null || true)
  grep -Eqx "($arch|all) install ok installed" <<<"$status" || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
# Packages of another architecture need dpkg to take that architecture first.
if [[ " ${missing[*]}" == *:arm64* ]] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
  "${sudo[@]}" dpkg --add-architecture arm64
fi
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  "${missing[@]}"
