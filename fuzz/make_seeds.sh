#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Writes the fuzz seed corpora with the seed tool of a fuzz build.
# Usage: fuzz/make_seeds.sh BUILD_DIR OUT_DIR
set -euo pipefail
# --help prints the comment above and stops before building or running anything.
if [[ ${1:-} == -h || ${1:-} == --help ]]; then sed -n '4,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; fi
build=${1:-build/fuzz}
out=${2:-$build/seeds}
rm -rf "$out"
"$build/fuzz/fuzz_make_seeds" "$out"
