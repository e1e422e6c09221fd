#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Writes the fuzz seed corpora with the seed tool of a fuzz build.
# Usage: fuzz/make_seeds.sh BUILD_DIR OUT_DIR
set -euo pipefail
build=${1:-build/fuzz}
out=${2:-$build/seeds}
rm -rf "$out"
"$build/fuzz/fuzz_make_seeds" "$out"
