#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Runs a command in a mount namespace of its own with a small disk: a tmpfs of KIB KiB,
# whose folder the command finds in $DOTLOOM_SMALL_DISK (a Wine program puts Z: before it).
# The machine's own mounts are never touched, and the disk goes with the namespace.
#
#   small_disk.sh KIB COMMAND [ARGUMENTS...]
#
# Exits 77 (a skipped test) where no mount namespace can be made.
set -euo pipefail
usage() { sed -n '4,10s/^# \{0,1\}//p' "$0"; }
[[ ${1:-} != -h && ${1:-} != --help ]] || { usage; exit 0; }
[[ $# -ge 2 ]] || { usage >&2; exit 2; }

if [[ "${DOTLOOM_SMALL_DISK_NAMESPACE:-}" != 1 ]]; then
  if ! unshare -m --propagation private true 2>/dev/null; then
    echo "no mount namespace here: skipped" >&2
    exit 77
  fi
  exec env DOTLOOM_SMALL_DISK_NAMESPACE=1 unshare -m --propagation private "$0" "$@"
fi

size="$1"
shift
disk="$(mktemp -d "${TMPDIR:-/tmp}/dotloom-small-disk-XXXXXX")"
trap 'umount "$disk" 2>/dev/null || true; rmdir "$disk"' EXIT
mount -t tmpfs -o "size=${size}k,mode=0755" tmpfs "$disk"
export DOTLOOM_SMALL_DISK="$disk"
"$@"
