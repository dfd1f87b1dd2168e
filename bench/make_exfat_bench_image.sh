#!/usr/bin/env bash
# A 2 GiB exFAT image with 10,000 files in 50 folders, half of them deleted, every cluster
# written (no sparse holes): the image the exFAT scans are measured on. It
# is filled through exfat-fuse on a loop device, so it needs root.
set -euo pipefail
out=${1:?usage: make_exfat_bench_image.sh OUTPUT.img}
[ -s "$out" ] && exit 0
tmp=$(mktemp -d)
loop=
trap 'mountpoint -q "$tmp/mnt" && umount "$tmp/mnt"; [ -n "$loop" ] && losetup -d "$loop"; rm -rf "$tmp"' EXIT
# Random bytes first, so free clusters are not holes.
head -c 2G /dev/urandom > "$tmp/img"
loop=$(losetup -f --show "$tmp/img")
mkfs.exfat -c 32K -L BENCH "$loop" >/dev/null
mkdir -p "$tmp/mnt"
mount.exfat-fuse "$loop" "$tmp/mnt" 2>/dev/null
# Folders of 200: exfat-fuse looks a new name up through the whole folder,
# so a thousand to a folder would take an hour to write.
for d in $(seq 0 49); do
  mkdir -p "$tmp/mnt/dir$d"
  for f in $(seq 0 199); do
    # Sizes from 1 KB to about 380 KB: 10,000 files fill most of 2 GiB.
    head -c $(( (f * 7919 % 190) * 2048 + 1000 )) /dev/urandom > "$tmp/mnt/dir$d/file number $f of folder $d.bin"
  done
  # Every other file deleted.
  ( cd "$tmp/mnt/dir$d" && ls | awk 'NR % 2 == 0' | tr '\n' '\0' | xargs -0 rm -f )
done
umount "$tmp/mnt"
losetup -d "$loop"
loop=
mv "$tmp/img" "$out"
