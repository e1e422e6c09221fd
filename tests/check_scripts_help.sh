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
# Debian's Python, which has the modules the test programs import.
python=/usr/bin/python3
failed=0
checked=0
while IFS= read -r -d '' script; do
  [[ -x $script ]] || continue
  case $script in
    *.py) run=("$python" "$script") ;;
    *) run=("$BASH" "$script") ;;
  esac
  # From an empty folder, so that one which writes where it stands leaves its output there.
  if ! text=$(cd "$tools" && env -i PATH="$tools" "${run[@]}" --help 2>&1) || [[ -z $text ]]; then
    echo "FAILED: ${script#"$source"/} --help: $text" >&2
    failed=1
  fi
  checked=$((checked + 1))
done < <(cd "$source" && find "$source"/{scripts,packaging,bench,fuzz,tests} -type f \
           \( -name '*.sh' -o -name '*.py' \) -print0)
[[ $checked -gt 0 ]] || { echo "no scripts under $1" >&2; exit 1; }
# An empty folder stays empty: --help wrote nothing.
if [[ -n $(ls -A "$tools" | grep -vx sed) ]]; then
  echo "FAILED: --help left $(ls -A "$tools" | grep -vx sed | tr '\n' ' ')behind" >&2
  failed=1
fi
exit "$failed"
