#!/usr/bin/env bash
# The window tests' two FAT32 volumes of 512-byte clusters, made in DIR (which
# holds the test's photo.jpg):
#   views.img  /Docs with sizes whose text order is not their number order and
#              times whose "MM-DD-YYYY" text order is not time order, its
#              photo.jpg deleted; /Keep; /Old/old.bin deleted and its clusters
#              taken by /Later/new.bin (the FSInfo hint forgotten, the first
#              free cluster is reused)
#   keys.img   top.txt, /Docs/letter.txt, /Docs/Old/draft.txt, /Photos with
#              "gone photo.jpg" deleted
#   window-images.sh DIR
set -eu
export MTOOLS_SKIP_CHECK=1
cd "$1"
volume() { truncate -s 40M "$1" && mkfs.fat -F 32 -s 1 -n "$2" "$1" >/dev/null; }

volume views.img VIEWS
yes 'Hello preview, this is the letter.' | head -n 30 >a.txt # 1050 bytes
head -c 100 /dev/urandom >b.txt
head -c 20000 /dev/urandom >c.bin
touch -d '2019-12-01 10:00' a.txt
touch -d '2021-01-05 10:00' b.txt
touch -d '2020-06-15 10:00' c.bin
touch -d '2022-03-03 10:00' photo.jpg
mmd -i views.img ::/Docs ::/Keep
mcopy -m -i views.img a.txt b.txt c.bin photo.jpg ::/Docs/
mcopy -m -i views.img b.txt ::/Keep/b.txt
head -c 3000 /dev/urandom >old.bin
head -c 5000 /dev/urandom >new.bin
mmd -i views.img ::/Old
mcopy -i views.img old.bin ::/Old/old.bin
mdel -i views.img ::/Old/old.bin
printf '\xff\xff\xff\xff' | dd of=views.img bs=1 seek=1004 conv=notrunc status=none
mmd -i views.img ::/Later
mcopy -i views.img new.bin ::/Later/new.bin
mdel -i views.img ::/Docs/photo.jpg

volume keys.img KEYS
for f in top.txt:100 letter.txt:500 draft.txt:700 beach.jpg:3000 'gone photo.jpg:2000'; do
  head -c "${f##*:}" /dev/urandom >"${f%:*}"
done
mmd -i keys.img ::/Docs ::/Docs/Old ::/Photos
mcopy -i keys.img top.txt ::/
mcopy -i keys.img letter.txt ::/Docs/
mcopy -i keys.img draft.txt ::/Docs/Old/
mcopy -i keys.img beach.jpg 'gone photo.jpg' ::/Photos/
mdel -i keys.img '::/Photos/gone photo.jpg'
