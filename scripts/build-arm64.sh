#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Builds Dotloom for 64-bit Arm Linux (Raspberry Pi OS, Debian and Ubuntu on arm64) on an
# x86-64 Debian machine: installs the cross compiler, the arm64 Qt and qemu where they are
# missing (install-deps.sh arm64), cross-builds the arm64-release preset and packs
#   build/arm64-release/dotloom_<version>_arm64.deb
# checked as the x86-64 one is (tests/e2e/check_package.sh: contents, reproducible bytes,
# lintian). Then it builds arm64-dev and runs its tests under qemu-user, and starts the arm64
# program under Xvfb through qemu beside the x86-64 release build: both windows, at scale 1
# and 2 with a Bitfile open, must be the same pixels.
#
#   scripts/build-arm64.sh              build, pack, check, test and compare
#   scripts/build-arm64.sh --no-test    only build, pack and check the .deb
#   scripts/build-arm64.sh --help       this text
set -euo pipefail

usage() { sed -n '4,15s/^# \{0,1\}//p' "$0"; }

run_tests=1
for argument in "$@"; do
  case "$argument" in
    -h | --help) usage; exit 0 ;;
    --no-test) run_tests=0 ;;
    *) usage >&2; exit 2 ;;
  esac
done

cd "$(dirname "$0")/.."
scripts/install-deps.sh arm64
jobs=(-j "$(nproc)")

cmake --preset arm64-release >/dev/null
nice cmake --build --preset arm64-release "${jobs[@]}"
(cd build/arm64-release && cpack -G DEB >/dev/null)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/arm64-release/CMakeCache.txt)
deb=build/arm64-release/dotloom_${version}_arm64.deb
[[ $(dpkg-deb -f "$deb" Architecture) == arm64 ]] || { echo "$deb is not for arm64" >&2; exit 1; }
tests/e2e/check_package.sh build/arm64-release
[[ $run_tests -eq 1 ]] || { ls -1 "$PWD/$deb"; exit 0; }

cmake --preset arm64-dev >/dev/null
nice cmake --build --preset arm64-dev "${jobs[@]}"
status=0
ctest --preset arm64-dev "${jobs[@]}" || status=$?
# ctest names skipped tests but not why; GoogleTest's reason is the line after "Skipped".
grep -A1 ': Skipped$' build/arm64-dev/Testing/Temporary/LastTest.log | grep -v -e '^--$' \
  -e ': Skipped$' | sort | uniq -c | sed 's/^ */skipped: /' || true
[[ $status -eq 0 ]] || exit "$status"

# The same window from both builds of the release: the arm64 program under qemu against the
# machine's own, each under its own Xvfb with the same Bitfile open.
cmake --preset release >/dev/null
nice cmake --build --preset release "${jobs[@]}" --target dotloom
# The tests measure the window against the sizes window/ gives, printed by a test program of
# each machine's own.
cmake --preset dev >/dev/null
nice cmake --build --preset dev "${jobs[@]}" --target dotloom_window_sizes
shots=build/arm64-release/window
mkdir -p "$shots"
qemu=$(command -v qemu-aarch64-static)
for scale in 1 2; do
  tests/e2e/dotloom_e2e.py build/release/app/qt/dotloom --scale "$scale" \
    --window-sizes build/dev/tests/e2e/dotloom_window_sizes \
    --screenshot "$shots/amd64-scale$scale.png" >/dev/null
  tests/e2e/dotloom_e2e.py build/arm64-release/app/qt/dotloom --scale "$scale" \
    --emulator "$qemu" --window-sizes build/arm64-dev/tests/e2e/dotloom_window_sizes \
    --screenshot "$shots/arm64-scale$scale.png" >/dev/null
  differing=$(compare -metric AE "$shots/amd64-scale$scale.png" "$shots/arm64-scale$scale.png" \
    null: 2>&1) || true
  size=$(identify -format '%w x %h' "$shots/arm64-scale$scale.png")
  if [[ $differing != 0 ]]; then
    echo "FAILED: at scale $scale the arm64 window differs from the x86-64 one ($differing pixels)" >&2
    exit 1
  fi
  echo "scale $scale: the arm64 window ($size) is the x86-64 one, pixel for pixel"
done
ls -1 "$PWD/$deb"
