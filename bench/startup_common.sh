# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Shared by bench/startup.sh and bench/startup_wine.sh, which source it after defining
# measure NAME PROGRAM (one launch, appending a line of figures to $work/NAME) and setting
# work, dotloom and floor.

# Launches both programs RUNS times each, alternately, and which one goes first alternates
# too, so that a slow spell of the machine falls on both alike.
run_alternately() {  # runs
  local i
  for i in $(seq "$1"); do
    if (( i % 2 )); then
      measure dotloom "$dotloom"; measure floor "$floor"
    else
      measure floor "$floor"; measure dotloom "$dotloom"
    fi
  done
}

median() {  # column file
  sort -n -k"$1" "$2" | awk -v c="$1" '{v[NR]=$c} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'
}

# One line of the summary: the medians of a column for both programs, and their ratio.
ratio_row() {  # label column printf-format
  local d f
  d=$(median "$2" "$work/dotloom"); f=$(median "$2" "$work/floor")
  printf "%-28s $3 $3 %7.3f\n" "$1" "$d" "$f" "$(awk -v a="$d" -v b="$f" 'BEGIN{print a/b}')"
}
