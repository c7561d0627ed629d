#!/bin/bash
# One end-to-end install case: e2e_install.sh <case> <imgsmith-install> <source dir>
# Exit 77 (skipped) when a tool the case needs is missing.
set -uo pipefail
CASE=$1
DRIVER=$2
SRC=$3
export PATH="$PATH:/usr/sbin:/sbin"
for tool in sfdisk sgdisk e2fsck mkfs.ext4 img2simg simg2img gzip cmp rkcrc python3; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/imgsmith-e2e.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
SIM=$WORK/board

fail() {
    echo "FAIL: $*"
    exit 1
}

# make_board <sets>
make_board() {
    "$SRC/scripts/make-sim-board.sh" --sets "$1" "$SIM" >/dev/null || fail "make-sim-board.sh"
}

# install <set> [driver options...]: runs the driver, keeps its output in $WORK/out
install() {
    local set=$1
    shift
    IMGSMITH_ROOT=$SIM "$DRIVER" --buffer-kib 1024 "$@" "/mnt/sdcard/$set" mmcblk2 > "$WORK/out" 2>&1
    local rc=$?
    [ $rc -gt 1 ] && { cat "$WORK/out"; echo "driver exit status $rc"; }
    sed -n '/^error:\|^All done\|^Installing/p' "$WORK/out"
    return $rc
}

verify() {
    "$SRC/scripts/verify-install.py" "$1" "$2" || fail "verification of $2"
}

# Progress lines of the driver: "(Step i/n) Writing ... p%"
check_steps() {
    python3 - "$WORK/out" <<'PY' || fail "step numbering"
import re, sys
steps = [tuple(map(int, m.groups())) for m in re.finditer(r"^\(Step (\d+)/(\d+)\) Writing .* +(\d+)%$", open(sys.argv[1]).read(), re.M)]
assert steps, "no progress lines"
n = steps[0][1]
assert all(s[1] == n for s in steps), "file count changes"
seen = {}
for i, _, p in steps:
    seen.setdefault(i, []).append(p)
assert sorted(seen) == list(range(1, n + 1)), "files %s of %d" % (sorted(seen), n)
for i, ps in seen.items():
    assert ps[0] == 0 and ps[-1] == 100, "file %d: %s" % (i, ps)
    assert all(a < b for a, b in zip(ps, ps[1:])), "file %d not rising once per percent: %s" % (i, ps)
print("  ok    %d files, each 0..100%% rising, one line per percent" % n)
PY
}

case "$CASE" in
partmap-mbr4)
    make_board linux-mbr4
    install linux-mbr4 || fail "install"
    check_steps
    verify "$SIM/dev/mmcblk2" "$SIM/mnt/sdcard/linux-mbr4"
    # The last partition grows to the end of the device.
    sfdisk --json "$SIM/dev/mmcblk2" | python3 -c '
import json, sys
p = json.load(sys.stdin)["partitiontable"]["partitions"]
assert len(p) == 4, p
assert p[-1]["start"] + p[-1]["size"] == 256 * 2048, p[-1]
print("  ok    last partition ends at the end of the device")' || fail "growing partition"
    ;;
partmap-mbr6)
    make_board linux-mbr6
    install linux-mbr6 || fail "install"
    check_steps
    verify "$SIM/dev/mmcblk2" "$SIM/mnt/sdcard/linux-mbr6"
    sfdisk --json "$SIM/dev/mmcblk2" | python3 -c '
import json, sys
p = json.load(sys.stdin)["partitiontable"]["partitions"]
types = [x["type"] for x in p]
assert types.count("5") == 1 and len(p) == 7, types
print("  ok    three primaries, an extended partition and three logical partitions")' || fail "EBR chain"
    ;;
rk-gpt)
    make_board rk-gpt
    install rk3588-gpt || fail "install"
    check_steps
    verify "$SIM/dev/mmcblk2" "$SIM/mnt/sdcard/rk3588-gpt"
    ;;
rk-legacy)
    make_board rk-legacy
    install rk3399-legacy || fail "install"
    check_steps
    verify "$SIM/dev/mmcblk2" "$SIM/mnt/sdcard/rk3399-legacy"
    ;;
raw-disk | raw-gz | raw-img)
    make_board raw
    # An old GPT on the device whose backup header must not survive.
    printf 'label: gpt\nstart=2048, size=8192\n' | sfdisk -q "$SIM/dev/mmcblk2" || fail "old GPT"
    case "$CASE" in
        raw-disk) img=raw-disk/disk.raw ;;
        raw-gz) img=raw-gz/disk.raw.gz ;;
        raw-img) img=raw-img/system.img ;;
    esac
    install "$img" || fail "install"
    check_steps
    verify "$SIM/dev/mmcblk2" "$SIM/mnt/sdcard/$img"
    sfdisk --json "$SIM/dev/mmcblk2" | tr -d ' \n' | grep -q '"label":"dos"' || fail "the image's MBR is not what sfdisk sees"
    echo "  ok    sfdisk reads the image's MBR"
    ;;
low-format-nvme)
    make_board linux-mbr4
    # Leftovers of an earlier system: random bytes, no MBR signature.
    dd if=/dev/urandom of="$SIM/dev/nvme0n1" bs=1M count=1 conv=notrunc status=none
    printf '\000\000' | dd of="$SIM/dev/nvme0n1" bs=1 seek=510 conv=notrunc status=none
    IMGSMITH_ROOT=$SIM "$DRIVER" --low-format /mnt/sdcard/linux-mbr4 nvme0n1 > "$WORK/out" 2>&1
    rc=$?
    [ $rc = 0 ] || { cat "$WORK/out"; fail "install (exit status $rc)"; }
    grep -q "^Low format done" "$WORK/out" || fail "no low-format event"
    first_lf=$(grep -n "^Low format" "$WORK/out" | head -1 | cut -d: -f1)
    first_write=$(grep -n "^(Step" "$WORK/out" | head -1 | cut -d: -f1)
    [ "$first_lf" -lt "$first_write" ] || fail "low format after writing began"
    echo "  ok    low format reported before the first partition"
    verify "$SIM/dev/nvme0n1" "$SIM/mnt/sdcard/linux-mbr4"
    cmp -s -n 1048576 "$SIM/dev/mmcblk2" /dev/zero || fail "the eMMC was touched"
    echo "  ok    the eMMC was not touched"
    ;;
cancel-driver)
    make_board linux-mbr4
    if install linux-mbr4 --cancel-at 3:20; then fail "a cancelled install reported success"; fi
    grep -q "^error: The install was cancelled.$" "$WORK/out" || fail "no cancel message"
    [ "$(grep -c '^error:\|^All done' "$WORK/out")" = 1 ] || fail "not exactly one terminal event"
    echo "  ok    one error event saying the install was cancelled"
    ;;
*)
    fail "unknown case $CASE"
    ;;
esac
echo "PASS: $CASE"
