#!/bin/bash
# Renders the screens the README shows into docs/screenshots/, offscreen on
# simulated boards: the OS list (icon and list style, with image sets and
# without), the install preview and the progress view at 800x480 and
# 1920x1080, the on-screen keyboard at 800x480. Run after changing a screen.
#
# Usage: scripts/screenshots.sh
#   BUILD_DIR        build directory (default build)
#   SCREENSHOTS_DIR  where the images go (default docs/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
    -h|--help)
        sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'
        exit 0 ;;
    ?*) echo "screenshots.sh: no arguments expected (see --help)" >&2; exit 2 ;;
esac
BUILD_DIR=${BUILD_DIR:-build}
OUT=${SCREENSHOTS_DIR:-docs/screenshots}
BUILD_TARGET=imgsmith-screenshot ./scripts/build.sh >/dev/null
BUILD_TARGET=imgsmith-keyboard-screenshot ./scripts/build.sh >/dev/null
BUILD_TARGET=imgsmith-install-screenshot ./scripts/build.sh >/dev/null
SHOT=$BUILD_DIR/tools/screenshots/imgsmith-screenshot
WORK=$(mktemp -d "${TMPDIR:-/tmp}/shots.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
./scripts/make-sim-board.sh --sets none "$WORK/sets" >/dev/null
./tests/ui/make-scan-tree.sh "$WORK/sets"
# Titles as a maker would ship them.
printf 'title=Ubuntu 24.04 Desktop\nversion=24.04.1\n' > "$WORK/sets/mnt/sdcard/ubuntu-noble-desktop-arm64/info.conf"
printf 'title=Debian 12 Core\nversion=12.7\n' > "$WORK/sets/mnt/sdcard/debian-bookworm/info.conf"
./scripts/make-sim-board.sh --sets none "$WORK/none" >/dev/null
mkdir -p "$OUT"
for size in 800x480 1920x1080; do
    for view in icon list; do
        IMGSMITH_ROOT=$WORK/sets PATH="$PWD/scripts/sim-tools:$PATH" "$SHOT" "$size" "$view" \
            "$OUT/os-list-$view-$size.png" 2>/dev/null
        echo "$OUT/os-list-$view-$size.png"
    done
    IMGSMITH_ROOT=$WORK/none PATH="$PWD/scripts/sim-tools:$PATH" "$SHOT" "$size" list \
        "$OUT/os-list-empty-$size.png" 2>/dev/null
    echo "$OUT/os-list-empty-$size.png"
done
# The on-screen keyboard over a file-name dialog.
"$BUILD_DIR/tools/keyboard-screenshot/imgsmith-keyboard-screenshot" "$OUT"/keyboard-800x480.png 2>/dev/null
echo "$OUT"/keyboard-800x480.png

# The install preview and the progress view of a real install, held midway.
INSTALL_SHOT=$BUILD_DIR/tools/install-screenshots/imgsmith-install-screenshot
for size in 800x480 1920x1080; do
    for view in preview progress; do
        rm -rf "$WORK/install"
        ./scripts/make-sim-board.sh --sets linux-mbr4 "$WORK/install" >/dev/null
        IMGSMITH_ROOT=$WORK/install PATH="$PWD/scripts/sim-tools:$PATH" "$INSTALL_SHOT" "$size" "$view" \
            /mnt/sdcard/linux-mbr4 "$OUT/install-$view-$size.png" >/dev/null 2>&1
        echo "$OUT/install-$view-$size.png"
    done
done
