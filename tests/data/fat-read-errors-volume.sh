#!/usr/bin/env bash
# The FAT32 volume of fat_read_errors_test, made as vol.img in the current
# folder. 512-byte clusters, so that every folder spans several clusters
# (chained across the files written between them): the root, /Lost (30
# deleted files), /Keep (30 files, then /Keep/Sub), /Names (names of three
# long-name entries, whose runs cross sector edges). In the root: a deleted
# file whose cluster a later file took, one whose cluster is free, and two
# files of 1 MiB, one deleted.
set -e
export MTOOLS_SKIP_CHECK=1
truncate -s 48M vol.img
mkfs.fat -F 32 -s 1 -n READERR vol.img >/dev/null
m() { mcopy -i vol.img "$@"; }
echo readme >f
m f ::/README.TXT
mmd -i vol.img ::/Lost ::/Keep
for i in $(seq -w 20); do echo "$i" >f; m f "::/Root file $i"; done
for i in $(seq -w 30); do echo "$i" >f; m f "::/Lost/Lost file $i"; m f "::/Keep/Kept file $i"; done
mmd -i vol.img ::/Keep/Sub ::/Names ::/Other
for i in 1 2 3; do m f "::/Keep/Sub/Sub file $i"; done
for i in $(seq -w 12); do m f "::/Names/A rather longer file name $i.txt"; done
# The filler moves the next files' FAT entries out of the sector of the folders'.
head -c 60000 /dev/urandom >f; m f ::/filler.bin
head -c 1000 /dev/urandom >f; m f ::/victim.bin; m f ::/freed.bin
head -c 1048576 /dev/urandom >f; m f ::/big.bin; m f ::/gone.bin
mdel -i vol.img ::/victim.bin ::/freed.bin
# Forgetting the next-free hint makes the next file take victim's cluster.
printf '\377\377\377\377' | dd of=vol.img bs=1 seek=1004 conv=notrunc status=none
head -c 700 /dev/urandom >f; m f ::/Other/taker.bin
mdel -i vol.img ::/gone.bin
for i in $(seq -w 30); do mdel -i vol.img "::/Lost/Lost file $i"; done
