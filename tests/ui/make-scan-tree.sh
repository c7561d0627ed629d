#!/bin/bash
# Lays out image sets for the scan tests below <root>/mnt (a board made by
# make-sim-board.sh --sets none): nested sets, loose disk images with and
# without a partition map, a set for another board, the board's recommended
# set, and a USB drive that holds a copied root file system.
# Usage: make-scan-tree.sh [--no-udisk] <root>
set -euo pipefail
UDISK=yes
if [ "$1" = --no-udisk ]; then UDISK=no; shift; fi
ROOT=$1
SD=$ROOT/mnt/sdcard
UD=$ROOT/mnt/udisk

dirset() {   # <dir>: a minimal partition-map set
    mkdir -p "$1"
    printf 'flash=mmc,0:boot:ext4:0x100000,0x1000000:boot.img;\n' > "$1/partmap.txt"
    head -c 4096 /dev/zero > "$1/boot.img"
}

dirset "$SD/a-ubuntu-jammy"
dirset "$SD/ubuntu-noble-desktop-arm64"
dirset "$SD/debian-bookworm"
dirset "$SD/debian-bookworm/extra"             # a set inside a set, two levels down
dirset "$SD/debian-bookworm/extra/too-deep"    # three levels down: not looked at
dirset "$SD/loose-with-map"
head -c 65536 /dev/zero > "$SD/loose-with-map/rootfs.img"
mkdir -p "$SD/loose"                           # no map: each image is a raw set
head -c 4096 /dev/zero > "$SD/loose/boot.img"
head -c 65536 /dev/zero > "$SD/loose/rootfs.img"
head -c 4096 /dev/zero > "$SD/loose/idbloader.img"
dirset "$SD/other-board"
printf 'title=Other\nrequire-board=SomeOtherBoard\n' > "$SD/other-board/info.conf"
mkdir -p "$SD/single"
head -c 8192 /dev/zero > "$SD/single/disk.raw"
printf 'title=Single disk\n' > "$SD/single/disk.raw.conf"

# The USB drive holds a copy of a root file system (with a set inside it):
# none of it is offered.
[ "$UDISK" = yes ] || exit 0
mkdir -p "$UD"/{bin,dev,usr,root,home}
dirset "$UD/home/debian-usb"
echo "/dev/sda1 /mnt/udisk ext4 rw,relatime 0 0" >> "$ROOT/proc/mounts"
