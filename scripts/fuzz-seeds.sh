#!/bin/bash
# Makes a starting corpus for each fuzz target in DIR/<target>_fuzz/, from
# the real tools: gzip, xz (one and several blocks, concatenated streams),
# zstd (with and without checksums, two frames), img2simg, a partmap.txt
# and a Rockchip parameter file of the simulated board, RKAF and RKFW
# packages, an MBR with an EBR chain from sfdisk. Without it a fuzzer
# spends its first minutes finding a valid header.
#
# Usage: scripts/fuzz-seeds.sh DIR
#   then e.g. build-fuzz/fuzz/zstd_fuzz DIR/zstd_fuzz -max_total_time=600
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
    -h|--help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    "" | -*) echo "fuzz-seeds.sh: a directory is needed (see --help)" >&2; exit 2 ;;
esac
OUT=$1
WORK=$(mktemp -d "${TMPDIR:-/tmp}/fuzz-seeds.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
for t in gzip xz zstd sparse partmap rkparm rkpackage rkafentry mbrchain; do mkdir -p "$OUT/${t}_fuzz"; done

# Text, random bytes and a zero run, as a disk image has all three.
head -c 3000 /usr/share/common-licenses/GPL-3 > "$WORK/text"
{ head -c 1000 /dev/urandom; head -c 3000 /dev/zero; } > "$WORK/mixed"
gzip -c "$WORK/text" > "$OUT/gzip_fuzz/text.gz"
gzip -c "$WORK/mixed" > "$OUT/gzip_fuzz/mixed.gz"
cat "$OUT/gzip_fuzz/text.gz" "$OUT/gzip_fuzz/mixed.gz" > "$OUT/gzip_fuzz/members.gz"
xz -c "$WORK/text" > "$OUT/xz_fuzz/text.xz"
xz -c -T2 --block-size=1000 "$WORK/mixed" > "$OUT/xz_fuzz/blocks.xz"
xz -c --check=sha256 "$WORK/text" > "$OUT/xz_fuzz/sha256.xz"
cat "$OUT/xz_fuzz/text.xz" "$OUT/xz_fuzz/blocks.xz" > "$OUT/xz_fuzz/streams.xz"
zstd -q -c "$WORK/text" > "$OUT/zstd_fuzz/text.zst"
zstd -q -c --no-check "$WORK/mixed" > "$OUT/zstd_fuzz/mixed.zst"
cat "$OUT/zstd_fuzz/text.zst" "$OUT/zstd_fuzz/mixed.zst" > "$OUT/zstd_fuzz/frames.zst"

# Sparse: raw, fill and don't-care chunks.
{ head -c 4096 /dev/urandom; head -c 8192 /dev/zero; head -c 4096 /dev/urandom; } > "$WORK/disk"
img2simg "$WORK/disk" "$OUT/sparse_fuzz/disk.simg"

./scripts/make-sim-board.sh --sets linux-mbr6,rk3588-gpt "$WORK/board" > /dev/null
cp "$WORK/board/mnt/sdcard/linux-mbr6/partmap.txt" "$OUT/partmap_fuzz/"
cp "$WORK/board/mnt/sdcard/rk3588-gpt/parameter.txt" "$OUT/rkparm_fuzz/"

printf '{"entries":[{"name":"parameter","file":"parameter.txt","parameter":true,"data":"%s"},%s]}' \
    'CMDLINE: mtdparts=rk29xxnand:0x2000@0x4000(uboot),-@0x8000(rootfs:grow)\n' \
    '{"name":"boot","file":"Image/boot.img","size":3000}' > "$WORK/rkaf.json"
python3 tests/rockchip/mkrkfw.py "$WORK/rkaf.json" "$OUT/rkpackage_fuzz/update.img"
echo '{"entries":[{"name":"boot","file":"boot.img","size":500}],"rkfw":{"digest":"lower"}}' > "$WORK/rkfw.json"
python3 tests/rockchip/mkrkfw.py "$WORK/rkfw.json" "$OUT/rkpackage_fuzz/rkfw.img"
# The entry fuzzer takes a count byte, the 16 entries of the header (at
# byte 140) and the data after the 2048-byte header, without the CRC.
python3 -c 'import sys; d = open(sys.argv[1], "rb").read()
sys.stdout.buffer.write(bytes([2]) + d[140:140 + 16 * 112] + d[2048:-4])' \
    "$OUT/rkpackage_fuzz/update.img" > "$OUT/rkafentry_fuzz/two-entries"

# The first 32 KiB of a disk with three primaries and two logicals, packed
# close so that the whole chain is in them.
truncate -s 1M "$WORK/mbr.img"
printf 'label: dos\n8,8\n16,8\n24,8\n32,,5\n40,8\n56,8\n' | sfdisk -q "$WORK/mbr.img"
head -c 32768 "$WORK/mbr.img" > "$OUT/mbrchain_fuzz/ebr-chain"
echo "seeds in $OUT"
