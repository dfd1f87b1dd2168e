#!/usr/bin/env bash
# The Debian package as a user gets it: its fields, that its dependencies
# are met on this Debian 12 machine, and both programs run from a fresh root
# it is unpacked into, beside nothing of the build tree.
#
#   package_test.sh PACKAGE.deb BUILD_DIR FIXTURES_DIR
set -euo pipefail
deb=$(realpath "$1") build=$(realpath "$2") fixtures=$(realpath "$3")
root=$(mktemp -d /tmp/tessilon-package.XXXXXX)
trap '[[ ${KEEP:-0} == 1 ]] || rm -rf "$root"' EXIT
passed=0 failed=0
check() { # NAME COMMAND...
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name" >&2
  fi
}

field() { dpkg-deb -f "$deb" "$1"; }
version=$(field Version)
depends=$(field Depends)
has_dependency() { [[ ", $depends," == *", $1"[\ ,\(]* ]]; }
check "the version is the project's" grep -q "VERSION $version " "$build/../CMakeLists.txt"
for p in libqt6widgets6 libqt6printsupport6 libewf2 libssl3 fonts-noto-core fonts-symbola fontconfig; do
  check "depends on $p" has_dependency "$p"
done
check "CJK fonts: one or the other" grep -q 'fonts-droid-fallback | fonts-noto-cjk' <<<"$depends"
# Every dependency is met here, as an install on this machine would find.
check "installs on this machine" dpkg --dry-run -i "$deb"

dpkg-deb -x "$deb" "$root"
usr=$root/usr
for f in bin/tessilon bin/tessilon-cli share/man/man1/tessilon.1.gz share/man/man1/tessilon-cli.1.gz \
  share/doc/tessilon/help.html share/applications/io.github.tessilon.Tessilon.desktop \
  share/metainfo/io.github.tessilon.Tessilon.metainfo.xml \
  share/icons/hicolor/scalable/apps/io.github.tessilon.Tessilon.svg; do
  check "holds /usr/$f" test -s "$usr/$f"
done
# Each PNG icon is the size its folder says (PNG width and height: bytes 16-23).
for png in "$usr"/share/icons/hicolor/*x*/apps/io.github.tessilon.Tessilon.png; do
  size=${png%/apps/*}
  size=${size##*/}
  dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
  check "icon $size" test "$dims" = "$size"
done
check "seven PNG sizes" test "$(ls "$usr"/share/icons/hicolor/*x*/apps/*.png | wc -l)" -eq 7
check "desktop entry categories" grep -qx 'Categories=System;Utility;' "$usr/share/applications/io.github.tessilon.Tessilon.desktop"
check "metainfo is valid" appstreamcli validate --no-net "$usr/share/metainfo/io.github.tessilon.Tessilon.metainfo.xml"
check "man page is gzip" gzip -t "$usr/share/man/man1/tessilon-cli.1.gz"
check "help page names the version" grep -q "Tessilon ver $version" "$usr/share/doc/tessilon/help.html"

# The installed programs, from the unpacked root.
check "tessilon-cli --version" test "$("$usr/bin/tessilon-cli" --version)" = "tessilon-cli $version"
check "tessilon --version" test "$("$usr/bin/tessilon" --version)" = "Tessilon ver $version"
image=$fixtures/fat32-512.img
"$usr/bin/tessilon-cli" scan --indexed --json "$image" >"$root/installed.json" 2>/dev/null
"$build/tessilon-cli" scan --indexed --json "$image" >"$root/built.json" 2>/dev/null
check "installed scan equals the build's" cmp -s "$root/installed.json" "$root/built.json"
# Every deleted file of the fixture in a live folder is listed as deleted.
jq -rs '[.[] | select(.image == "fat32-512.img")] as $all |
  [$all[] | select(.folder and .deleted) | .path + "/"] as $gone |
  $all[] | select(.deleted and (.folder | not) and (.name_lost or .overwritten | not)) | .path as $p |
  select([$gone[] | . as $g | select($p | startswith($g))] | length == 0) | $p' "$fixtures/manifest.jsonl" |
  sort >"$root/expected"
jq -r 'select(.deleted and (.folder | not)) | .path | ltrimstr("/")' "$root/installed.json" |
  sort >"$root/found"
check "installed scan finds the deleted files" test -z "$(comm -23 "$root/expected" "$root/found")"
check "a fixture with deleted files" test -s "$root/expected"
# The window, offscreen: it starts from the installed files, builds its drive
# list and saves a picture of itself.
QT_QPA_PLATFORM=offscreen "$usr/bin/tessilon" --screenshot "$root/window.png" "$image" 2>"$root/window.err"
check "the window ran and saved its picture" test "$(od -An -c -j1 -N3 "$root/window.png" | tr -d ' ')" = PNG
echo "package: $passed passed, $failed failed"
((failed == 0))
