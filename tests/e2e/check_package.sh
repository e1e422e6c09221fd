#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
# Installs a build into a temporary root and packs it as a .deb, then checks that both hold
# the program, its menu entry, icons, metainfo, manual page, licence and changelog; that the
# package names its libraries; that packing again gives the same bytes, every time stamp in
# it the release's (or SOURCE_DATE_EPOCH's) and its archives sorted; and that lintian,
# appstreamcli and desktop-file-validate find nothing wrong. Lintian fails it on any error or
# warning; on a hardened build (the release preset) also on any hardening tag, an override
# that a newer lintian no longer needs aside.
#   check_package.sh BUILD_DIR [CMAKE] [CPACK]
set -euo pipefail
usage() { sed -n '4,11s/^# \{0,1\}//p' "$0"; }
if [[ ${1:-} == -h || ${1:-} == --help ]]; then usage; exit 0; fi
[[ $# -ge 1 ]] || { usage >&2; exit 2; }
build=$1
cmake=${2:-cmake}
cpack=${3:-cpack}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAILED: $*" >&2; exit 1; }
id=io.github.dotloom.Dotloom
files=(bin/dotloom share/applications/$id.desktop share/metainfo/$id.metainfo.xml
       share/icons/hicolor/scalable/apps/dotloom.svg share/man/man1/dotloom.1.gz
       share/doc/dotloom/copyright share/doc/dotloom/changelog.gz)
for size in 16 32 48 64 128 256; do files+=("share/icons/hicolor/${size}x${size}/apps/dotloom.png"); done

"$cmake" --install "$build" --prefix "$work/root" >/dev/null
for file in "${files[@]}"; do
  [[ -f "$work/root/$file" ]] || fail "cmake --install left out $file"
done
[[ -x "$work/root/bin/dotloom" ]] || fail "bin/dotloom is not executable"
for size in 128 256; do
  header=$(od -An -tx1 -j16 -N8 "$work/root/share/icons/hicolor/${size}x${size}/apps/dotloom.png" | tr -d ' \n')
  [[ $header == $(printf '%08x%08x' "$size" "$size") ]] || fail "the ${size}x${size} icon is not $size pixels square"
done
desktop-file-validate "$work/root/share/applications/$id.desktop" || fail "bad desktop entry"
appstreamcli validate --no-net "$work/root/share/metainfo/$id.metainfo.xml" >"$work/appstream.log" 2>&1 ||
  { cat "$work/appstream.log" >&2; fail "bad AppStream metainfo"; }
man --warnings -l "$work/root/share/man/man1/dotloom.1.gz" 2>"$work/man.log" >/dev/null
[[ ! -s $work/man.log ]] || { cat "$work/man.log" >&2; fail "the manual page has mistakes"; }

# One version everywhere: the project's, as the package, the metainfo and the changelog say.
"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
debs=("$work"/deb/dotloom_*.deb)
[[ -f "${debs[0]}" ]] || fail "cpack made no .deb"
version=$(dpkg-deb -f "${debs[0]}" Version)
changelog=$(zcat "$work/root/share/doc/dotloom/changelog.gz")
[[ $(head -n1 <<<"$changelog") == "dotloom ($version) "* ]] || fail "the changelog is not for $version"
grep -q "<release version=\"$version\"" "$work/root/share/metainfo/$id.metainfo.xml" ||
  fail "the metainfo has no release $version"
contents=$(dpkg-deb -c "${debs[0]}")
for file in "${files[@]}"; do
  grep -q " ./usr/$file\$" <<<"$contents" || fail "the .deb leaves out /usr/$file"
done
depends=$(dpkg-deb -f "${debs[0]}" Depends)
for library in libqt6widgets6 libqt6gui6 libc6; do
  grep -q "$library" <<<"$depends" || fail "the .deb does not depend on $library: $depends"
done
[[ $(dpkg-deb -f "${debs[0]}" Recommends) == *qt6-translations-l10n* ]] ||
  fail "the .deb does not recommend Qt's translations"
maintainer=$(dpkg-deb -f "${debs[0]}" Maintainer)
[[ -n $maintainer ]] || fail "the .deb has no maintainer"
grep -qF -- " -- $maintainer  " <<<"$changelog" || fail "the changelog is not signed by $maintainer"

# Reproducible: packed again under another umask and time zone, the same bytes, but for the
# modes in the ar member headers, which CPack takes from the umask (dpkg ignores them); every
# time stamp, of the ar members and of the files and folders in both tar archives, the
# release's noon (the changelog's date) unless SOURCE_DATE_EPOCH names another.
epoch=${SOURCE_DATE_EPOCH:-$(date -u -d "$(sed -n '1,/^ -- /s/^ -- .*>  //p' <<<"$changelog")" +%s)}
(umask 077 && TZ=Pacific/Kiritimati "$cpack" --config "$build/CPackConfig.cmake" -G DEB \
  -B "$work/again" >"$work/cpack-again.log" 2>&1) ||
  { cat "$work/cpack-again.log" >&2; fail "cpack failed the second time"; }
again=$work/again/$(basename "${debs[0]}")
deb_size=$(stat -c %s "${debs[0]}")
[[ $(stat -c %s "$again") == "$deb_size" ]] || fail "packing the same build again gave another .deb"
modes=()
offset=8  # past "!<arch>\n"; each member has a 60-byte header: name, time stamp, ..., size
while ((offset < deb_size)); do
  header=$(head -c $((offset + 60)) "${debs[0]}" | tail -c 60)
  member=${header:0:16} stamp=${header:16:12} size=${header:48:10}
  [[ ${stamp// /} == "$epoch" ]] || fail "ar member ${member// /} is stamped ${stamp// /}, not $epoch"
  modes+=($((offset + 40)))
  offset=$((offset + 60 + ${size// /} + ${size// /} % 2))
done
for at in $(cmp -l "${debs[0]}" "$again" | awk '{ print $1 - 1 }'); do
  for mode in "${modes[@]}"; do ((at < mode || at >= mode + 8)) || continue 2; done
  fail "packing the same build again gave another .deb (byte $at differs)"
done
mkdir "$work/members"
(cd "$work/members" && ar x "${debs[0]}")
when=$(date -u -d "@$epoch" '+%F %T')
for archive in "$work"/members/{control,data}.tar.*; do
  listing=$(tar --utc --full-time -tvf "$archive")
  stamped=$(awk -v when="$when" '$4 " " $5 != when { print $6 " " $4 " " $5 }' <<<"$listing")
  [[ -z $stamped ]] || fail "$(basename "$archive") holds files not stamped $when: $stamped"
done
# The files in name order, not the order a folder happens to list them in. (CPack writes the
# control archive's two members in an order of its own, always the same.)
tar -tf "$work"/members/data.tar.* | LC_ALL=C sort -c || fail "data.tar is not sorted"

status=0
lintian --fail-on error,warning --display-info "${debs[0]}" >"$work/lintian.log" 2>&1 || status=$?
cat "$work/lintian.log"
[[ $status -eq 0 ]] || fail "lintian found errors or warnings"
if grep -q '^DOTLOOM_HARDEN:BOOL=ON$' "$build/CMakeCache.txt" && grep -qE '^[A-Z]: [^ ]+: hardening-' "$work/lintian.log"; then
  fail "a hardened build without all of Debian's hardening"
fi
echo "1 passed, 0 failed"
