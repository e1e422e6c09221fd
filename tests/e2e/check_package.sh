#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Installs a build into a temporary root and packs it as a .deb, then checks that both hold
# the program, its menu entry and its icon, and that the package names its libraries.
#   check_package.sh BUILD_DIR [CMAKE] [CPACK]
set -euo pipefail
build=$1
cmake=${2:-cmake}
cpack=${3:-cpack}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAILED: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$work/root" >/dev/null
for file in bin/dotloom share/applications/dotloom.desktop \
            share/icons/hicolor/scalable/apps/dotloom.svg share/icons/hicolor/48x48/apps/dotloom.png; do
  [[ -f "$work/root/$file" ]] || fail "cmake --install left out $file"
done
[[ -x "$work/root/bin/dotloom" ]] || fail "bin/dotloom is not executable"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$work/root/share/applications/dotloom.desktop" || fail "bad desktop entry"
fi

"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" >/dev/null
debs=("$work"/deb/dotloom_*.deb)
[[ -f "${debs[0]}" ]] || fail "cpack made no .deb"
contents=$(dpkg-deb -c "${debs[0]}")
for file in ./usr/bin/dotloom ./usr/share/applications/dotloom.desktop \
            ./usr/share/icons/hicolor/scalable/apps/dotloom.svg; do
  grep -q " $file\$" <<<"$contents" || fail "the .deb leaves out $file"
done
depends=$(dpkg-deb -f "${debs[0]}" Depends)
for library in libqt6widgets6 libqt6gui6 libc6; do
  grep -q "$library" <<<"$depends" || fail "the .deb does not depend on $library: $depends"
done
[[ -n $(dpkg-deb -f "${debs[0]}" Maintainer) ]] || fail "the .deb has no maintainer"
echo "1 passed, 0 failed"
