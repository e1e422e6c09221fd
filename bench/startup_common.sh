# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Shared by bench/startup.sh and bench/startup_wine.sh, which source it after defining
# measure NAME PROGRAM (one launch, appending a line of figures to $work/NAME) and setting
# work, dotloom and floor (start_xvfb needs only work).

# Starts an X server of the run's own and exports its DISPLAY; the caller's cleanup kills
# $xvfb_pid. -displayfd picks a free display and reports it once the server accepts
# connections.
start_xvfb() {
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" \
    2>"$work/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
  [[ -s $work/display ]] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
  DISPLAY=:$(head -n1 "$work/display")
  export DISPLAY
}

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
