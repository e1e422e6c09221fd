#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Installs what is missing, builds the developer build (warnings are errors) and runs every
# test; then cross-builds for Windows and runs the Windows tests under Wine
# (DOTLOOM_WINDOWS=0 leaves the Windows build out). Arguments go to both ctest runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev
# Each fuzz target for a minute first (DOTLOOM_FUZZ_SECONDS=0 skips this), so that the test
# summary is what the run ends with.
fuzz/run.sh "${DOTLOOM_FUZZ_SECONDS:-60}"
ctest --preset dev "$@"
if [[ "${DOTLOOM_WINDOWS:-1}" != 0 ]]; then
  # The first build makes the Wine prefix in build/windows/wineprefix, which takes a while.
  cmake --preset windows >/dev/null
  cmake --build --preset windows
  ctest --preset windows "$@"
fi
