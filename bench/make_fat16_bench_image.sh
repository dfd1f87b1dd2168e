#!/usr/bin/env bash
# A 2 GiB FAT16 image (32 KiB clusters, the largest FAT16 there is) with
# 12,000 files, half of them deleted, and a few hundred more in its fixed
# root folder, every cluster written (no sparse holes): the FAT16 image the
# FAT scan benchmarks run on.
set -euo pipefail
out=${1:?usage: make_fat16_bench_image.sh OUTPUT.img}
[ -s "$out" ] && exit 0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export MTOOLS_SKIP_CHECK=1
# Fill the image with random bytes first, so free clusters are not holes.
# 2 GiB less one sector: 65,525 clusters of 32 KiB is the most FAT16 counts.
head -c $(( (2 << 30) - 512 * 1024 )) /dev/urandom > "$tmp/img"
mkfs.fat -F 16 -s 64 -r 512 -n BENCH16 "$tmp/img" >/dev/null
[[ $(od -An -tu1 -j13 -N1 "$tmp/img" | tr -d ' ') == 64 ]] || { echo "mkfs.fat did not make 32 KiB clusters" >&2; exit 1; }
mkdir -p "$tmp/files"
for d in $(seq 0 11); do
  mkdir -p "$tmp/files/dir$d"
  for f in $(seq 0 999); do
    # Sizes from 1 KB to about 150 KB: with 32 KiB clusters, 12,000 files
    # fill most of 2 GiB.
    head -c $(( (f * 7919 % 150) * 1024 + 1000 )) /dev/urandom > "$tmp/files/dir$d/file number $f of folder $d.bin"
  done
  mmd -i "$tmp/img" "::/dir$d"
  mcopy -i "$tmp/img" "$tmp/files/dir$d/"* "::/dir$d/"
  # Every other file deleted.
  ( cd "$tmp/files/dir$d" && ls | awk 'NR % 2 == 0' | sed "s|^|::/dir$d/|" | tr '\n' '\0' |
      xargs -0 mdel -i "$tmp/img" )
  rm -rf "$tmp/files/dir$d"
done
# The root folder holds 512 entries: 200 files with 8.3 names fill most of
# it, and every other one is deleted.
mkdir -p "$tmp/files/root"
for f in $(seq 0 199); do head -c $(( f * 97 + 10 )) /dev/urandom > "$tmp/files/root/r$f.bin"; done
mcopy -i "$tmp/img" "$tmp/files/root/"* ::/
( cd "$tmp/files/root" && ls | awk 'NR % 2 == 0' | sed "s|^|::/|" | tr '\n' '\0' | xargs -0 mdel -i "$tmp/img" )
mv "$tmp/img" "$out"
