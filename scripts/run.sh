#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Installs what is missing, builds a release build and starts Dotloom. Needs a graphical
# session; without one: xvfb-run -a scripts/run.sh
# Usage: scripts/run.sh [QT_OPTION...]   (Dotloom reads only the options every Qt program takes)
set -euo pipefail
# --help prints the comment above and stops before building or running anything.
if [[ ${1:-} == -h || ${1:-} == --help ]]; then sed -n '4,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; fi
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
cmake --preset release >/dev/null
cmake --build --preset release
# Without a display Qt aborts with a bare "could not connect to display"; say what to do.
if [[ -z ${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-} ]]; then
  echo "Dotloom needs a graphical session (DISPLAY or WAYLAND_DISPLAY). Without one, try:" >&2
  echo "  xvfb-run -a scripts/run.sh" >&2
  exit 1
fi
exec build/release/app/qt/dotloom "$@"
