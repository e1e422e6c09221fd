#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Installs what is missing, builds the developer build (warnings are errors) and runs every
# test, then builds the same with the address and undefined-behaviour sanitizers and runs
# every test again under them (DOTLOOM_ASAN=0 skips that part).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev
# Each fuzz target for a minute first (DOTLOOM_FUZZ_SECONDS=0 skips this), so that the test
# summary is what the run ends with.
fuzz/run.sh "${DOTLOOM_FUZZ_SECONDS:-60}"
ctest --preset dev "$@"
if [[ "${DOTLOOM_ASAN:-1}" != 0 ]]; then
  cmake --preset asan >/dev/null
  cmake --build --preset asan
  ctest --preset asan "$@"
fi
