#!/usr/bin/env bash
# The NTFS bench image as an acquisition tool and a hypervisor would hand it
# over: IMG.E01 (deflate-compressed, in 1 GiB segments) and IMG.qcow2 beside
# IMG.img. The raw image is made first if it is missing.
set -euo pipefail
raw=${1:-/tmp/tessilon-bench-ntfs-100k.img}
here=$(dirname "$0")
[ -s "$raw" ] || bash "$here/make_ntfs_bench_image.sh" "$raw"
stem=${raw%.*}
if [ ! -s "$stem.E01" ]; then
  ewfacquire -u -q -t "$stem" -c deflate:fast -f encase6 -S 1GiB -C bench -D "NTFS bench image" \
    -e bench -E 1 -N none -m fixed -M physical "$raw" >/dev/null
fi
[ -s "$stem.qcow2" ] || qemu-img convert -f raw -O qcow2 "$raw" "$stem.qcow2"
