#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Every script in scripts/ answers --help with its comment and stops there. Each runs with a
# PATH that holds sed alone, so that one which goes on instead fails at its next command
# rather than installing or building anything.
#   check_scripts_help.sh SOURCE_DIR
set -euo pipefail
[[ $# -eq 1 ]] || { sed -n '4,7s/^# \{0,1\}//p' "$0" >&2; exit 2; }
tools=$(mktemp -d)
trap 'rm -rf "$tools"' EXIT
ln -s "$(command -v sed)" "$tools/sed"
failed=0
for script in "$1"/scripts/*.sh; do
  if ! text=$(env -i PATH="$tools" "$BASH" "$script" --help 2>&1) || [[ -z $text ]]; then
    echo "FAILED: ${script##*/} --help: $text" >&2
    failed=1
  fi
done
exit "$failed"
