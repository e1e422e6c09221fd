#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Leaves the Wine prefix in $WINEPREFIX (made; its server may still run, and is waited for)
# mapping no device of the machine, so that no program under test can reach one by a name
# such as COM1.
#
#   wine-devices.sh
#
# Each time its services start, Wine links the COM and LPT names in dosdevices to the serial
# and parallel ports it finds under /dev, skipping the names the registry already defines.
# So every port name is defined there, as nothing, and also blocked by an empty folder
# (the registry cannot claim the highest number). COM1 and LPT1 lead to null devices of the
# prefix's own (devices/, made with mknod where that is allowed), so a test that opens them
# still reaches a device, never the machine's. Every other link to /dev goes too.
set -euo pipefail
# --help prints the comment above and stops before changing anything.
if [[ ${1:-} == -h || ${1:-} == --help ]]; then sed -n '4,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; fi
[[ -n ${WINEPREFIX:-} && -d $WINEPREFIX/dosdevices ]] || { echo "no Wine prefix in WINEPREFIX" >&2; exit 2; }

private="$WINEPREFIX/devices"
mkdir -p "$private"
reg="$WINEPREFIX/devices.reg"
{
  printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
  for kind in COM LPT; do
    for n in $(seq 256); do
      node=""
      if [[ $n == 1 ]] && { [[ -c $private/${kind,,}1 ]] || mknod "$private/${kind,,}1" c 1 3 2>/dev/null; }; then
        node="$private/${kind,,}1"
      fi
      printf '"%s%d"="%s"\n' "$kind" "$n" "$node"
    done
  done
} >"$reg"
wine regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1
wineserver --wait
rm -f "$reg"

for link in "$WINEPREFIX"/dosdevices/*; do
  [[ -L $link ]] || continue
  target=$(readlink -m "$link")
  if [[ $target == /dev || $target == /dev/* ]]; then rm -f "$link"; fi
done
for kind in com lpt; do
  for n in $(seq 256); do
    name="$WINEPREFIX/dosdevices/$kind$n"
    if [[ $n == 1 && -c $private/${kind}1 ]]; then
      ln -sfn "$private/${kind}1" "$name"
    elif [[ ! -e $name && ! -L $name ]]; then
      mkdir "$name"
    fi
  done
done
