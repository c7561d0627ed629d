#!/bin/bash
# The real imgsmith-gui, offscreen on a simulated board with the scan tree:
# it starts full screen, runs its event loop and offers exactly the expected
# image sets in display order (read from its debug listing of the scan).
# Usage: gui_scan_process.sh <imgsmith-gui> <source dir>
set -euo pipefail
GUI=$1
SRC=$2
WORK=$(mktemp -d "${TMPDIR:-/tmp}/guiscan.XXXXXX")
PID=
cleanup() {
    if [ -n "$PID" ]; then kill "$PID" 2>/dev/null; wait "$PID" 2>/dev/null || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT
ROOT=$WORK/board
"$SRC/scripts/make-sim-board.sh" --sets none "$ROOT" >/dev/null
"$SRC/tests/ui/make-scan-tree.sh" "$ROOT"

IMGSMITH_ROOT=$ROOT QT_QPA_PLATFORM=offscreen debug_imgsmith=1 PATH="$SRC/scripts/sim-tools:$PATH" \
    "$GUI" > "$WORK/out" 2> "$WORK/err" &
PID=$!
for _ in $(seq 1 300); do
    grep -q -- '------- reloadImageFiles done.' "$WORK/err" && break
    kill -0 "$PID" 2>/dev/null || { echo "imgsmith-gui ended early:"; cat "$WORK/err"; exit 1; }
    sleep 0.1
done
got=$(sed -n '/>>>>>>>> reloadImageFiles end/,/reloadImageFiles done/p' "$WORK/err" | grep -E '^ +[0-9]+\) ' | sed 's/^ *//')
expected="1) /mnt/sdcard/ubuntu-noble-desktop-arm64
2) /mnt/sdcard/a-ubuntu-jammy
3) /mnt/sdcard/debian-bookworm
4) /mnt/sdcard/debian-bookworm/extra
5) /mnt/sdcard/loose-with-map
6) /mnt/sdcard/loose/boot.img
7) /mnt/sdcard/loose/rootfs.img
8) /mnt/sdcard/single/disk.raw"
if [ "$got" != "$expected" ]; then
    echo "sets offered:"; echo "$got"; echo "expected:"; echo "$expected"
    exit 1
fi
# Still running its event loop: the window stays up until the user quits.
kill -0 "$PID"
# The default configuration was written after the scan, listing the sets
# relative to their medium.
grep -q '^; Available values: ubuntu-noble-desktop-arm64, a-ubuntu-jammy, ' "$ROOT/mnt/sdcard/imgsmith.conf"
echo "imgsmith-gui offers the expected sets"
