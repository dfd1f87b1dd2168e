#!/usr/bin/env bash
# Builds an NTFS benchmark image with mkntfs, filled through libntfs-3g by the
# fixtures' ntfs_populate (no mount). By default: 1 GiB, 100,000 files in 100
# folders of 1,000, every tenth file deleted again.
#
#   make_ntfs_bench_image.sh [--files N] [--folder N] [--deleted PERCENT]
#                            [--size SIZE] [IMAGE] [NTFS_POPULATE]
#
# The million-file image of a Windows system volume's size:
#   make_ntfs_bench_image.sh --files 1000000 --folder 500 --deleted 50 \
#       --size 16G /tmp/tessilon-bench-ntfs-1m.img
#
# SIZE is what truncate takes; the image is sparse where nothing was written.
# IMAGE defaults to /tmp/tessilon-bench-ntfs-100k.img; NTFS_POPULATE is
# compiled from tests/fixtures/ntfs_populate.c when not given.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
FILES=100000 FOLDER=1000 DELETED=10 SIZE=1G
while [[ $# -gt 0 && $1 == --* ]]; do
  case $1 in
    --files) FILES=$2 ;;
    --folder) FOLDER=$2 ;;
    --deleted) DELETED=$2 ;;
    --size) SIZE=$2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
if (( FILES < 1 || FOLDER < 1 || FILES % FOLDER != 0 || DELETED < 0 || DELETED > 100 )); then
  echo "--files must be a multiple of --folder, --deleted a percentage" >&2
  exit 2
fi
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
# Folder and file numbers are zero-padded to the widths of the largest, as
# seq -w pads them. File f of a folder is deleted when f * PERCENT mod 100
# falls below PERCENT: every tenth for 10, every other for 50.
awk -v files="$FILES" -v folder="$FOLDER" -v pct="$DELETED" -v content="$WORK/content-" '
  BEGIN {
    folders = files / folder
    dw = length(folders - 1); fw = length(folder - 1)
    split("300 3000 9000 20000", sizes, " ")
    for (d = 0; d < folders; ++d) {
      dn = sprintf("%0*d", dw, d)
      printf "mkdir\t/Folder %s\n", dn
      for (f = 0; f < folder; ++f)
        printf "file\t/Folder %s/document %s-%0*d.txt\t%s%s\n", dn, dn, fw, f, content, sizes[f % 4 + 1]
    }
    for (d = 0; d < folders; ++d) {
      dn = sprintf("%0*d", dw, d)
      for (f = 0; f < folder; ++f)
        if ((f * pct) % 100 < pct) printf "rm\t/Folder %s/document %s-%0*d.txt\n", dn, dn, fw, f
    }
  }' >"$WORK/commands"
if (( FILES >= 1000000 && FILES % 1000000 == 0 )); then label=BENCH$((FILES / 1000000))M
else label=BENCH$((FILES / 1000))K; fi
rm -f "$IMAGE"
truncate -s "$SIZE" "$IMAGE"
mkntfs -F -Q -q -c 4096 -L "$label" "$IMAGE" >/dev/null 2>&1
"$POPULATE" "$IMAGE" <"$WORK/commands" >/dev/null
echo "made $IMAGE"
