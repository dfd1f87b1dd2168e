#!/usr/bin/env bash
# A 2 GiB FAT32 image with 20,000 files, half of them deleted, every cluster
# written (no sparse holes): the image the FAT scan benchmarks run on.
set -euo pipefail
out=${1:?usage: make_fat32_bench_image.sh OUTPUT.img}
[ -s "$out" ] && exit 0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export MTOOLS_SKIP_CHECK=1
# Fill the image with random bytes first, so free clusters are not holes.
head -c 2G /dev/urandom > "$tmp/img"
mkfs.fat -F 32 -s 8 -n BENCH "$tmp/img" >/dev/null
mkdir -p "$tmp/files"
for d in $(seq 0 19); do
  mkdir -p "$tmp/files/dir$d"
  for f in $(seq 0 999); do
    # Sizes from 1 KB to about 190 KB: 20,000 files fill most of 2 GiB.
    head -c $(( (f * 7919 % 190) * 1024 + 1000 )) /dev/urandom > "$tmp/files/dir$d/file number $f of folder $d.bin"
  done
  mmd -i "$tmp/img" "::/dir$d"
  mcopy -i "$tmp/img" "$tmp/files/dir$d/"* "::/dir$d/"
  # Every other file deleted.
  ( cd "$tmp/files/dir$d" && ls | awk 'NR % 2 == 0' | sed "s|^|::/dir$d/|" | tr '\n' '\0' |
      xargs -0 mdel -i "$tmp/img" )
  rm -rf "$tmp/files/dir$d"
done
mv "$tmp/img" "$out"
