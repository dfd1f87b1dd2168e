#!/usr/bin/env bash
# Builds a FAT32 benchmark image with mkfs.fat and mtools. By default: 2 GiB,
# 20,000 files in 20 folders of 1,000, every other one deleted, every
# cluster written first (no sparse holes): the image the FAT scan benchmarks
# run on.
#
#   make_fat32_bench_image.sh [--files N] [--folder N] [--deleted PERCENT]
#                             [--size SIZE] [--sparse] OUTPUT.img
#
# The 200,000-file volume of a 16 GiB stick, left sparse where no file is:
#   make_fat32_bench_image.sh --files 200000 --size 16G --sparse \
#       /tmp/tessilon-bench-fat32-16g.img
#
# Files are 1 KB to about 190 KB in the default image; in a sparse one they
# are small (1 to 8 KB of text), so that a large count is made in minutes.
set -euo pipefail
FILES=20000 FOLDER=1000 DELETED=50 SIZE=2G SPARSE=0
while [[ $# -gt 0 && $1 == --* ]]; do
  case $1 in
    --files) FILES=$2; shift ;;
    --folder) FOLDER=$2; shift ;;
    --deleted) DELETED=$2; shift ;;
    --size) SIZE=$2; shift ;;
    --sparse) SPARSE=1 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
out=${1:?usage: make_fat32_bench_image.sh [OPTIONS] OUTPUT.img}
if (( FILES < 1 || FOLDER < 1 || FILES % FOLDER != 0 || DELETED < 0 || DELETED > 100 )); then
  echo "--files must be a multiple of --folder, --deleted a percentage" >&2
  exit 2
fi
[ -s "$out" ] && exit 0
tmp=$(mktemp -d "$(dirname "$out")/fat32-bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
export MTOOLS_SKIP_CHECK=1
if (( SPARSE )); then
  truncate -s "$SIZE" "$tmp/img"
else
  # Fill the image with random bytes first, so free clusters are not holes.
  head -c "$SIZE" /dev/urandom > "$tmp/img"
fi
mkfs.fat -F 32 -s 8 -n BENCH "$tmp/img" >/dev/null
mkdir -p "$tmp/files"
# Small contents for the sparse image, written by the shell itself: a
# process per file would take longer than the copying.
pool=()
for k in 1 2 3 4 5 6 7 8; do pool+=("$(head -c $((k * 768)) /dev/urandom | base64 -w 0)"); done
# Long names that differ in their first six characters: their short names
# then need no search through "~1" to "~999" for a free one, which made
# mtools take minutes for each folder of a thousand files.
width=${#FOLDER}
for ((d = 0; d < FILES / FOLDER; ++d)); do
  mkdir -p "$tmp/files/dir$d"
  for ((f = 0; f < FOLDER; ++f)); do
    printf -v name '%s/files/dir%d/%0*d file of folder %d.bin' "$tmp" "$d" "$width" "$f" "$d"
    if (( SPARSE )); then
      printf '%s' "${pool[f % 8]}" > "$name"
    else
      # Sizes from 1 KB to about 190 KB: 20,000 files fill most of 2 GiB.
      head -c $(( (f * 7919 % 190) * 1024 + 1000 )) /dev/urandom > "$name"
    fi
  done
  mmd -i "$tmp/img" "::/dir$d"
  mcopy -i "$tmp/img" "$tmp/files/dir$d/"* "::/dir$d/"
  # In the order ls lists them, the file is deleted when its place times
  # PERCENT mod 100 reaches 100 - PERCENT: every other one for 50.
  ( cd "$tmp/files/dir$d" && ls | awk -v pct="$DELETED" '((NR - 1) * pct) % 100 >= 100 - pct' |
      sed "s|^|::/dir$d/|" | tr '\n' '\0' | xargs -0 -r mdel -i "$tmp/img" )
  rm -rf "$tmp/files/dir$d"
done
mv "$tmp/img" "$out"
