#!/usr/bin/env bash
# Builds the NTFS benchmark image: 1 GiB, 100,000 files in 100 folders of
# 1,000, every tenth file deleted again, made with mkntfs and filled through
# libntfs-3g by the fixtures' ntfs_populate (no mount).
#
#   make_ntfs_bench_image.sh [IMAGE] [NTFS_POPULATE]
#
# IMAGE defaults to /tmp/tessilon-bench-ntfs-100k.img; NTFS_POPULATE is
# compiled from tests/fixtures/ntfs_populate.c when not given.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
IMAGE=${1:-/tmp/tessilon-bench-ntfs-100k.img}
POPULATE=${2:-}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
if [[ -z $POPULATE ]]; then
  POPULATE=$WORK/ntfs_populate
  cc -O2 -o "$POPULATE" "$HERE/../tests/fixtures/ntfs_populate.c" $(pkg-config --cflags --libs libntfs-3g)
fi
# A few contents of different sizes: resident, one cluster, several.
for size in 300 3000 9000 20000; do head -c "$size" /dev/urandom >"$WORK/content-$size"; done
sizes=(300 3000 9000 20000)
{
  for d in $(seq -w 0 99); do
    printf 'mkdir\t/Folder %s\n' "$d"
    for f in $(seq -w 0 999); do
      printf 'file\t/Folder %s/document %s-%s.txt\t%s\n' "$d" "$d" "$f" "$WORK/content-${sizes[$((10#$f % 4))]}"
    done
  done
  for d in $(seq -w 0 99); do
    for f in $(seq -w 0 10 999); do printf 'rm\t/Folder %s/document %s-%s.txt\n' "$d" "$d" "$f"; done
  done
} >"$WORK/commands"
rm -f "$IMAGE"
truncate -s 1G "$IMAGE"
mkntfs -F -Q -q -c 4096 -L BENCH100K "$IMAGE" >/dev/null 2>&1
"$POPULATE" "$IMAGE" <"$WORK/commands" >/dev/null
echo "made $IMAGE"
