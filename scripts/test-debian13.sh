#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Runs scripts/test.sh in Debian 13 (trixie) on a Debian machine: on a clean copy of the
# committed tree (git archive HEAD), as root in a chroot that has the release's compilers,
# Qt, MinGW-w64 and Wine. The chroot is made with mmdebstrap in build/debian13-root on the
# first run (a few minutes; some 5 GB once the packages are in) and kept for later runs;
# inside it scripts/install-deps.sh installs what is missing. Needs root, mmdebstrap and
# Debian's package mirror. Not part of scripts/test.sh: it takes 15 to 45 minutes on two cores.
#
# It mounts the root on itself, /proc, /sys (read-only), and a /dev/shm and /dev/pts of its
# own; /dev is the chroot's own few nodes (null, zero, random, tty, ...), never the
# machine's. All are unmounted when it ends, however it ends.
#
# Usage: scripts/test-debian13.sh [CTEST_OPTION...]   (as for scripts/test.sh; DOTLOOM_ASAN,
#        DOTLOOM_WINDOWS, DOTLOOM_WEB and DOTLOOM_FUZZ_SECONDS are passed on)
set -euo pipefail
# --help prints the comment above and stops before building or running anything.
if [[ ${1:-} == -h || ${1:-} == --help ]]; then sed -n '4,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0; fi
cd "$(dirname "$0")/.."
[[ $(id -u) -eq 0 ]] || { echo "test-debian13.sh: needs root (for chroot and mount)" >&2; exit 2; }
command -v mmdebstrap >/dev/null || { echo "test-debian13.sh: needs mmdebstrap" >&2; exit 2; }

# The path as /proc shows a process's root, to find those left in the chroot.
root="$(pwd -P)/build/debian13-root"
mirror=http://deb.debian.org/debian
if [[ ! -f $root/etc/debian_version ]]; then
  # Made beside and moved into place, so that a run cut short leaves no half-made root.
  rm -rf "$root.new"
  mkdir -p build
  mmdebstrap --variant=apt --include=ca-certificates trixie "$root.new" \
    "deb $mirror trixie main" "deb $mirror trixie-updates main" \
    "deb ${mirror}-security trixie-security main"
  # Packages must not start services in the chroot.
  printf '#!/bin/sh\nexit 101\n' >"$root.new/usr/sbin/policy-rc.d"
  chmod +x "$root.new/usr/sbin/policy-rc.d"
  mv "$root.new" "$root"
fi
grep -q '^VERSION_CODENAME=trixie$' "$root/etc/os-release" ||
  { echo "test-debian13.sh: $root is not Debian 13" >&2; exit 2; }

mounted=()
cleanup() {
  # Whatever the tests left running in the chroot (a Wine server, an X server) would keep
  # its mounts busy.
  local link pid
  for link in /proc/[0-9]*/root; do
    pid=${link#/proc/}
    pid=${pid%/root}
    [[ $(readlink "$link" 2>/dev/null) == "$root" ]] && kill -KILL "$pid" 2>/dev/null
  done
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}"
  done
}
trap cleanup EXIT
trap "exit 130" INT
trap "exit 143" TERM
# The root a mount point of its own, so that tests can make private mount namespaces in it
# (unshare --propagation private fails on a root that is a plain folder).
mount --bind "$root" "$root"
mounted+=("$root")
mount_in() {  # TYPE OPTIONS PATH-IN-ROOT
  mkdir -p "$root$3"
  mount -t "$1" -o "$2" "$1" "$root$3"
  mounted+=("$root$3")
}
mount_in proc nosuid,nodev,noexec /proc
mount_in sysfs ro,nosuid,nodev,noexec /sys
mount_in tmpfs nosuid,nodev,mode=1777 /dev/shm
# A pseudo-terminal instance of the chroot's own, which its /dev/ptmx opens (apt wants one).
mount_in devpts newinstance,ptmxmode=0666,mode=0620,nosuid,noexec /dev/pts
cp /etc/resolv.conf "$root/etc/resolv.conf"

rm -rf "$root/src"
mkdir "$root/src"
git archive --format=tar HEAD | tar -x -C "$root/src"
echo "Debian $(cat "$root/etc/debian_version"), tree $(git rev-parse --short HEAD) in $root/src"

environment=(HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
  LANG=C.UTF-8 TERM="${TERM:-dumb}")
for name in DOTLOOM_ASAN DOTLOOM_WINDOWS DOTLOOM_WEB DOTLOOM_FUZZ_SECONDS; do
  [[ -n ${!name:-} ]] && environment+=("$name=${!name}")
done
chroot "$root" /usr/bin/env -i "${environment[@]}" \
  /bin/bash -c 'cd /src && exec ./scripts/test.sh "$@"' test.sh "$@"
