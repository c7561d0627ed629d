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

# make_board <sets> [make-sim-board options...]
make_board() {
    "$SRC/scripts/make-sim-board.sh" --sets "$1" "${@:2}" "$SIM" >/dev/null || fail "make-sim-board.sh"
}

# install <set> [driver options...]: runs the driver onto $DEVICE (the eMMC
# unless set), keeps its output in $WORK/out
install() {
    local set=$1
    shift
    IMGSMITH_ROOT=$SIM "$DRIVER" --buffer-kib 1024 "$@" "/mnt/sdcard/$set" "${DEVICE:-mmcblk2}" > "$WORK/out" 2>&1
    local rc=$?
    [ $rc -gt 1 ] && { cat "$WORK/out"; echo "driver exit status $rc"; }
    sed -n '/^error:\|^All done\|^Image set/p' "$WORK/out"
    return $rc
}

verify() {
    "$SRC/scripts/verify-install.py" "$1" "$2" || fail "verification of $2"
}

# Step lines of the driver: "[i/n] Writing <image> to <partition>" or a
# line saying why nothing is written; into a file, percent lines
# "[i/n] <partition>  p%" follow each written step.
check_steps() {
    python3 - "$WORK/out" <<'PY' || fail "step lines"
import re, sys
text = open(sys.argv[1]).read()
heads = [(int(i), int(n), rest) for i, n, rest in re.findall(r"^\[(\d+)/(\d+)\] (.*\S)$", text, re.M)
         if not re.search(r" +\d+%$", rest)]
# A verified image's read-back is a step line of its own after the write.
checks = [h for h in heads if h[2].startswith("Verifying")]
heads = [h for h in heads if h not in checks]
assert all(any(h[0] == c[0] and h[2].startswith("Writing") for h in heads) for c in checks), "verify without write"
assert heads, "no step lines"
n = heads[0][1]
assert all(h[1] == n for h in heads), "step count changes"
assert sorted(h[0] for h in heads) == list(range(1, n + 1)), "steps %s of %d" % ([h[0] for h in heads], n)
assert not any(re.search(r"(^| )(to )?$|\[\]|/dev/null", h[2]) for h in heads), "empty name in %s" % heads
seen = {}
for i, _, p in re.findall(r"^\[(\d+)/(\d+)\] \S+ +(\d+)%$", text, re.M):
    seen.setdefault(int(i), []).append(int(p))
for i, _, rest in heads:
    ps = seen.get(i, [])
    if rest.startswith("Writing"):
        assert ps and ps[0] == 0 and ps[-1] == 100, "step %d: %s" % (i, ps)
        assert all(a < b for a, b in zip(ps, ps[1:])), "step %d not rising once per percent: %s" % (i, ps)
    else:
        assert not ps, "step %d writes nothing but shows %s" % (i, ps)
assert not re.search(r"^[0-9a-f]{8}-[0-9a-f]{4}-", text, re.M | re.I) and ": 614e0000" not in text, "stray UUID line"
written = sum(1 for h in heads if h[2].startswith("Writing"))
m = re.search(r"^All done: (\d+) bytes of image files .* in [0-9.]+ s", text, re.M)
assert m and int(m.group(1)) > 0, "summary with bytes and time"
print("  ok    %d steps (%d written, each 0..100%% rising), summary of %s bytes" % (n, written, m.group(1)))
PY
}

case "$CASE" in
partmap-mbr4 | partmap-mbr6 | rk-gpt | rk-legacy)
    set=${CASE/partmap-/linux-}
    set=${set/rk-gpt/rk3588-gpt}
    set=${set/rk-legacy/rk3399-legacy}
    make_board "$set"
    install "$set" || fail "install"
    check_steps
    verify "$SIM/dev/mmcblk2" "$SIM/mnt/sdcard/$set"
    # mbr4: the last partition grows to the end of the device; mbr6: three
    # primaries, an extended partition and three logical partitions.
    case "$CASE" in partmap-*)
        sfdisk --json "$SIM/dev/mmcblk2" | python3 -c '
import json, sys
p = json.load(sys.stdin)["partitiontable"]["partitions"]
if sys.argv[1] == "partmap-mbr4":
    assert len(p) == 4 and p[-1]["start"] + p[-1]["size"] == 256 * 2048, p
else:
    assert [x["type"] for x in p].count("5") == 1 and len(p) == 7, p
print("  ok    the partition table as sfdisk reads it")' "$CASE" || fail "partition table" ;;
    esac
    ;;
raw-disk | raw-gz)
    make_board "${CASE}"
    # An old GPT on the device whose backup header must not survive.
    printf 'label: gpt\nstart=2048, size=8192\n' | sfdisk -q "$SIM/dev/mmcblk2" || fail "old GPT"
    case "$CASE" in
        raw-disk) img=raw-disk/disk.raw ;;
        raw-gz) img=raw-gz/disk.raw.gz ;;
    esac
    # The gzip image is also read back (--verify): the hash it reports is
    # what gzip -dc gives.
    opts=()
    [ "$CASE" = raw-gz ] && opts=(--verify)
    install "$img" "${opts[@]}" || fail "install"
    check_steps
    verify "$SIM/dev/mmcblk2" "$SIM/mnt/sdcard/$img"
    if [ "$CASE" = raw-gz ]; then
        command -v xxhsum >/dev/null || { echo "SKIP: xxhsum not installed"; exit 77; }
        grep -q "^\[1/1\] Verifying disk.raw.gz on root" "$WORK/out" || fail "no verifying step"
        want=$(gzip -dc "$SIM/mnt/sdcard/$img" | xxhsum -H3 | sed 's/.*= //')
        grep -q "^  verified: /mnt/sdcard/$img (root), [0-9]* bytes, XXH3 $want\$" "$WORK/out" || { cat "$WORK/out"; fail "verified hash, want $want"; }
        echo "  ok    read back after writing; XXH3 $want as gzip -dc | xxhsum -H3"
    fi
    sfdisk --json "$SIM/dev/mmcblk2" | tr -d ' \n' | grep -q '"label":"dos"' || fail "the image's MBR is not what sfdisk sees"
    echo "  ok    sfdisk reads the image's MBR"
    ;;
allwinner-raw)
    # Without --buffer-kib the copy memory follows the SoC, as in imgsmith-gui.
    make_board raw-disk --board allwinner
    IMGSMITH_ROOT=$SIM "$DRIVER" /mnt/sdcard/raw-disk/disk.raw mmcblk2 > "$WORK/out" 2>&1 || { cat "$WORK/out"; fail "install"; }
    verify "$SIM/dev/mmcblk2" "$SIM/mnt/sdcard/raw-disk/disk.raw"
    grep -q "^copy buffer size: 8388608 bytes$" "$SIM/tmp/imgsmith-gui.log" || fail "the H3 did not get 8 MiB of copy memory"
    echo "  ok    8 MiB of copy memory on the H3"
    ;;
low-format-nvme)
    make_board linux-mbr4
    # Leftovers of an earlier system: random bytes, no MBR signature.
    dd if=/dev/urandom of="$SIM/dev/nvme0n1" bs=1M count=1 conv=notrunc status=none
    printf '\000\000' | dd of="$SIM/dev/nvme0n1" bs=1 seek=510 conv=notrunc status=none
    DEVICE=nvme0n1 install linux-mbr4 --low-format || fail "install"
    grep -q "^Low format done" "$WORK/out" || fail "no low-format event"
    first_lf=$(grep -n "^Low format: erasing" "$WORK/out" | head -1 | cut -d: -f1)
    first_write=$(grep -n "^\[1/" "$WORK/out" | head -1 | cut -d: -f1)
    [ "$first_lf" -lt "$first_write" ] || fail "low format after writing began"
    echo "  ok    low format reported before the first partition"
    verify "$SIM/dev/nvme0n1" "$SIM/mnt/sdcard/linux-mbr4"
    cmp -s -n 1048576 "$SIM/dev/mmcblk2" /dev/zero || fail "the eMMC was touched"
    echo "  ok    the eMMC was not touched"
    ;;
cancel-driver)
    make_board linux-mbr4
    install linux-mbr4 --cancel-at 3:20
    rc=$?
    [ $rc = 1 ] || fail "a cancelled install ended with status $rc, not 1"
    grep -q "^error: The install was cancelled.$" "$WORK/out" || fail "no cancel message"
    [ "$(grep -c '^error:\|^All done' "$WORK/out")" = 1 ] || fail "not exactly one terminal event"
    echo "  ok    one error event saying the install was cancelled"
    ;;
cli-refusals)
    make_board linux-mbr4
    cp "$SIM/dev/mmcblk2" "$WORK/before"
    # expect_usage <what> <text in the message> <arguments...>: exit 2, nothing written.
    expect_usage() {
        local what=$1 text=$2
        shift 2
        IMGSMITH_ROOT=$SIM "$DRIVER" "$@" > "$WORK/out" 2>&1
        local rc=$?
        [ $rc = 2 ] || { cat "$WORK/out"; fail "$what: exit status $rc, not 2"; }
        grep -q -- "$text" "$WORK/out" || { cat "$WORK/out"; fail "$what: no '$text'"; }
        echo "  ok    $what: exit 2, '$text'"
    }
    expect_usage "no arguments" "no image set given"
    expect_usage "no boot device" "no boot device given" /mnt/sdcard/linux-mbr4
    expect_usage "unknown option" "Unknown option" --frobnicate /mnt/sdcard/linux-mbr4 mmcblk2
    expect_usage "missing set" "/mnt/sdcard/nothing: not found" /mnt/sdcard/nothing mmcblk2
    expect_usage "directory that is no set" "/mnt/sdcard: not an image set" /mnt/sdcard mmcblk2
    expect_usage "file that is no set" "not an image set" /mnt/sdcard/linux-mbr4/partmap.txt mmcblk2
    gzip -c "$SIM/mnt/sdcard/linux-mbr4/partmap.txt" > "$SIM/mnt/sdcard/DISK.GZ"
    expect_usage "upper-case suffix" "not an image set" /mnt/sdcard/DISK.GZ mmcblk2
    expect_usage "missing device" "/dev/sdz: no such device" /mnt/sdcard/linux-mbr4 sdz
    expect_usage "bad --cancel-at" "cancel-at wants" --cancel-at x /mnt/sdcard/linux-mbr4 mmcblk2
    cmp -s "$WORK/before" "$SIM/dev/mmcblk2" || fail "a refused command wrote the eMMC"
    echo "  ok    the eMMC is untouched"
    "$DRIVER" --version | grep -q "^imgsmith-install v[0-9]" || fail "--version"
    "$DRIVER" --help | grep -q -- "--yes" || fail "--help"
    echo "  ok    --version, --help"
    # Without a simulation root a real device needs --yes: the plan is shown,
    # exit 3. /dev/zero stands in for the device; nothing can be written to it.
    env -u IMGSMITH_ROOT "$DRIVER" "$SIM/mnt/sdcard/linux-mbr4" zero > "$WORK/out" 2>&1
    rc=$?
    [ $rc = 3 ] || { cat "$WORK/out"; fail "no --yes: exit status $rc, not 3"; }
    grep -q "^Boot device: *\/dev\/zero" "$WORK/out" && grep -q "rootfs.img" "$WORK/out" &&
        grep -q "run again with --yes" "$WORK/out" || { cat "$WORK/out"; fail "no plan shown"; }
    echo "  ok    without --yes: plan shown, exit 3"
    ;;
cli-lists)
    # What the install screens would offer on the board make-sim-board.sh made:
    # the eMMC for either role, the NVMe drive only for the system.
    make_board linux-mbr4,raw-gz
    IMGSMITH_ROOT=$SIM "$DRIVER" --list-sets > "$WORK/out" 2>&1 || { cat "$WORK/out"; fail "--list-sets"; }
    grep -q "^/mnt/sdcard/linux-mbr4 *Linux *[0-9]* MB$" "$WORK/out" &&
        grep -q "^/mnt/sdcard/raw-gz/disk.raw.gz *raw image *[0-9]* MB$" "$WORK/out" &&
        [ "$(wc -l < "$WORK/out")" = 2 ] || { cat "$WORK/out"; fail "--list-sets"; }
    # Sets are looked for on mounted media only.
    sed -i '/\/mnt\/sdcard/d' "$SIM/proc/mounts"
    IMGSMITH_ROOT=$SIM "$DRIVER" --list-sets > "$WORK/out" 2>&1 &&
        grep -q "neither /mnt/udisk nor /mnt/sdcard is mounted" "$WORK/out" || { cat "$WORK/out"; fail "--list-sets with nothing mounted"; }
    echo "  ok    --list-sets: the two sets of the mounted card, none when it is not mounted"
    IMGSMITH_ROOT=$SIM "$DRIVER" --list-devices > "$WORK/out" 2>&1 || { cat "$WORK/out"; fail "--list-devices"; }
    grep -q "^mmcblk2 *eMMC *256 MB *boot, system$" "$WORK/out" && grep -q "^nvme0n1 *NVMe *128 MB *system$" "$WORK/out" &&
        [ "$(grep -c '^[a-z0-9]* *\(eMMC\|NVMe\|USB\|SD\|SATA\|UFS\) ' "$WORK/out")" = 2 ] ||
        { cat "$WORK/out"; fail "--list-devices"; }
    echo "  ok    --list-devices: mmcblk2 (boot, system), nvme0n1 (system)"
    ;;
stage-order)
    # A split install with low format whose system device fails its check:
    # the boot device, checked first, must not be erased before every device
    # check has passed, and nothing may be left unpacked.
    command -v dtc >/dev/null || { echo "SKIP: dtc not installed"; exit 77; }
    make_board rk3588-gpt
    printf 'overlay' > "$SIM/mnt/sdcard/rk3588-gpt/dtbo.img"
    python3 -c 'import sys; open(sys.argv[1], "r+b").write(bytes([0xA5]) * (1 << 20))' "$SIM/dev/mmcblk2"
    : > "$SIM/dev/nvme0n1"
    cp "$SIM/dev/mmcblk2" "$WORK/before"
    PATH="$SRC/tests/dts:$PATH" IMGSMITH_ROOT=$SIM "$DRIVER" --low-format /mnt/sdcard/rk3588-gpt mmcblk2 nvme0n1 > "$WORK/out" 2>&1
    rc=$?
    [ $rc = 1 ] && grep -q "^error: Invalid disk size (0) .*nvme0n1$" "$WORK/out" ||
        { cat "$WORK/out"; fail "exit status $rc, not the system device's error"; }
    # A file takes no discard, so the erase shows as its events, not as bytes.
    ! grep -q "^Low format: erasing\|^Low format done" "$WORK/out" || fail "the boot device was erased before the system device was checked"
    cmp -s "$WORK/before" "$SIM/dev/mmcblk2" || fail "the boot device was changed before the system device was checked"
    [ -z "$(ls "$SIM/tmp" | grep -v '^imgsmith-gui.log$')" ] || fail "left in /tmp: $(ls "$SIM/tmp")"
    echo "  ok    refused on the system device's check; boot device untouched, nothing left in /tmp"
    ;;
split-default)
    # A set with an overlay image can put its system partitions on another
    # device; named without a system device it goes to the boot device, as in
    # the install preview (it used to end "All done" with rootfs and userdata
    # never written).
    make_board rk3588-gpt
    printf 'overlay' > "$SIM/mnt/sdcard/rk3588-gpt/dtbo.img"
    install rk3588-gpt || fail "install"
    check_steps
    grep -q "^  system device: /dev/mmcblk2 (the boot device)$" "$WORK/out" || fail "summary names no system device"
    verify "$SIM/dev/mmcblk2" "$SIM/mnt/sdcard/rk3588-gpt"
    ;;
*)
    fail "unknown case $CASE"
    ;;
esac
echo "PASS: $CASE"
