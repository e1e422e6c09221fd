#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# File > Open on 24-bit BMP files of 100^2 to 8000^2 pixels: peak memory, one process per
# measurement, then time through Google Benchmark.
#
#   bench/large_bmp.sh [BUILD_DIR] [RUNS]      (defaults: build/bench, 3)
#
# Peak memory is ru_maxrss of dotloom_bmp_peak: "open" runs the command, "none" is the same
# process without it (the baseline), "qt" is Qt's decoder alone on the whole picture, "rows"
# reads and decodes only the 52 rows that can be shown. The extra memory of Open is
# open - none; the target compares it with the file's size.
#
# Then sparse files, where memory and time must not follow the file's size: 2 x 2 pictures
# whose pixels lie 512 MiB and 2 GiB into the file, and an RLE8 picture whose end of bitmap
# comes before a 512 MiB tail; the Open time is measured inside the process.
set -euo pipefail
# --help prints the comment above and stops before building or running anything.
if [[ ${1:-} == -h || ${1:-} == --help ]]; then sed -n '4,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; fi
cd "$(dirname "$0")/.."
build=${1:-build/bench}
runs=${2:-3}
driver=$build/bench/dotloom_bmp_peak
[[ -x $driver ]] || { echo "missing $driver: cmake --preset bench && cmake --build --preset bench" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

median() { sort -n | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
peak() {  # mode file -> median KiB over $runs processes; fails when the picture did not open
  for _ in $(seq "$runs"); do
    line=$("$driver" "$1" "$2")
    [[ $1 == none || $line == *opened=1* ]] || { echo "did not open: $2 ($1)" >&2; }
    kib=${line#peak_kib=}; echo "${kib%% *}"
  done | median
}

echo "peak RSS in KiB, median of $runs processes each"
printf '%-6s %11s %8s %8s %8s %8s %10s %7s\n' side "file KiB" none open qt rows open-none /file
for side in 100 1000 4000 8000; do
  file=$work/$side.bmp
  bytes=$("$driver" make "$file" "$side")
  none=$(peak none "$file"); open=$(peak open "$file"); qt=$(peak qt "$file")
  rows=$(peak rows "$file")
  awk -v s="$side" -v b="$bytes" -v n="$none" -v o="$open" -v q="$qt" -v r="$rows" 'BEGIN {
    printf "%-6s %11d %8d %8d %8d %8d %10d %7.3f\n", s, b / 1024, n, o, q, r, o - n, (o - n) * 1024 / b }'
  rm -f "$file"
done

echo
echo "sparse files: median of $runs processes each"
printf '%-22s %9s %9s %9s %10s\n' file "file MiB" "Open ms" "open KiB" "open-none"
for sparse in "gap 536870912" "gap 2147483648" "tail 536870912"; do
  read -r kind bytes <<<"$sparse"
  file=$work/$kind-$bytes.bmp
  "$driver" "make-$kind" "$file" "$bytes"
  none=$(peak none "$file")
  lines=$(for _ in $(seq "$runs"); do "$driver" open "$file"; done)
  grep -q 'opened=0' <<<"$lines" && echo "did not open: $file" >&2
  ms=$(sed -n 's/.*ms=\([0-9.]*\).*/\1/p' <<<"$lines" | median)
  open=$(sed -n 's/peak_kib=\([0-9]*\).*/\1/p' <<<"$lines" | median)
  awk -v f="$kind $bytes" -v s="$(stat -c %s "$file")" -v m="$ms" -v o="$open" -v n="$none" \
    'BEGIN { printf "%-22s %9.0f %9.3f %9d %10d\n", f, s / 1048576, m, o, o - n }'
  rm -f "$file"
done

echo
"$build/bench/dotloom_bench_large_bmp" --benchmark_repetitions="${BENCH_REPETITIONS:-5}" \
  --benchmark_report_aggregates_only=true
