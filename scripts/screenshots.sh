#!/bin/bash
# Renders the OS selection screen (icon and list style, with image sets and
# without) at 800x480 and 1920x1080 into docs/screenshots/, offscreen on
# simulated boards. Run after changing how a screen looks.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
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
mkdir -p docs/screenshots
for size in 800x480 1920x1080; do
    for view in icon list; do
        IMGSMITH_ROOT=$WORK/sets PATH="$PWD/scripts/sim-tools:$PATH" "$SHOT" "$size" "$view" \
            "docs/screenshots/os-list-$view-$size.png" 2>/dev/null
        echo "docs/screenshots/os-list-$view-$size.png"
    done
    IMGSMITH_ROOT=$WORK/none PATH="$PWD/scripts/sim-tools:$PATH" "$SHOT" "$size" list \
        "docs/screenshots/os-list-empty-$size.png" 2>/dev/null
    echo "docs/screenshots/os-list-empty-$size.png"
done
# The on-screen keyboard over a file-name dialog.
"$BUILD_DIR/tools/keyboard-screenshot/imgsmith-keyboard-screenshot" docs/screenshots/keyboard-800x480.png 2>/dev/null
echo docs/screenshots/keyboard-800x480.png

# The install preview and the progress view of a real install, held midway.
INSTALL_SHOT=$BUILD_DIR/tools/install-screenshots/imgsmith-install-screenshot
for size in 800x480 1920x1080; do
    for view in preview progress; do
        rm -rf "$WORK/install"
        ./scripts/make-sim-board.sh --sets linux-mbr4 "$WORK/install" >/dev/null
        IMGSMITH_ROOT=$WORK/install PATH="$PWD/scripts/sim-tools:$PATH" "$INSTALL_SHOT" "$size" "$view" \
            /mnt/sdcard/linux-mbr4 "docs/screenshots/install-$view-$size.png" >/dev/null 2>&1
        echo "docs/screenshots/install-$view-$size.png"
    done
done
