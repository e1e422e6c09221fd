#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Builds the bench preset and runs every benchmark, printing medians beside their floors.
#
#   bench/run.sh [REPETITIONS]     (default 9; each repetition is a full Google Benchmark run)
#
# The machine should be otherwise idle; where it is not, compare ratios taken in one run
# rather than absolute times, and prefer the processor-time column of the start-up table.
set -euo pipefail
# --help prints the comment above and stops before building or running anything.
if [[ ${1:-} == -h || ${1:-} == --help ]]; then sed -n '4,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; fi
cd "$(dirname "$0")/.."
repetitions=${1:-9}
scripts/install-deps.sh test
cmake --preset bench >/dev/null
cmake --build --preset bench --target dotloom dotloom_bench_codec dotloom_bench_commands \
  dotloom_bench_large_bmp dotloom_bmp_peak dotloom_floor_window dotloom_startup_probe
build=build/bench
if [[ -z ${XDG_RUNTIME_DIR:-} ]]; then
  XDG_RUNTIME_DIR=$(mktemp -d)  # Qt wants one; made private and removed at the end
  trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
  export XDG_RUNTIME_DIR
fi
medians=(--benchmark_repetitions="$repetitions" --benchmark_enable_random_interleaving=true
  --benchmark_report_aggregates_only=true)

echo "== codec and canvas in memory"
"$build/bench/dotloom_bench_codec" "${medians[@]}"
echo "== commands with the dialog answered, and the window's repaints"
"$build/bench/dotloom_bench_commands" "${medians[@]}"
echo "== large BMP files"
BENCH_REPETITIONS=$(( repetitions < 5 ? repetitions : 5 )) bench/large_bmp.sh "$build" 3
echo "== start-up"
bench/startup.sh "$build" 15
