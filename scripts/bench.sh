#!/bin/bash
# Throughput of imgsmith's writers against the tools a user could use
# instead, on the same data and the same targets, in one run.
#
#   scripts/bench.sh [SIZE_MiB]                               (default 1024)
#
#   BENCH_RUNS=3            runs; cases alternate direction between runs
#   BENCH_TARGETS="file loop"   a preallocated file; a loop block device with
#                           direct I/O (root only)
#   BENCH_LOADS="idle busy throttled"   busy: two CPU-bound processes beside
#                           every case; throttled: writes to the loop device
#                           limited to BENCH_THROTTLE_MB (50) MB/s through the
#                           block I/O cgroup controller (root only)
#   BENCH_BASELINE=PATH     an older imgsmith-bench, timed as "before" (file
#                           target only)
#   BENCH_BUFFER_SIZE, BENCH_DIR, BENCH_KEEP=1
#
# Data: an ext4 image of SIZE MiB made by mkfs.ext4 -d from real files
# (about 43 % full, the rest empty), written out whole; its gzip -6 form;
# its xz -6 -T0 (several blocks) and zstd -3 forms; its img2simg form; a
# form whose zero fills are don't-care chunks; and a "many small fills"
# image (one 4 KiB block in eight zeroed) in img2simg form. Before every writer the target is filled with a pattern that
# differs from every image, every case ends with its data forced out
# (fdatasync), and every output is compared with cmp against what the
# target must hold. The tables show medians, wall and CPU seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
# Real files and devices only: under a simulation root the writers would
# look for the targets below it.
unset IMGSMITH_ROOT

SIZE_MB=${1:-1024}
RUNS=${BENCH_RUNS:-3}
BUFFER=${BENCH_BUFFER_SIZE:-67108864}
TARGETS=${BENCH_TARGETS:-file loop}
LOADS=${BENCH_LOADS:-idle busy throttled}
THROTTLE_MB=${BENCH_THROTTLE_MB:-50}
BASELINE=${BENCH_BASELINE:-}

./scripts/deps.sh >/dev/null
BUILD_TARGET=imgsmith-bench ./scripts/build.sh >/dev/null
BENCH=$PWD/build/bench/imgsmith-bench

WORK=${BENCH_DIR:-$(mktemp -d "${TMPDIR:-/var/tmp}/imgsmith-bench.XXXXXX")}
mkdir -p "$WORK"
LOOPS=()
HOGS=()
CG=""
cleanup() {
    for p in "${HOGS[@]}"; do kill "$p" 2>/dev/null || true; done
    for l in "${LOOPS[@]}"; do losetup -d "$l" 2>/dev/null || true; done
    [ -z "$CG" ] || rmdir "$CG" 2>/dev/null || true
    [ -n "${BENCH_KEEP:-}" ] || rm -rf "$WORK"
}
trap cleanup EXIT
IMG=$WORK/image.raw
GZ=$WORK/image.raw.gz
XZ=$WORK/image.raw.xz
ZST=$WORK/image.raw.zst
SIMG=$WORK/image.simg
DCIMG=$WORK/image-dontcare.simg
DCREF=$WORK/image-dontcare.ref
MF=$WORK/manyfills.raw
MFIMG=$WORK/manyfills.simg
PAT=$WORK/pattern.bin
OUT=$WORK/backup.raw

echo "bench: ${SIZE_MB} MiB ext4 image, ${RUNS} runs, copy memory ${BUFFER} bytes, in $WORK"

# --- data -------------------------------------------------------------------
if [ ! -f "$MFIMG" ]; then
    tree=$WORK/tree
    mkdir -p "$tree"
    want=$((SIZE_MB * 1024 * 1024 * 43 / 100))
    # Real files (libraries, programs, documentation) up to the wanted size.
    find /usr/lib /usr/share /usr/bin -xdev -type f -size +1k -printf '%s %p\n' 2>/dev/null |
        awk -v want="$want" '{ if (sum + $1 > want) next; sum += $1; sub(/^[0-9]+ /, ""); print }' \
        > "$WORK/files.lst"
    tar -cf - -T "$WORK/files.lst" 2>/dev/null | tar -xf - -C "$tree"
    mkfs.ext4 -q -F -d "$tree" "$WORK/sparse.raw" "${SIZE_MB}M"
    rm -rf "$tree"
    # Written out whole, as an image file copied from elsewhere is.
    cp --sparse=never "$WORK/sparse.raw" "$IMG"
    rm -f "$WORK/sparse.raw"
    gzip -6 -c "$IMG" > "$GZ"
    img2simg "$IMG" "$SIMG"
    python3 - "$IMG" "$SIMG" "$DCIMG" "$PAT" "$DCREF" "$MF" <<'PY'
import os, struct, sys
img, simg, dcimg, pat, dcref, mf = sys.argv[1:]
size = os.path.getsize(img)
# The pattern: one random 4 KiB block repeated, unlike any image block.
block = os.urandom(4096)
with open(pat, 'wb') as f:
    for _ in range(size // 4096):
        f.write(block)
    f.write(block[:size % 4096])
# Zero fills become don't-care chunks; the target keeps the pattern there.
src = open(simg, 'rb')
h = src.read(28)
magic, major, minor, fhs, chs, bs, blocks, chunks, csum = struct.unpack('<IHHHHIIII', h)
src.seek(fhs)
out, skips, pos = [], [], 0
for _ in range(chunks):
    ch = src.read(chs)
    ctype, _r, csz, tot = struct.unpack('<HHII', ch[:12])
    data = src.read(tot - chs)
    if ctype == 0xCAC2 and data == b'\0\0\0\0':
        skips.append((pos * bs, csz * bs))
        if out and out[-1][0] == 0xCAC3:
            out[-1] = (0xCAC3, out[-1][1] + csz, b'')
        else:
            out.append((0xCAC3, csz, b''))
    else:
        out.append((ctype, csz, data))
    pos += csz
with open(dcimg, 'wb') as dst:
    dst.write(struct.pack('<IHHHHIIII', magic, major, minor, 28, 12, bs, blocks, len(out), 0))
    for ctype, csz, data in out:
        dst.write(struct.pack('<HHII', ctype, 0, csz, 12 + len(data)) + data)
with open(img, 'rb') as i, open(dcref, 'wb') as r:
    r.write(i.read())
with open(pat, 'rb') as p, open(dcref, 'r+b') as r:
    for off, n in skips:
        p.seek(off); r.seek(off); r.write(p.read(n))
# Many small fills: one 4 KiB block in eight of the used area zeroed.
with open(img, 'rb') as i, open(mf, 'wb') as m:
    k = 0
    while True:
        b = i.read(4096)
        if not b:
            break
        if k % 8 == 5 and b.count(0) != len(b):
            b = bytes(len(b))
        m.write(b)
        k += 1
PY
    img2simg "$MF" "$MFIMG"
fi
[ -f "$XZ" ] || xz -6 -T0 -c "$IMG" > "$XZ"
[ -f "$ZST" ] || zstd -q -3 -T0 -c "$IMG" > "$ZST"
BYTES=$(stat -c %s "$IMG")
fills() { python3 - "$1" <<'PY'
import struct, sys
f = open(sys.argv[1], 'rb'); h = struct.unpack('<IHHHHIIII', f.read(28)); f.seek(h[3])
n = small = 0
for _ in range(h[7]):
    t, _r, csz, tot = struct.unpack('<HHII', f.read(h[4])[:12]); f.seek(tot - h[4], 1)
    if t == 0xCAC2:
        n += 1; small += csz * h[5] < 1 << 20
print(n, small)
PY
}
echo "data: image $((BYTES / 1048576)) MiB;" \
     "gzip $(($(stat -c %s "$GZ") / 1048576)) MiB; xz $(($(stat -c %s "$XZ") / 1048576)) MiB;" \
     "zstd $(($(stat -c %s "$ZST") / 1048576)) MiB; sparse $(($(stat -c %s "$SIMG") / 1048576)) MiB;" \
     "many-fills sparse $(($(stat -c %s "$MFIMG") / 1048576)) MiB (fills, of them < 1 MiB: $(fills "$MFIMG"))"

# --- targets ----------------------------------------------------------------
declare -A TGT SRCDEV
if [[ " $TARGETS " == *" file "* ]]; then
    TGT[file]=$WORK/target.img
    fallocate -l "$BYTES" "${TGT[file]}"
    # The back-up source is a copy of the image of its own: its page cache is
    # dropped before every back-up case (a board's storage is not in memory
    # when it is backed up), while the image the install cases read stays warm.
    BSRC=$WORK/backup-source.img
    cp "$IMG" "$BSRC"
    SRCDEV[file]=$BSRC
fi
if [[ " $TARGETS " == *" loop "* ]]; then
    if [ "$(id -u)" -ne 0 ] || [ ! -e /dev/loop-control ]; then
        echo "loop device cases skipped: need root and /dev/loop-control"
    else
        fallocate -l "$BYTES" "$WORK/loop-backing.img"
        TGT[loop]=$(losetup --find --show --direct-io=on "$WORK/loop-backing.img")
        LOOPS+=("${TGT[loop]}")
        # The back-up source: the image as a read-only device.
        SRCDEV[loop]=$(losetup --find --show --read-only --direct-io=on "$IMG")
        LOOPS+=("${SRCDEV[loop]}")
    fi
fi

# Writes to the loop device limited to THROTTLE_MB MB/s: the cgroup v2 io
# controller where it is there, else the v1 block I/O throttle.
setup_throttle() {
    local dev=$1 mm bps=$((THROTTLE_MB * 1000000))
    mm=$(printf '%d:%d' "0x$(stat -c %t "$dev")" "0x$(stat -c %T "$dev")")
    if grep -qw io /sys/fs/cgroup/cgroup.controllers 2>/dev/null; then
        CG=/sys/fs/cgroup/imgsmith-bench.$$
        echo +io > /sys/fs/cgroup/cgroup.subtree_control 2>/dev/null || true
        mkdir "$CG" && echo "$mm wbps=$bps" > "$CG/io.max" && echo "cgroup v2 io.max $mm wbps=$bps"
    elif [ -w /sys/fs/cgroup/blkio/cgroup.procs ]; then
        CG=/sys/fs/cgroup/blkio/imgsmith-bench.$$
        mkdir "$CG" && echo "$mm $bps" > "$CG/blkio.throttle.write_bps_device" &&
            echo "cgroup v1 blkio.throttle.write_bps_device $mm $bps"
    else
        echo "no block I/O cgroup controller here"
        return 1
    fi
}

# Warm the sources: every case reads them from memory.
cat "$IMG" "$GZ" "$XZ" "$ZST" "$SIMG" "$DCIMG" "$MFIMG" > /dev/null

# --- cases: group|who|command (@T@ target, @S@ back-up source)|expected -----
# (a pipe inside a command is written @P@: "|" separates the fields; a
# pipeline, unlike dd if=<(...), is waited for, so no decoder outlives its case)
CASES=(
"raw|imgsmith|$BENCH raw '$IMG' @T@ $BUFFER|$IMG"
"raw|verify|$BENCH raw-verify '$IMG' @T@ $BUFFER|$IMG"
"raw|read|dd if=@T@ of=/dev/null iflag=direct bs=16M count=$(((BYTES + 16777215) / 16777216)) status=none|$IMG"
"raw|cat|cat '$IMG' 1<>@T@ && sync -d @T@|$IMG"
"raw|dd|dd if='$IMG' of=@T@ bs=64M conv=notrunc,fdatasync status=none|$IMG"
"raw|dd-direct|dd if='$IMG' of=@T@ bs=16M oflag=direct conv=notrunc,fdatasync status=none|$IMG"
"gzip|imgsmith|$BENCH gz '$GZ' @T@ $BUFFER|$IMG"
"gzip|igzip|igzip -dc '$GZ' 1<>@T@ && sync -d @T@|$IMG"
"gzip|pigz|pigz -dc '$GZ' 1<>@T@ && sync -d @T@|$IMG"
"xz|imgsmith|$BENCH xz '$XZ' @T@ $BUFFER|$IMG"
"xz|xz|xz -dc -T0 '$XZ' @P@ dd of=@T@ bs=64M iflag=fullblock conv=notrunc,fdatasync status=none|$IMG"
"zstd|imgsmith|$BENCH zst '$ZST' @T@ $BUFFER|$IMG"
"zstd|zstd|zstd -dc '$ZST' @P@ dd of=@T@ bs=64M iflag=fullblock conv=notrunc,fdatasync status=none|$IMG"
"sparse|imgsmith|$BENCH image '$SIMG' @T@ $BUFFER|$IMG"
"sparse|simg2img|simg2img '$SIMG' @T@ && sync -d @T@|$IMG"
"many-fills|imgsmith|$BENCH image '$MFIMG' @T@ $BUFFER|$MF"
"many-fills|simg2img|simg2img '$MFIMG' @T@ && sync -d @T@|$MF"
"dontcare|imgsmith|$BENCH image '$DCIMG' @T@ $BUFFER|$DCREF"
"dontcare|simg2img|simg2img '$DCIMG' @T@ && sync -d @T@|$DCREF"
"backup|imgsmith|rm -f '$OUT' && $BENCH backup @S@ '$OUT' $BUFFER|$IMG"
"backup|dd|rm -f '$OUT' && dd if=@S@ of='$OUT' bs=64M conv=fdatasync status=none|$IMG"
)
if [ -n "$BASELINE" ]; then
    CASES+=("raw|before|$BASELINE raw '$IMG' @T@ $BUFFER|$IMG"
            "gzip|before|$BASELINE gz '$GZ' @T@ $BUFFER|$IMG"
            "sparse|before|$BASELINE image '$SIMG' @T@ $BUFFER|$IMG"
            "many-fills|before|$BASELINE image '$MFIMG' @T@ $BUFFER|$MF"
            "backup|before|rm -f '$OUT' && $BASELINE backup @S@ '$OUT' $BUFFER|$IMG")
fi

prefill() {
    if [ -b "$1" ]; then
        dd if="$PAT" of="$1" bs=16M oflag=direct conv=fdatasync status=none
    else
        dd if="$PAT" of="$1" bs=16M conv=notrunc,fdatasync status=none
    fi
}

declare -A WALL CPUS RSS
run_case() {
    local load=$1 kind=$2 idx=$3 group who cmd ref tf t=${TGT[$kind]} out
    IFS='|' read -r group who cmd ref <<< "${CASES[$idx]}"
    # The older build sized a target with stat(): 0 for a block device, so
    # it refused every sparse image there. It is compared on files only.
    [ "$who" = before ] && [ "$kind" != file ] && return 0
    cmd=${cmd//@T@/$t}
    cmd=${cmd//@S@/${SRCDEV[$kind]}}
    cmd=${cmd//@P@/|}
    out=$t
    # simg2img opens a file with O_TRUNC: its don't-care areas read as zeros.
    [ "$who/$group" = simg2img/dontcare ] && [ ! -b "$t" ] && ref=$IMG
    if [ "$group" = backup ]; then
        out=$OUT
        [ -b "${SRCDEV[$kind]}" ] && blockdev --flushbufs "${SRCDEV[$kind]}"
        dd if="${SRCDEV[$kind]}" iflag=nocache count=0 status=none
    elif [ "$who" = read ]; then
        # The device's own time to read back what imgsmith raw leaves there
        # (zeroed ranges included), which the read-back verification cannot
        # beat.
        prefill "$t"
        $BENCH raw "$IMG" "$t" "$BUFFER" > /dev/null
    else
        prefill "$t"
    fi
    sync
    tf=$WORK/time.out
    local runner=(bash -o pipefail -c "$cmd")
    if [ "$load" = throttled ]; then
        runner=(bash -c "echo \$\$ > '$CG/cgroup.procs' && exec bash -o pipefail -c \"\$0\"" "$cmd")
    fi
    # Wall time to the millisecond (time's %e has ten): the fast cases take
    # about 0.1 s, where ten milliseconds would be a tenth of the ratio.
    local t0=$EPOCHREALTIME t1
    if ! /usr/bin/time -f '%U %S %M' -o "$tf" "${runner[@]}" > /dev/null; then
        echo "FAILED: $load/$kind/$group/$who: $cmd" >&2
        exit 1
    fi
    t1=$EPOCHREALTIME
    [ -b "$out" ] && blockdev --flushbufs "$out"
    if ! cmp -s -n "$BYTES" "$ref" "$out"; then
        echo "WRONG OUTPUT: $load/$kind/$group/$who" >&2
        exit 1
    fi
    local e u s m
    read -r u s m < "$tf"
    e=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
    WALL[$load/$kind/$idx]+="$e "
    CPUS[$load/$kind/$idx]+="$(awk -v u="$u" -v s="$s" 'BEGIN { printf "%.2f", u + s }') "
    RSS[$load/$kind/$idx]+="$m "
}

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
maxof() { tr ' ' '\n' | grep -v '^$' | sort -g | tail -1; }

report() {
    local load=$1 kind=$2 n=${#CASES[@]} i j
    printf '\n%s, %s target\n' "$load" "$kind"
    printf '%-11s %-9s %8s %7s %7s %6s %7s\n' case writer "wall s" "MB/s" "CPU s" "RSS Mi" "ratio"
    for ((i = 0; i < n; i++)); do
        IFS='|' read -r group who _ _ <<< "${CASES[$i]}"
        local k=$load/$kind/$i t c m ratio="" best=""
        [ -n "${WALL[$k]:-}" ] || continue
        t=$(echo "${WALL[$k]}" | median)
        c=$(echo "${CPUS[$k]}" | median)
        m=$(echo "${RSS[$k]}" | maxof)
        if [ "$who" = imgsmith ]; then
            for ((j = 0; j < n; j++)); do
                IFS='|' read -r g2 w2 _ _ <<< "${CASES[$j]}"
                [ "$g2" = "$group" ] && [ "$w2" != imgsmith ] && [ "$w2" != before ] && [ "$w2" != verify ] && [ "$w2" != read ] || continue
                local tj
                tj=$(echo "${WALL[$load/$kind/$j]}" | median)
                if [ -z "$best" ] || awk -v a="$tj" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$tj; fi
            done
            ratio=$(awk -v b="$best" -v o="$t" 'BEGIN { if (o > 0) printf "%.2fx", b / o }')
        elif [ "$who" = verify ]; then
            # The install with read-back against the install alone (case 0).
            ratio=$(awk -v a="$t" -v b="$(echo "${WALL[$load/$kind/0]}" | median)" 'BEGIN { if (b > 0) printf "%.2fv", a / b }')
        elif [ "$who" = read ]; then
            # What verifying adds to the install (cases 1 and 0) against
            # this read.
            ratio=$(awk -v r="$t" -v v="$(echo "${WALL[$load/$kind/1]}" | median)" \
                        -v i="$(echo "${WALL[$load/$kind/0]}" | median)" 'BEGIN { if (r > 0) printf "%.2fr", (v - i) / r }')
        fi
        printf '%-11s %-9s %8s %7s %7s %6s %7s\n' "$group" "$who" "$t" \
            "$(awk -v s="$BYTES" -v t="$t" 'BEGIN { if (t > 0) printf "%.0f", s / 1e6 / t }')" \
            "$c" "$((m / 1024))" "$ratio"
    done
}

start_hogs() {
    for _ in 1 2; do
        bash -c 'while :; do :; done' &
        HOGS+=($!)
    done
}
stop_hogs() {
    for p in "${HOGS[@]}"; do kill "$p" 2>/dev/null || true; done
    HOGS=()
}

echo "machine: $(nproc) CPUs ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)), $(free -g | awk '/Mem/ { print $2 }') GiB," \
     "kernel $(uname -r), load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
n=${#CASES[@]}
for load in $LOADS; do
    kinds=$TARGETS
    if [ "$load" = throttled ]; then
        kinds=""
        if [ -n "${TGT[loop]:-}" ] && setup_throttle "${TGT[loop]}"; then kinds=loop; fi
        [ -n "$kinds" ] || { echo "throttled cases skipped"; continue; }
    fi
    [ "$load" = busy ] && start_hogs
    for kind in $kinds; do
        [ -n "${TGT[$kind]:-}" ] || continue
        for ((r = 1; r <= RUNS; r++)); do
            echo "$load, $kind target: run $r/$RUNS (load average $(cut -d' ' -f1 /proc/loadavg))"
            # Alternate: odd runs go forward, even runs backward.
            for ((k = 0; k < n; k++)); do
                if ((r % 2)); then i=$k; else i=$((n - 1 - k)); fi
                run_case "$load" "$kind" "$i"
            done
        done
    done
    [ "$load" = busy ] && stop_hogs
done

for load in $LOADS; do
    for kind in $TARGETS; do
        [ -n "${TGT[$kind]:-}" ] || continue
        report "$load" "$kind"
    done
done
echo
echo "MB/s = image bytes (${BYTES}) / median wall seconds; CPU s = median user + system seconds;"
echo "ratio = best peer's median wall time / imgsmith's; every output compared with cmp."
echo "verify = imgsmith raw with read-back verification; its ratio (v) = its wall time / imgsmith raw's."
echo "read = dd iflag=direct bs=16M reading back what imgsmith raw wrote (the target's read time);"
echo "its ratio (r) = (verify's wall time - imgsmith raw's) / this read time."
