#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Every script and test program (an executable file in scripts/, packaging/, bench/, fuzz/ or
# tests/ ending in .sh or .py) answers --help with its usage and exit status 0, and stops
# there. Each runs with a PATH that holds sed alone, so that one which goes on instead fails
# at its next command rather than installing or building anything. Files without the
# executable bit are sourced or imported by the others.
#   check_scripts_help.sh SOURCE_DIR
set -euo pipefail
[[ $# -eq 1 && $1 != -* ]] || { sed -n '4,10s/^# \{0,1\}//p' "$0"; [[ ${1:-} == -h || ${1:-} == --help ]]; exit; }
source=$(cd "$1" && pwd)
tools=$(mktemp -d)
trap 'rm -rf "$tools"' EXIT
ln -s "$(command -v sed)" "$tools/sed"
shopt -s globstar nullglob
scripts=("$source"/{scripts,packaging,bench,fuzz,tests}/**/*.{sh,py})
[[ ${#scripts[@]} -gt 0 ]] || { echo "no scripts under $1" >&2; exit 1; }
failed=0
for script in "${scripts[@]}"; do
  [[ -x $script ]] || continue
  # Debian's Python, which has the modules the test programs import.
  run=("$BASH")
  [[ $script != *.py ]] || run=(/usr/bin/python3)
  # From an empty folder, so that one which writes where it stands leaves its output there.
  if ! text=$(cd "$tools" && env -i PATH="$tools" "${run[@]}" "$script" --help 2>&1) ||
    [[ -z $text ]]; then
    echo "FAILED: ${script#"$source"/} --help: $text" >&2
    failed=1
  fi
done
[[ $(ls -A "$tools") == sed ]] || { echo "FAILED: --help left $(ls -A "$tools")" >&2; failed=1; }
exit "$failed"
