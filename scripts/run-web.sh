#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Installs what is missing, builds the page (the web preset, with emscripten) and serves
# build/web/site on this machine only, printing the address to open in a browser. Ctrl+C
# stops it. The folder is static files: any web server can serve it (see the README).
# Usage: scripts/run-web.sh [PORT]   (8000 by default)
set -euo pipefail
# --help prints the comment above and stops before building or running anything.
if [[ ${1:-} == -h || ${1:-} == --help ]]; then sed -n '4,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; fi
cd "$(dirname "$0")/.."
port=${1:-8000}
scripts/install-deps.sh web
cmake --preset web >/dev/null
cmake --build --preset web --target dotloom_site
echo "Dotloom: http://127.0.0.1:$port/"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory build/web/site
