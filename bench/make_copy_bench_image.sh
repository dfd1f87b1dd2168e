#!/usr/bin/env bash
# Builds the copy benchmark image: an NTFS volume of 1280 MiB holding one
# deleted file of 1 GiB, made with mkntfs and written through libntfs-3g by
# the fixtures' ntfs_populate (no mount). Beside it, IMAGE.ranges lists the
# byte ranges of the image that hold the file's clusters, in file order
# ("offset length" a line, from istat's run list), so that the benchmark can
# read the very same bytes with dd.
#
#   make_copy_bench_image.sh [IMAGE] [NTFS_POPULATE]
#
# IMAGE defaults to /tmp/tessilon-bench-copy.img; NTFS_POPULATE is compiled
# from tests/fixtures/ntfs_populate.c when not given.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
IMAGE=${1:-/tmp/tessilon-bench-copy.img}
POPULATE=${2:-}
WORK=$(mktemp -d "$(dirname "$IMAGE")/copy-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
if [[ -z $POPULATE ]]; then
  POPULATE=$WORK/ntfs_populate
  cc -O2 -o "$POPULATE" "$HERE/../tests/fixtures/ntfs_populate.c" $(pkg-config --cflags --libs libntfs-3g)
fi
head -c 1G /dev/urandom >"$WORK/big.bin"
printf 'mkdir\t/Video\nfile\t/Video/holiday.mkv\t%s\nrm\t/Video/holiday.mkv\n' "$WORK/big.bin" >"$WORK/commands"
rm -f "$IMAGE" "$IMAGE.ranges"
truncate -s 1280M "$IMAGE"
mkntfs -F -Q -q -c 4096 -L COPYBENCH "$IMAGE" >/dev/null 2>&1
"$POPULATE" "$IMAGE" <"$WORK/commands" >/dev/null
record=$(fls -r -p -d "$IMAGE" | sed -n 's/^-\/r \* \([0-9]*\)-128-[0-9]*:\tVideo\/holiday.mkv$/\1/p')
[[ -n $record ]] || { echo "make_copy_bench_image: the deleted file is not there" >&2; exit 1; }
# istat -r gives the runs after the $DATA line: "Starting address: LCN, length: N".
istat -r "$IMAGE" "$record" | sed -n '/^Type: \$DATA/,/^Type:/p' |
  sed -n 's/.*Starting address: \([0-9]*\), length: \([0-9]*\).*/\1 \2/p' |
  awk -v cs=4096 -v size=$((1 << 30)) '{
      len = $2 * cs
      if (len > size - done) len = size - done
      if (len > 0) print $1 * cs, len
      done += len
    }' >"$IMAGE.ranges"
[[ $(awk '{ s += $2 } END { print s }' "$IMAGE.ranges") == $((1 << 30)) ]] ||
  { echo "make_copy_bench_image: the runs do not cover the file" >&2; exit 1; }
echo "made $IMAGE ($(wc -l <"$IMAGE.ranges") runs)"
