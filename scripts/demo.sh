#!/bin/bash
# The main job, end to end: installs the packages the build needs, builds,
# makes a simulated board with image sets produced by real tools, installs
# one set onto its eMMC through the install job, then shows the resulting
# layout (sfdisk) and checks every written partition (cmp, e2fsck, rkcrc).
#
# Usage: demo.sh [image set below /mnt/sdcard] [simulated board directory]
#   sets: linux-mbr4, linux-mbr6 (default), rk3588-gpt, rk3399-legacy,
#         raw-disk/disk.raw, raw-gz/disk.raw.gz, raw-img/system.img
set -euo pipefail
cd "$(dirname "$0")/.."
SET=${1:-linux-mbr6}
SIM=${2:-}

./scripts/deps.sh
echo "== building"
./scripts/build.sh >/dev/null
BUILD_DIR=${BUILD_DIR:-build}
DRIVER=$BUILD_DIR/tools/install-driver/imgsmith-install

if [ -z "$SIM" ]; then
    SIM=$(mktemp -d "${TMPDIR:-/tmp}/imgsmith-demo.XXXXXX")
fi
echo "== making a simulated board in $SIM"
./scripts/make-sim-board.sh "$SIM"

echo "== installing /mnt/sdcard/$SET onto /dev/mmcblk2 of the simulated board"
IMGSMITH_ROOT=$SIM "$DRIVER" --buffer-kib 4096 "/mnt/sdcard/$SET" mmcblk2 | grep -v "MB/s"

echo "== resulting layout of the eMMC"
export PATH="$PATH:/usr/sbin:/sbin"
if grep -q "TYPE: *GPT" "$SIM/mnt/sdcard/$SET/parameter.txt" 2>/dev/null; then
    sgdisk -p "$SIM/dev/mmcblk2"
else
    sfdisk -l "$SIM/dev/mmcblk2"
fi

echo "== verification"
./scripts/verify-install.py "$SIM/dev/mmcblk2" "$SIM/mnt/sdcard/$SET"
echo "The simulated board stays in $SIM (remove it with: rm -rf $SIM)"
