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
cd "$(dirname "$0")/.."
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

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=:$(head -n1 "$work/display")
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

for i in $(seq "$runs"); do
  if (( i % 2 )); then
    measure dotloom "$dotloom"; measure floor "$floor"
  else
    measure floor "$floor"; measure dotloom "$dotloom"
  fi
done

median() {  # column file
  sort -n -k"$1" "$2" | awk -v c="$1" '{v[NR]=$c} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'
}
d_ms=$(median 1 "$work/dotloom"); f_ms=$(median 1 "$work/floor")
d_cpu=$(median 2 "$work/dotloom"); f_cpu=$(median 2 "$work/floor")
echo
printf '%-28s %10s %10s %7s\n' "median of $runs" dotloom.exe floor ratio
printf '%-28s %10.2f %10.2f %7.3f\n' "launch to viewable (ms)" "$d_ms" "$f_ms" "$(awk -v a="$d_ms" -v b="$f_ms" 'BEGIN{print a/b}')"
printf '%-28s %10.2f %10.2f %7.3f\n' "processor time by then (ms)" "$d_cpu" "$f_cpu" "$(awk -v a="$d_cpu" -v b="$f_cpu" 'BEGIN{print a/b}')"
