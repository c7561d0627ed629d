#!/bin/bash
# Unattended install through the real imgsmith-gui, offscreen, on a simulated
# RK3588 board: gui_autoexit.sh <good|too-large> <imgsmith-gui> <source dir>.
#   good       exits 0 and the eMMC passes verify-install.py
#   too-large  (an image larger than its partition) exits 1, and nothing but
#              the eMMC and the program's own files in /tmp changed
# Exit 77 (skipped) when a tool is missing.
set -uo pipefail
CASE=$1
GUI=$2
SRC=$3
export PATH="$PATH:/usr/sbin:/sbin"
for tool in sfdisk e2fsck mkfs.ext4 img2simg simg2img cmp python3 sha256sum timeout; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
done
WORK=$(mktemp -d "${TMPDIR:-/tmp}/imgsmith-gui-e2e.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
SIM=$WORK/board
fail() { echo "FAIL: $*"; [ -f "$WORK/out" ] && tail -30 "$WORK/out"; exit 1; }

"$SRC/scripts/make-sim-board.sh" --sets linux-mbr4 "$SIM" >/dev/null || fail "make-sim-board.sh"
SET=linux-mbr4
if [ "$CASE" = too-large ]; then
    # The same set with a boot partition of 1 MiB for its 16 MiB boot.img.
    SET=too-large
    cp -a "$SIM/mnt/sdcard/linux-mbr4" "$SIM/mnt/sdcard/$SET"
    sed -i 's/boot:ext4:0x100000,0x1000000:/boot:ext4:0x100000,0x100000:/' "$SIM/mnt/sdcard/$SET/partmap.txt"
    grep -q '0x100000,0x100000:boot.img' "$SIM/mnt/sdcard/$SET/partmap.txt" || fail "partmap edit"
fi

touch "$WORK/start"
sleep 1   # mtime granularity: every later write is newer than the marker
IMGSMITH_ROOT=$SIM IMGSMITH_SIM_TOOLS_LOG=$WORK/tools.log QT_QPA_PLATFORM=offscreen \
    PATH="$SRC/scripts/sim-tools:$PATH" \
    timeout 300 "$GUI" -i "/mnt/sdcard/$SET" --auto-exit > "$WORK/out" 2>&1
rc=$?
echo "imgsmith-gui exit status $rc"

if [ "$CASE" = good ]; then
    [ $rc -eq 0 ] || fail "exit status $rc, expected 0"
    "$SRC/scripts/verify-install.py" "$SIM/dev/mmcblk2" "$SIM/mnt/sdcard/$SET" || fail "verification"
    exit 0
fi

[ $rc -eq 1 ] || fail "exit status $rc, expected 1"
grep -q "boot.img too big" "$SIM/tmp/imgsmith-gui.log" || fail "no size error in the log"
# The one thing a failed install leaves on the card is its record.
python3 - "$SIM/mnt/sdcard/imgsmith-report.jsonl" <<'PY' || fail "install report"
import json, sys
(r,) = [json.loads(line) for line in open(sys.argv[1], "rb")]
assert r["result"] == "failed" and "boot.img too big" in r["error"], r
assert r["imageSet"]["path"] == "/mnt/sdcard/too-large" and r["targets"][0]["device"] == "/dev/mmcblk2", r
PY
changed=$(cd "$SIM" && find . -newer "$WORK/start" -type f ! -path ./dev/mmcblk2 ! -path './tmp/*' \
          ! -path ./mnt/sdcard/imgsmith-report.jsonl | sort)
[ -z "$changed" ] || fail "written outside the target: $changed"
echo "  ok    exit 1, nothing outside the target changed but the install report"
exit 0
