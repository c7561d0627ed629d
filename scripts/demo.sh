#!/bin/bash
# The main job, end to end: installs the packages the build needs, builds,
# makes a simulated board with image sets produced by real tools, installs
# one set onto its eMMC through the headless installer, then shows the
# resulting layout (sfdisk/sgdisk) and checks every written partition
# (scripts/verify-install.py: cmp, e2fsck, simg2img, gzip, rkcrc).
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    cat <<USAGE
usage: demo.sh [image set] [simulated board directory]

Builds imgsmith, makes a simulated board (scripts/make-sim-board.sh) holding
the image set, installs it onto the board's eMMC with imgsmith-install and
verifies the result with independent tools.

image sets: linux-mbr4, linux-mbr6 (default), rk3588-gpt, rk3399-legacy,
            raw-disk, raw-gz, raw-img (see make-sim-board.sh --help)
The board directory is made with mktemp when not given, and kept.
USAGE
}
case "${1:-}" in
    -h|--help) usage; exit 0 ;;
    -*) echo "demo: unknown option $1" >&2; usage >&2; exit 2 ;;
esac
[ $# -le 2 ] || { usage >&2; exit 2; }
SET=${1:-linux-mbr6}
SIM=${2:-}
# The set names are those of make-sim-board.sh; it refuses any other. grep
# reads the whole list: with -q it could leave early and, under pipefail,
# the lister's broken pipe would fail a known name.
if ! ./scripts/make-sim-board.sh --list-sets | grep -x -- "$SET" > /dev/null; then
    echo "demo: unknown image set '$SET'" >&2
    usage >&2
    exit 2
fi

./scripts/deps.sh
echo "== building"
BUILD_DIR=${BUILD_DIR:-build}
BUILD_DIR=$BUILD_DIR BUILD_TARGET=imgsmith-install ./scripts/build.sh >/dev/null
DRIVER=$BUILD_DIR/tools/install-driver/imgsmith-install

if [ -z "$SIM" ]; then
    SIM=$(mktemp -d "${TMPDIR:-/tmp}/imgsmith-demo.XXXXXX")
fi
echo "== making a simulated board in $SIM"
./scripts/make-sim-board.sh --sets "$SET" "$SIM"

echo "== installing /mnt/sdcard/$SET onto /dev/mmcblk2 of the simulated board"
IMGSMITH_ROOT=$SIM "$DRIVER" --buffer-kib 4096 "/mnt/sdcard/$SET" mmcblk2

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
