#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Start-up time and peak memory of Dotloom against a bare Qt window showing the same things.
#
#   bench/startup.sh [BUILD_DIR] [RUNS]      (defaults: build/bench, 15)
#
# Starts its own Xvfb, then launches the two programs alternately RUNS times each (which one
# goes first alternates too), each through dotloom_startup_probe: the time from just before
# exec to the window being viewable, the processor time the program had used by then (less
# disturbed by other load than the wall clock), and VmHWM half a second later. Prints each
# run and the medians with their ratios.
set -euo pipefail
# --help prints the comment above and stops before building or running anything.
if [[ ${1:-} == -h || ${1:-} == --help ]]; then sed -n '4,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; fi
cd "$(dirname "$0")/.."
source bench/startup_common.sh
build=${1:-build/bench}
runs=${2:-15}
settle_ms=500

probe=$build/bench/dotloom_startup_probe
dotloom=$build/app/qt/dotloom
floor=$build/bench/dotloom_floor_window
for program in "$probe" "$dotloom" "$floor"; do
  [[ -x $program ]] || { echo "missing $program: cmake --preset bench && cmake --build --preset bench" >&2; exit 1; }
done

work=$(mktemp -d)
xvfb_pid=
cleanup() {
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

start_xvfb
export QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset SESSION_MANAGER

measure() {  # name program -> appends "ms cpu_ms kib" to $work/name
  local line ms cpu kib
  line=$("$probe" Dotloom "$settle_ms" "$2")
  ms=${line#viewable_ms=}; ms=${ms%% *}
  cpu=${line#*cpu_ms=}; cpu=${cpu%% *}
  kib=${line##*vmhwm_kib=}
  echo "$ms $cpu $kib" >>"$work/$1"
  printf '%-8s %9s ms %9s ms cpu %8s KiB\n' "$1" "$ms" "$cpu" "$kib"
}

# One run of each, not counted, so that both start from a warm page cache.
"$probe" Dotloom "$settle_ms" "$dotloom" >/dev/null
"$probe" Dotloom "$settle_ms" "$floor" >/dev/null

run_alternately "$runs"
echo
printf '%-28s %10s %10s %7s\n' "median of $runs" dotloom floor ratio
ratio_row "launch to viewable (ms)" 1 '%10.2f'
ratio_row "processor time by then (ms)" 2 '%10.2f'
ratio_row "peak RSS, VmHWM (KiB)" 3 '%10.0f'
