#!/usr/bin/env bash
# Makes the seeds of the fuzz targets from volumes built with the real tools
# (mkfs.fat and mtools, sfdisk and sgdisk, mkntfs), each seed a few hundred
# KB at most:
#
#   make_seeds.sh OUTDIR COMPACT_IMAGE NTFS_POPULATE
#
#   OUTDIR/partitions/   disk images: MBR with an EBR chain, GPT, a GPT whose
#                        primary header is gone, an EBR chain that loops,
#                        bare FAT32 and NTFS boot areas
#   OUTDIR/fat_dir/      directory clusters with their FAT sector (the layout
#                        of fuzz_fat_dir.cpp), 512-byte and 4 KiB clusters,
#                        FAT12 and FAT16 with their fixed root folders
#   OUTDIR/fat_volume/   whole FAT12, FAT16 and FAT32 volumes in the compact form, full size
#                        and cut short after their last data, one with a
#                        folder that leads back to its parent, one with a
#                        folder chain that loops
#   OUTDIR/exfat_volume/ a small exFAT volume (mkfs.exfat, filled through
#                        exfat-fuse on a loop device) in the compact form,
#                        with live, deleted and fragmented files and a
#                        deleted folder; full size and cut short
#   OUTDIR/exfat_entry_set/ the same volume's folder clusters
#   OUTDIR/ntfs_record/  MFT records of a fresh NTFS volume, the root's with
#                        its INDX block
#   OUTDIR/ntfs_volume/  a small NTFS volume in the compact form, with live
#                        and deleted files (resident, fragmented, sparse,
#                        compressed) and a deleted folder; full size and cut
#                        short after its last data
#
# COMPACT_IMAGE is the compact_image tool built beside the targets,
# NTFS_POPULATE the fixture builder's tests/fixtures/ntfs_populate.c.
set -euo pipefail

die() { echo "make_seeds: $*" >&2; exit 1; }
[[ $# -eq 3 ]] || die "usage: make_seeds.sh OUTDIR COMPACT_IMAGE NTFS_POPULATE"
OUT=$(realpath -m "$1")
COMPACT=$(realpath "$2")
POPULATE=$(realpath "$3")
export LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1
unset MTOOLSRC || true
for tool in mkfs.fat mmd mcopy mdel mdeltree mkntfs ntfsinfo sfdisk sgdisk od dd truncate grep mkfs.exfat \
  mount.exfat-fuse losetup; do
  command -v "$tool" >/dev/null || die "missing tool: $tool"
done

WORK=$(mktemp -d)
EXFAT_LOOP=
# The exFAT volume is filled through FUSE on a loop device; both go however
# the script ends.
trap 'mountpoint -q "$WORK/mnt" 2>/dev/null && umount "$WORK/mnt"; [[ -n $EXFAT_LOOP ]] && losetup -d "$EXFAT_LOOP"; rm -rf "$WORK"' EXIT
rm -rf "$OUT"
mkdir -p "$OUT"/{partitions,fat_dir,fat_volume,ntfs_record,ntfs_volume,exfat_volume,exfat_entry_set}
cd "$WORK"

u16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
# LE bytes of a number, for printf.
le32() { printf '\\%03o\\%03o\\%03o\\%03o' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
poke() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; } # FILE OFFSET PRINTF-BYTES
# Sectors [FIRST, FIRST+COUNT) of IMAGE, appended to OUT.
sectors() { dd if="$1" bs=512 skip="$2" count="$3" status=none >>"$4"; }
# Byte offset of the first match of a Perl regex in a file.
offset_of() { grep -obUaP "$2" "$1" | head -n1 | cut -d: -f1; }

# ---------------------------------------------------------------------------
# FAT32 volumes. Small files, so that the compact form stays small; long
# names enough to push folders over several clusters and names over sector
# and cluster edges; deleted files, a deleted folder tree, a fragmented file.

populate_fat() { # IMAGE
  local img=$1 i
  printf 'keep me\n' >keep.txt
  head -c 3000 /dev/urandom >blob.bin
  : >empty.txt
  mmd -i "$img" ::/Docs ::/Docs/Deeper ::/Trash ::/Trash/Inner ::/Frag
  for i in $(seq 1 30); do
    mcopy -i "$img" keep.txt "::/Docs/A rather long document name, number $i.txt"
  done
  mcopy -i "$img" blob.bin '::/Docs/Deeper/中文 文件名 résumé.bin'
  mcopy -i "$img" blob.bin ::/Trash/a.bin
  mcopy -i "$img" keep.txt ::/Trash/Inner/b.txt
  mcopy -i "$img" empty.txt ::/empty.txt
  mcopy -i "$img" blob.bin ::/root-deleted.bin
  for i in 1 2 3; do mcopy -i "$img" keep.txt "::/Frag/gap$i.txt"; done
  mdel -i "$img" ::/Frag/gap2.txt
  # Forgetting the next-free hint makes the next file take the hole first;
  # FAT12 and FAT16 (a 16-bit FAT size) keep none, and search from the start.
  [[ $(u16 "$img" 22) != 0 ]] || poke "$img" $((512 + 492)) '\377\377\377\377'
  head -c 2600 /dev/urandom >frag.bin
  mcopy -i "$img" frag.bin ::/Frag/fragmented.bin
  mdeltree -i "$img" ::/Trash
  mdel -i "$img" ::/root-deleted.bin '::/Docs/A rather long document name, number 7.txt'
}

truncate -s 34M fat512.img
mkfs.fat -F 32 -S 512 -s 1 -n SEEDFAT -i 5eed0512 fat512.img >/dev/null
populate_fat fat512.img
truncate -s 272M fat4k.img
mkfs.fat -F 32 -S 512 -s 8 -n SEEDFAT4K -i 5eed4096 fat4k.img >/dev/null
populate_fat fat4k.img
# FAT12 (its FAT over several sectors) and FAT16, with their fixed root folders.
truncate -s 2M fat12.img
mkfs.fat -F 12 -S 512 -s 1 -n SEEDFAT12 -i 5eed0c12 fat12.img >/dev/null
populate_fat fat12.img
truncate -s 20M fat16.img
mkfs.fat -F 16 -S 512 -s 2 -n SEEDFAT16 -i 5eed0c16 fat16.img >/dev/null
populate_fat fat16.img

fat_layout() { # IMAGE: sets RSV FATSZ NFAT SPC DATA (first data sector)
  RSV=$(u16 "$1" 14)
  NFAT=$(od -An -tu1 -j16 -N1 "$1" | tr -d ' ')
  SPC=$(od -An -tu1 -j13 -N1 "$1" | tr -d ' ')
  FATSZ=$(u32 "$1" 36)
  DATA=$((RSV + NFAT * FATSZ))
}
# The first cluster of the folder whose 8.3 entry (11 bytes, space-padded)
# stands in the volume.
first_cluster_of() { # IMAGE NAME11
  local at
  at=$(offset_of "$1" "$2\\x10") || true
  [[ -n $at ]] || die "$1: no folder entry $2"
  echo $(($(u16 "$1" $((at + 20))) << 16 | $(u16 "$1" $((at + 26)))))
}
entry_offset_of() { offset_of "$1" "$2\\x10"; }

# --- fat_volume: compact whole volumes -------------------------------------

# The sector after the last non-zero one: where a volume can be cut short
# and still hold everything written to it.
end_of_data() { # IMAGE
  "$COMPACT" pack "$1" end.cpt
  echo $(($(u32 end.cpt $(($(stat -c %s end.cpt) - 516))) + 1))
}
"$COMPACT" pack fat512.img "$OUT/fat_volume/fat512-full"
last_sector=$(($(end_of_data fat512.img) - 1))
"$COMPACT" pack fat512.img "$OUT/fat_volume/fat512-cut" $((last_sector + 1))
"$COMPACT" pack fat4k.img "$OUT/fat_volume/fat4k-cut" "$(end_of_data fat4k.img)"
"$COMPACT" pack fat12.img "$OUT/fat_volume/fat12-full"
"$COMPACT" pack fat16.img "$OUT/fat_volume/fat16-cut" "$(end_of_data fat16.img)"

fat_layout fat512.img
docs=$(first_cluster_of fat512.img 'DOCS       ')
# Docs/Deeper made to start at Docs' own first cluster: a folder that holds
# itself, as a deleted folder whose cluster its parent took would.
cp fat512.img cyclic.img
deeper_at=$(entry_offset_of cyclic.img 'DEEPER     ')
poke cyclic.img $((deeper_at + 20)) "$(le32 $((docs >> 16)) | cut -c1-8)"
poke cyclic.img $((deeper_at + 26)) "$(le32 $((docs & 0xFFFF)) | cut -c1-8)"
"$COMPACT" pack cyclic.img "$OUT/fat_volume/fat512-cyclic-folder" $((last_sector + 1))
# Docs' chain made to loop: its second cluster leads back to its first.
cp fat512.img loop.img
second=$(u32 loop.img $((RSV * 512 + docs * 4)))
poke loop.img $((RSV * 512 + (second & 0x0FFFFFFF) * 4)) "$(le32 "$docs")"
"$COMPACT" pack loop.img "$OUT/fat_volume/fat512-chain-loop" $((last_sector + 1))

# --- fat_dir: directory clusters -------------------------------------------

dir_seed() { # IMAGE OUT LOG2SPC CLUSTERS
  local img=$1 out=$2
  fat_layout "$img"
  local count=$(($(u32 "$img" 32) / SPC))
  printf "\\$(printf %03o "$3")$(le32 "$count")\\001" >"$out"
  sectors "$img" "$RSV" 1 "$out"
  sectors "$img" "$DATA" $(($4 * SPC)) "$out"
}
dir_seed fat512.img "$OUT/fat_dir/spc1-tree" 0 96
dir_seed fat4k.img "$OUT/fat_dir/spc8-tree" 3 14
# The same clusters with the FAT cleared: every chain ends at its first
# cluster, as after a deletion, and every entry's span reads as free.
dir_seed fat512.img fat_dir_free 0 96
dd if=/dev/zero of=fat_dir_free bs=1 seek=$((6 + 8)) count=504 conv=notrunc status=none
mv fat_dir_free "$OUT/fat_dir/spc1-no-chains"
# FAT12 and FAT16: the first FAT sector, the first 4 sectors of the fixed
# root folder (all its entries here), then the first data clusters.
narrow_dir_seed() { # IMAGE OUT LOG2SPC WIDTH-CODE CLUSTERS
  local img=$1 out=$2 spc=$((1 << $3))
  local rsv=$(u16 "$img" 14) fats=$(od -An -tu1 -j 16 -N1 "$img" | tr -d ' ') spf=$(u16 "$img" 22)
  local root=$((rsv + fats * spf)) rootsecs=$((($(u16 "$img" 17) * 32 + 511) / 512))
  local total=$(u16 "$img" 19)
  ((total != 0)) || total=$(u32 "$img" 32)
  printf "\\$(printf %03o "$3")$(le32 $((total / spc)))\\$(printf %03o $((1 | $4 << 1)))" >"$out"
  sectors "$img" "$rsv" 1 "$out"
  sectors "$img" "$root" 4 "$out"
  sectors "$img" $((root + rootsecs)) $(($5 * spc)) "$out"
}
narrow_dir_seed fat16.img "$OUT/fat_dir/fat16-spc2-tree" 1 1 48
narrow_dir_seed fat12.img "$OUT/fat_dir/fat12-spc1-tree" 0 2 96

# --- exfat_volume, exfat_entry_set ------------------------------------------

truncate -s 64M exfat.img
EXFAT_LOOP=$(losetup -f --show exfat.img) || die "losetup failed (needs root and loop devices)"
mkfs.exfat -c 4096 -L SEEDEXFAT "$EXFAT_LOOP" >/dev/null
mkdir -p mnt
mount.exfat-fuse "$EXFAT_LOOP" mnt 2>/dev/null || die "mount.exfat-fuse failed"
mkdir -p mnt/Docs/Deeper mnt/Trash/Inner mnt/Frag
for i in $(seq 1 30); do printf 'keep me\n' >"mnt/Docs/A rather long document name, number $i.txt"; done
head -c 3000 /dev/urandom >'mnt/Docs/Deeper/中文 文件名 résumé 😀.bin'
head -c 9000 /dev/urandom >mnt/Trash/a.bin
printf 'inner\n' >mnt/Trash/Inner/b.txt
: >mnt/empty.txt
head -c 5000 /dev/urandom >mnt/root-deleted.bin
for i in 1 2 3 4 5 6; do
  head -c 4096 /dev/urandom >>mnt/Frag/woven-a.bin
  head -c 4096 /dev/urandom >>mnt/Frag/woven-b.bin
done
rm -r mnt/Trash mnt/root-deleted.bin mnt/Frag/woven-b.bin 'mnt/Docs/A rather long document name, number 7.txt'
umount mnt
losetup -d "$EXFAT_LOOP"
EXFAT_LOOP=
"$COMPACT" pack exfat.img "$OUT/exfat_volume/exfat-full"
"$COMPACT" pack exfat.img "$OUT/exfat_volume/exfat-cut" "$(end_of_data exfat.img)"
# Folder clusters: the root's and the two that follow it (the first
# folders made), each a seed of its own and all three together.
heap=$(u32 exfat.img 88)
root=$(u32 exfat.img 96)
for c in 0 1 2; do
  dd if=exfat.img of="$OUT/exfat_entry_set/cluster-$c" bs=512 skip=$((heap + (root - 2 + c) * 8)) count=8 status=none
done
cat "$OUT"/exfat_entry_set/cluster-{0,1,2} >"$OUT/exfat_entry_set/three-clusters"

# --- partitions: disk images -----------------------------------------------

truncate -s 8M ntfs.img
# mkntfs warns that a file has no disk geometry; only its failure matters.
mkntfs -F -q -Q -s 512 -c 4096 -L SEEDNTFS ntfs.img >mkntfs.log 2>&1 || { cat mkntfs.log >&2; die "mkntfs failed"; }

# 640 sectors: a FAT32 boot area (boot sector, FSInfo, backup, the FATs'
# first sectors) in partition 1, an NTFS boot area in 2, and two logical
# partitions in an extended one.
truncate -s 320K mbr.img
sfdisk -q --no-reread --no-tell-kernel mbr.img >/dev/null <<'EOF'
label: dos
start=8, size=300, type=c
start=308, size=100, type=7
start=420, size=210, type=5
start=424, size=80, type=c
start=520, size=100, type=7
EOF
dd if=fat512.img of=mbr.img bs=512 seek=8 count=300 conv=notrunc status=none
dd if=ntfs.img of=mbr.img bs=512 seek=308 count=100 conv=notrunc status=none
dd if=fat4k.img of=mbr.img bs=512 seek=424 count=80 conv=notrunc status=none
dd if=ntfs.img of=mbr.img bs=512 seek=520 count=100 conv=notrunc status=none
cp mbr.img "$OUT/partitions/mbr-ebr"
# The second EBR's link made to lead to itself: a chain that loops.
rel2=$(u32 mbr.img $((420 * 512 + 446 + 16 + 8)))
((rel2 > 0)) || die "mbr.img: the first EBR has no link"
cp mbr.img ebr-loop.img
link=$(((420 + rel2) * 512 + 446 + 16))
poke ebr-loop.img $((link + 4)) '\005'
poke ebr-loop.img $((link + 8)) "$(le32 "$rel2")"
poke ebr-loop.img $((link + 12)) '\001\000\000\000'
cp ebr-loop.img "$OUT/partitions/ebr-loop"

truncate -s 256K gpt.img
sgdisk -a 1 -n 1:40:339 -t 1:0700 -n 2:340:439 -t 2:0700 gpt.img >/dev/null
dd if=fat512.img of=gpt.img bs=512 seek=40 count=300 conv=notrunc status=none
dd if=ntfs.img of=gpt.img bs=512 seek=340 count=100 conv=notrunc status=none
cp gpt.img "$OUT/partitions/gpt"
cp gpt.img gpt-backup.img
dd if=/dev/zero of=gpt-backup.img bs=512 seek=1 count=1 conv=notrunc status=none
cp gpt-backup.img "$OUT/partitions/gpt-backup-only"
dd if=fat512.img of="$OUT/partitions/bare-fat32" bs=512 count=160 status=none
dd if=ntfs.img of="$OUT/partitions/bare-ntfs" bs=512 count=64 status=none

# --- ntfs_record: MFT records ----------------------------------------------

bps=$(u16 ntfs.img 11)
spc=$(od -An -tu1 -j13 -N1 ntfs.img | tr -d ' ')
cluster=$((bps * spc))
mft=$(($(u32 ntfs.img 48) * cluster))
clusters=$(($(u32 ntfs.img 40) / spc))
indx=$(offset_of ntfs.img 'INDX') || true
for r in $(seq 0 26); do
  out=$OUT/ntfs_record/record-$r
  printf "$(le32 "$clusters")" >"$out"
  dd if=ntfs.img bs=1024 skip=$((mft / 1024 + r)) count=1 status=none >>"$out"
  if [[ $(od -An -c -N4 -j4 "$out" | tr -d ' ') != FILE ]]; then rm -f "$out"; continue; fi
  # The root folder's record with the INDX block of its index.
  if [[ $r == 5 && -n $indx ]]; then dd if=ntfs.img bs=1 skip="$indx" count=4096 status=none >>"$out"; fi
done

# --- ntfs_volume: a compact whole volume -----------------------------------

truncate -s 4M ntfsvol.img
mkntfs -F -q -Q -s 512 -c 1024 -L FUZZNTFS ntfsvol.img >mkntfs.log 2>&1 || { cat mkntfs.log >&2; die "mkntfs failed"; }
printf 'hello\n' >small
head -c 20000 /dev/zero | tr '\0' a >compressible
head -c 3072 /dev/urandom >frag
{
  printf 'mkdir\t%s\n' /Docs /Docs/Deeper /Packed
  printf 'compress\t/Packed\n'
  printf 'file\t%s\t%s\n' /Docs/keep.txt small /Docs/blob.bin blob.bin /Docs/Deeper/gone.txt small \
    /Docs/gone-blob.bin blob.bin /Packed/log.txt compressible /Packed/gone-log.txt compressible /Docs/holes.bin small
  printf 'truncate\t/Docs/holes.bin\t40000\n'
  for at in 0 1024 2048; do printf 'chunk\t%s\tfrag\t%s\t1024\n' /Docs/frag-a.bin "$at" /Docs/frag-b.bin "$at"; done
  printf 'rm\t%s\n' /Docs/frag-b.bin /Docs/Deeper/gone.txt /Docs/gone-blob.bin /Packed/gone-log.txt /Docs/Deeper
} >ntfsvol.cmds
"$POPULATE" ntfsvol.img <ntfsvol.cmds >/dev/null || die "ntfs_populate failed"
# $UpCase and $LogFile are most of what is not zero, and neither scan reads
# them: cleared, they leave the input small enough to mutate.
runs_of() { ntfsinfo -v -F "$2" "$1" 2>/dev/null | awk '/Runlist:/ { on = 1; next } on && /^\t\t\t0x/ { print $2, $3; next } { on = 0 }'; }
clear=$({ runs_of ntfsvol.img '/$UpCase'; runs_of ntfsvol.img '/$LogFile'; })
[[ -n $clear ]] || die "ntfsvol.img: ntfsinfo gave no runs for \$UpCase and \$LogFile"
while read -r lcn len; do
  dd if=/dev/zero of=ntfsvol.img bs=1024 seek=$((lcn)) count=$((len)) conv=notrunc status=none
done <<<"$clear"
"$COMPACT" pack ntfsvol.img "$OUT/ntfs_volume/ntfs1k-full"
# Cut after its last data but before the backup boot sector in its last
# sector: the volume claims more than its image holds.
cp ntfsvol.img ntfscut.img
dd if=/dev/zero of=ntfscut.img bs=512 seek=$(($(stat -c %s ntfscut.img) / 512 - 1)) count=1 conv=notrunc status=none
"$COMPACT" pack ntfsvol.img "$OUT/ntfs_volume/ntfs1k-cut" "$(end_of_data ntfscut.img)"

date -u +%FT%TZ >"$OUT/seeds.stamp"
echo "make_seeds: $(find "$OUT" -type f ! -name seeds.stamp | wc -l) seeds in $OUT"
