#!/usr/bin/env bash
# The scans of large volumes against the tools a user would reach for, in
# one run: each pair is timed in turn (A B A B ...) after one warm-up, and
# the median of the pairs' ratios is reported, so that a machine whose speed
# drifts still gives a fair figure. Peak memory is the largest resident set
# of the scan, per entry it listed.
#
#   scale_bench.sh [-n RUNS] [TESSILON_CLI]
#
# The images, made by the scripts beside this one (a missing one is skipped):
#   TESSILON_NTFS_1M    /tmp/tessilon-bench-ntfs-1m.img
#       make_ntfs_bench_image.sh --files 1000000 --folder 500 --deleted 50 --size 16G IMAGE
#   TESSILON_NTFS_100K  /tmp/tessilon-bench-ntfs-100k.img    make_ntfs_bench_image.sh
#   TESSILON_FAT32_200K /tmp/tessilon-bench-fat32-16g.img
#       make_fat32_bench_image.sh --files 200000 --size 16G --sparse IMAGE
#
# NTFS: quick and indexed scan (--json to /dev/null) against `ntfsundelete
# -s` and against dd of the MFT. FAT32: indexed against `fls -r -d`, quick
# against cat of the image.
set -euo pipefail
RUNS=5
if [[ ${1:-} == -n ]]; then RUNS=$2; shift 2; fi
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
CLI=${1:-$HERE/../build/tessilon-cli}
NTFS_1M=${TESSILON_NTFS_1M:-/tmp/tessilon-bench-ntfs-1m.img}
NTFS_100K=${TESSILON_NTFS_100K:-/tmp/tessilon-bench-ntfs-100k.img}
FAT32_200K=${TESSILON_FAT32_200K:-/tmp/tessilon-bench-fat32-16g.img}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# Runs a shell command once, its output thrown away; prints its wall
# seconds, peak KiB and processor seconds (user and system).
timed() {
  /usr/bin/time -f '%e %M %U %S' -o "$WORK/time" sh -c "$1" >/dev/null 2>&1 || true
  tail -n 1 "$WORK/time" | awk '{ print $1, $2, $3 + $4 }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# compare LABEL ENTRIES COMMAND_A COMMAND_B NAME_B: one line with A's median
# wall time, processor time and peak memory, B's, and the median ratios A/B
# of the pairs' wall and processor times. On a busy machine the wall times
# hold waiting for a processor; the processor times do not.
compare() {
  local label=$1 entries=$2 a=$3 b=$4 name=$5 i ta tb
  timed "$a" >/dev/null
  timed "$b" >/dev/null
  : >"$WORK/a"
  : >"$WORK/b"
  for ((i = 0; i < RUNS; ++i)); do
    ta=$(timed "$a")
    tb=$(timed "$b")
    echo "$ta" >>"$WORK/a"
    echo "$tb" >>"$WORK/b"
  done
  local f wa ka ca wb cb wr cr
  wa=$(cut -d' ' -f1 "$WORK/a" | median)
  ka=$(cut -d' ' -f2 "$WORK/a" | median)
  ca=$(cut -d' ' -f3 "$WORK/a" | median)
  wb=$(cut -d' ' -f1 "$WORK/b" | median)
  cb=$(cut -d' ' -f3 "$WORK/b" | median)
  for f in 1 3; do
    paste -d' ' "$WORK/a" "$WORK/b" | awk -v f="$f" '{ y = $(f + 3); print (y > 0 ? $f / y : 0) }' | median
  done >"$WORK/r"
  wr=$(sed -n 1p "$WORK/r")
  cr=$(sed -n 2p "$WORK/r")
  awk -v l="$label" -v wa="$wa" -v ca="$ca" -v ka="$ka" -v n="$entries" -v wb="$wb" -v cb="$cb" -v nb="$name" \
    -v wr="$wr" -v cr="$cr" 'BEGIN {
    printf "  %-8s %6.2f s (cpu %6.2f) %7.1f MiB %6.0f B/entry | %-15s %6.2f s (cpu %6.2f) | ratio %.3f (cpu %.3f)\n",
           l, wa, ca, ka / 1024, (n > 0 ? ka * 1024 / n : 0), nb, wb, cb, wr, cr }'
}

listed() { "$CLI" scan "$@" --json 2>/dev/null | wc -l; }

ntfs() { # NAME IMAGE
  local name=$1 image=$2
  if [[ ! -s $image ]]; then
    echo "$name: no image $image (skipped)"
    return
  fi
  local bps spc lcn size quick indexed scan
  bps=$(od -An -tu2 -j11 -N2 "$image" | tr -d ' ')
  spc=$(od -An -tu1 -j13 -N1 "$image" | tr -d ' ')
  lcn=$(od -An -tu8 -j48 -N8 "$image" | tr -d ' ')
  size=$(istat "$image" 0 | awk '/^Type: \$DATA/ { for (i = 1; i < NF; ++i) if ($i == "size:" && size == "") size = $(i + 1) } END { print size }')
  local dd="dd if=$image of=/dev/null bs=1M iflag=skip_bytes,count_bytes skip=$((lcn * bps * spc)) count=$size"
  quick=$(listed --quick "$image")
  indexed=$(listed "$image")
  echo "$name: $indexed entries listed by the indexed scan, $quick by the quick one; MFT $((size >> 20)) MiB"
  for scan in quick indexed; do
    local flag=--quick entries=$quick
    [[ $scan == indexed ]] && flag= entries=$indexed
    compare "$scan" "$entries" "$CLI scan $flag --json $image" "ntfsundelete -s $image" "ntfsundelete -s"
    compare "$scan" "$entries" "$CLI scan $flag --json $image" "$dd" "dd of the MFT"
  done
}

fat32() { # NAME IMAGE
  local name=$1 image=$2
  if [[ ! -s $image ]]; then
    echo "$name: no image $image (skipped)"
    return
  fi
  local quick indexed
  quick=$(listed --quick "$image")
  indexed=$(listed "$image")
  echo "$name: $indexed entries listed by the indexed scan, $quick by the quick one"
  compare indexed "$indexed" "$CLI scan --json $image" "fls -r -d $image" "fls -r -d"
  compare quick "$quick" "$CLI scan --quick --json $image" "cat $image" "cat"
}

echo "$RUNS pairs each after a warm-up; times and memory are medians of the scan (left) and the tool (right)"
ntfs "NTFS 1M" "$NTFS_1M"
ntfs "NTFS 100k" "$NTFS_100K"
fat32 "FAT32 200k" "$FAT32_200K"
