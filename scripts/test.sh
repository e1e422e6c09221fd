#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Installs what is missing, builds the developer build (warnings are errors) and runs every
# test, then builds the same with the address and undefined-behaviour sanitizers and runs
# every test again under them (DOTLOOM_ASAN=0 skips that part); then cross-builds for Windows
# and runs the Windows tests under Wine (DOTLOOM_WINDOWS=0 leaves that out); last builds the
# page with emscripten and runs its tests under node and in headless Chromium (DOTLOOM_WEB=0
# leaves that out). ctest runs two tests at once where the test preset says so (-j N sets
# another number); each end-to-end test has its own X server or compositor and Wine prefix.
# Usage: scripts/test.sh [CTEST_OPTION...]   (for example -R gui; DOTLOOM_FUZZ_SECONDS=0 skips fuzzing)
set -euo pipefail
# --help prints the comment above and stops before building or running anything.
if [[ ${1:-} == -h || ${1:-} == --help ]]; then sed -n '4,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; fi
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
cmake --preset dev >/dev/null
cmake --build --preset dev
# The package as it ships: the hardened release build, with lintian, appstreamcli and
# desktop-file-validate.
cmake --preset release >/dev/null
cmake --build --preset release
tests/e2e/check_package.sh build/release
# Each fuzz target for a minute first (DOTLOOM_FUZZ_SECONDS=0 skips this), so that the test
# summary is what the run ends with.
fuzz/run.sh "${DOTLOOM_FUZZ_SECONDS:-60}"
ctest --preset dev "$@"
if [[ "${DOTLOOM_ASAN:-1}" != 0 ]]; then
  cmake --preset asan >/dev/null
  cmake --build --preset asan
  ctest --preset asan "$@"
fi
if [[ "${DOTLOOM_WINDOWS:-1}" != 0 ]]; then
  # The first build makes the Wine prefix in build/windows/wineprefix, which takes a while.
  cmake --preset windows >/dev/null
  cmake --build --preset windows
  ctest --preset windows "$@"
fi
if [[ "${DOTLOOM_WEB:-1}" != 0 ]]; then
  cmake --preset web >/dev/null
  cmake --build --preset web
  ctest --preset web "$@"
fi
