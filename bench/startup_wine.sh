#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Start-up time under Wine of dotloom.exe against a bare Win32 window showing the same things
# (bench/floor_window_win32.cpp: caption, File menu, sunken child window, same resources).
#
#   bench/startup_wine.sh [LINUX_BUILD] [WINDOWS_BUILD] [RUNS]
#        (defaults: build/bench, build/windows-bench, 15)
#
# Needs the Linux probe (cmake --preset bench && cmake --build --preset bench --target
# dotloom_startup_probe) and the Windows programs (cmake --preset windows-bench &&
# cmake --build --preset windows-bench). Starts its own Xvfb and a private Wine prefix whose
# wineserver stays up for the whole run, so that each launch pays for the program and not
# for Wine's server. The two programs are launched alternately RUNS times each (which one goes
# first alternates too), each through dotloom_startup_probe: the time from just before exec
# of wine to the window being viewable, and the processor time used by then. Prints each run
# and the medians with their ratios.
set -euo pipefail
# --help prints the comment above and stops before building or running anything.
if [[ ${1:-} == -h || ${1:-} == --help ]]; then sed -n '4,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; fi
cd "$(dirname "$0")/.."
source bench/startup_common.sh
linux_build=${1:-build/bench}
windows_build=${2:-build/windows-bench}
runs=${3:-15}
settle_ms=200

probe=$linux_build/bench/dotloom_startup_probe
dotloom=$windows_build/app/win32/dotloom.exe
floor=$windows_build/bench/dotloom_floor_window.exe
for program in "$probe" "$dotloom" "$floor"; do
  [[ -e $program ]] || { echo "missing $program (see the comment at the top of $0)" >&2; exit 1; }
done

work=$(mktemp -d)
xvfb_pid=
cleanup() {
  WINEPREFIX=$work/prefix wineserver --kill 2>/dev/null || true
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

start_xvfb
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
export HOME=$work
wineboot --init >/dev/null 2>&1
cat >"$work/settings.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
REG
wine regedit /S "Z:${work//\//\\}\\settings.reg"
scripts/wine-devices.sh
# A server of its own that outlives every program, started once the set-up's server is gone.
wineserver --wait
wineserver --persistent

measure() {  # name program -> appends "ms cpu_ms" to $work/name
  local line ms cpu
  line=$("$probe" Dotloom "$settle_ms" wine "$2")
  ms=${line#viewable_ms=}; ms=${ms%% *}
  cpu=${line#*cpu_ms=}; cpu=${cpu%% *}
  echo "$ms $cpu" >>"$work/$1"
  printf '%-8s %9s ms %9s ms cpu\n' "$1" "$ms" "$cpu"
  # The probe ends wine's own process; the Windows side may linger a moment longer.
  sleep 0.3
}

# One run of each, not counted, so that both start from a warm page cache.
"$probe" Dotloom "$settle_ms" wine "$dotloom" >/dev/null
"$probe" Dotloom "$settle_ms" wine "$floor" >/dev/null

run_alternately "$runs"
echo
printf '%-28s %10s %10s %7s\n' "median of $runs" dotloom.exe floor ratio
ratio_row "launch to viewable (ms)" 1 '%10.2f'
ratio_row "processor time by then (ms)" 2 '%10.2f'
