#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Builds the fuzz preset (clang, libFuzzer, address and undefined-behaviour sanitizers) and
# runs each fuzz target for SECONDS (default 60) from fresh seeds plus what earlier runs
# found. A finding stops the run with the fuzzer's report and a reproducer in build/fuzz.
# Usage: fuzz/run.sh [SECONDS]
set -euo pipefail
# --help prints the comment above and stops before building or running anything.
if [[ ${1:-} == -h || ${1:-} == --help ]]; then sed -n '4,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; fi
cd "$(dirname "$0")/.."
seconds=${1:-60}
[[ "$seconds" -gt 0 ]] || exit 0

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
fuzz/make_seeds.sh build/fuzz build/fuzz/seeds >/dev/null

run() {
  local target=$1 seeds=$2 dict=$3 max_len=$4
  mkdir -p "build/fuzz/corpus/$target"
  echo "== fuzz_$target for ${seconds}s"
  local log="build/fuzz/$target.log" status=0
  "build/fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=3072 \
    -max_len="$max_len" -dict="fuzz/$dict" -print_final_stats=1 \
    -artifact_prefix="build/fuzz/finding-$target-" \
    "build/fuzz/corpus/$target" "build/fuzz/seeds/$seeds" >"$log" 2>&1 || status=$?
  if [[ $status -ne 0 ]]; then
    tail -n 60 "$log"
    return "$status"
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || true
}

run bitfile_read bitfile bitfile.dict 4096
run bmp_load bmp bmp.dict 16384
run open_command open bmp.dict 16384
echo "Fuzzing: 3 targets, ${seconds}s each, no finding"
