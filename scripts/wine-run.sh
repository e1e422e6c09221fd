#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Runs a Windows program under Wine in a Wine prefix of our own, never the user's ~/.wine.
#
#   wine-run.sh [--prefix DIR] PROGRAM.exe [ARGUMENTS...]
#
# With --prefix, DIR is made on first use and kept for later runs (the Windows build passes
# its build/windows/wineprefix, as making a prefix takes Wine a while); runs that start at
# once wait for the one that makes it, and without a program it is only made. Without
# --prefix, a fresh prefix is made in $TMPDIR and removed afterwards. Wine's debug output and
# its crash dialog are off, so a crashing test fails instead of waiting for a click; no
# display is needed for console programs. The prefix reports Windows 10 and maps no device of
# the machine. The program's exit status is returned.
set -euo pipefail

usage() { sed -n '4,14s/^# \{0,1\}//p' "$0"; }

prefix=""
case "${1:-}" in
  -h | --help) usage; exit 0 ;;
  --prefix) prefix="${2:?--prefix needs a folder}"; shift 2 ;;
  --prefix=*) prefix="${1#--prefix=}"; shift ;;
esac
scripts="$(cd "$(dirname "$0")" && pwd)"
[[ $# -ge 1 || -n $prefix ]] || { usage >&2; exit 2; }

export WINEDEBUG=-all
export WINEARCH=win64
# No offer to download Mono or Gecko while the prefix is made. Nor, where no Wayland display
# is named, Wine 10's Wayland driver, whose library prints an error at every start when it
# finds no XDG_RUNTIME_DIR.
export WINEDLLOVERRIDES="mscoree,mshtml="
[[ -n ${WAYLAND_DISPLAY:-} ]] || WINEDLLOVERRIDES+=";winewayland.drv=d"

# Wine's server puts a folder of its own in $TMPDIR each time it starts and leaves it there;
# those folders go beside the prefix instead (PREFIX.server), removed with it. (Not for a
# very long path: the server's socket path must stay within the system's limit. Nor from
# Wine 10 on: Debian 13's aborts with "free(): invalid pointer" whenever TMPDIR is set, so
# there Wine gets none and its folders stay in /tmp.)
wine_version="$(wine --version 2>/dev/null || true)"  # wine-10.0 (Debian 10.0~repack-6)
wine_major="${wine_version#wine-}"
wine_major="${wine_major%%.*}"
server_folder() {
  local folder="$1/$2.server"
  if [[ $wine_major =~ ^[0-9]+$ ]] && ((wine_major >= 10)); then
    unset TMPDIR
  elif [[ ${#folder} -le 60 ]]; then
    mkdir -p "$folder"
    export TMPDIR="$folder"
  fi
}

# Makes $WINEPREFIX ready: Wine's own set-up, then no crash dialog, Windows 10 and no device
# of the machine behind a port name (wine-devices.sh). A marker file says the set-up
# finished, so a prefix left half made by an interrupted run, or made before the ports were
# closed, is made again.
make_prefix() {
  [[ -f "$WINEPREFIX/.dotloom-ready-no-devices" ]] && return 0
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  server_folder "$(dirname "$WINEPREFIX")" "$(basename "$WINEPREFIX")"
  wineboot --init >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >/dev/null 2>&1
  # Windows 10, the oldest the program is built for, rather than Wine's default of 7.
  wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d win10 /f >/dev/null 2>&1
  # The registry reaches the disk when the server ends, which wine-devices.sh waits for.
  "$scripts/wine-devices.sh"
  touch "$WINEPREFIX/.dotloom-ready-no-devices"
}

if [[ -n "$prefix" ]]; then
  mkdir -p "$(dirname "$prefix")"
  export WINEPREFIX
  WINEPREFIX="$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")"
  (
    flock 9
    make_prefix
  ) 9>"$WINEPREFIX.lock"
  server_folder "$(dirname "$WINEPREFIX")" "$(basename "$WINEPREFIX")"
  [[ $# -ge 1 ]] || exit 0
  exec wine "$@"
fi

top="$(mktemp -d "${TMPDIR:-/tmp}/dotloom-wine-XXXXXX")"
export WINEPREFIX="$top/prefix"
# shellcheck disable=SC2317  # called by the trap
cleanup() {
  wineserver --kill >/dev/null 2>&1 || true
  rm -rf "$top"
}
trap cleanup EXIT
make_prefix
status=0
wine "$@" || status=$?
exit "$status"
