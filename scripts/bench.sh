#!/bin/bash
# Throughput of imgsmith's writers against the tools a user could use
# instead, on the same data and the same target, in one run.
#
#   scripts/bench.sh [SIZE_MiB]        (default 1024; BENCH_RUNS=3, BENCH_DIR=)
#
# Data: an ext4 image of SIZE MiB made by mkfs.ext4 -d from real files
# (about 43 % full, the rest empty), its gzip -6 form, its img2simg form and
# a sparse form whose zero fills are don't-care chunks. The target is a
# preallocated file written in place; every case ends with its data forced
# out (fdatasync), and every output is checked with cmp. Cases alternate
# within each run; the table shows medians.
set -euo pipefail
cd "$(dirname "$0")/.."

SIZE_MB=${1:-1024}
RUNS=${BENCH_RUNS:-3}
BUFFER=${BENCH_BUFFER_SIZE:-67108864}

./scripts/deps.sh >/dev/null
BUILD_TARGET=imgsmith-bench ./scripts/build.sh >/dev/null
BENCH=$PWD/build/bench/imgsmith-bench

WORK=${BENCH_DIR:-$(mktemp -d "${TMPDIR:-/var/tmp}/imgsmith-bench.XXXXXX")}
mkdir -p "$WORK"
cleanup() { [ -n "${BENCH_KEEP:-}" ] || rm -rf "$WORK"; }
trap cleanup EXIT
IMG=$WORK/image.raw
GZ=$WORK/image.raw.gz
SIMG=$WORK/image.simg
DCIMG=$WORK/image-dontcare.simg
T=$WORK/target.img
OUT=$WORK/backup.raw

echo "bench: ${SIZE_MB} MiB ext4 image, ${RUNS} runs, chunk ${BUFFER} bytes, in $WORK"

# --- data -------------------------------------------------------------------
if [ ! -f "$IMG" ]; then
    tree=$WORK/tree
    mkdir -p "$tree"
    want=$((SIZE_MB * 1024 * 1024 * 43 / 100))
    # Real files (libraries, programs, documentation) up to the wanted size.
    find /usr/lib /usr/share /usr/bin -xdev -type f -size +1k -printf '%s %p\n' 2>/dev/null |
        awk -v want="$want" '{ if (sum + $1 > want) next; sum += $1; sub(/^[0-9]+ /, ""); print } END { }' \
        > "$WORK/files.lst"
    tar -cf - -T "$WORK/files.lst" 2>/dev/null | tar -xf - -C "$tree"
    mkfs.ext4 -q -F -d "$tree" "$IMG" "${SIZE_MB}M"
    rm -rf "$tree"
    gzip -6 -c "$IMG" > "$GZ"
    img2simg "$IMG" "$SIMG"
    # Zero fills become don't-care chunks (a target known to be zero).
    python3 - "$SIMG" "$DCIMG" <<'PY'
import struct, sys
src, dst = open(sys.argv[1], 'rb'), open(sys.argv[2], 'wb')
h = src.read(28)
magic, major, minor, fhs, chs, bs, blocks, chunks, csum = struct.unpack('<IHHHHIIII', h)
src.seek(fhs)
out, n = [], 0
for _ in range(chunks):
    ch = src.read(chs)
    ctype, _r, csz, tot = struct.unpack('<HHII', ch[:12])
    data = src.read(tot - chs)
    if ctype == 0xCAC2 and data == b'\0\0\0\0':
        if out and out[-1][0] == 0xCAC3:
            out[-1] = (0xCAC3, out[-1][1] + csz, b'')
            continue
        out.append((0xCAC3, csz, b''))
    else:
        out.append((ctype, csz, data))
dst.write(struct.pack('<IHHHHIIII', magic, major, minor, 28, 12, bs, blocks, len(out), 0))
for ctype, csz, data in out:
    dst.write(struct.pack('<HHII', ctype, 0, csz, 12 + len(data)) + data)
PY
fi
fallocate -l "$(stat -c %s "$IMG")" "$T"
BYTES=$(stat -c %s "$IMG")
echo "data: $(du -sm "$IMG" | cut -f1) MiB allocated of ${SIZE_MB} MiB; gzip $(($(stat -c %s "$GZ") / 1048576)) MiB;" \
     "sparse $(($(stat -c %s "$SIMG") / 1048576)) MiB; don't-care sparse $(($(stat -c %s "$DCIMG") / 1048576)) MiB"

# Warm the sources: every case reads them from memory.
cat "$IMG" "$GZ" "$SIMG" "$DCIMG" > /dev/null

# --- cases: group|who|command|output ------------------------------------------
CASES=(
"raw|imgsmith|$BENCH raw '$IMG' '$T' $BUFFER|$T"
"raw|cat|cat '$IMG' 1<>'$T' && sync -d '$T'|$T"
"raw|dd|dd if='$IMG' of='$T' bs=64M conv=notrunc,fdatasync status=none|$T"
"gzip|imgsmith|$BENCH gz '$GZ' '$T' $BUFFER|$T"
"gzip|igzip|igzip -dc '$GZ' 1<>'$T' && sync -d '$T'|$T"
"gzip|pigz|pigz -dc '$GZ' 1<>'$T' && sync -d '$T'|$T"
"gzip|gzip|gzip -dc '$GZ' 1<>'$T' && sync -d '$T'|$T"
"sparse|imgsmith|$BENCH image '$SIMG' '$T' $BUFFER|$T"
"sparse|simg2img|simg2img '$SIMG' '$T' && sync -d '$T'|$T"
"sparse-dontcare|imgsmith|$BENCH image '$DCIMG' '$T' $BUFFER|$T"
"sparse-dontcare|simg2img|simg2img '$DCIMG' '$T' && sync -d '$T'|$T"
"device-to-file|imgsmith|rm -f '$OUT' && $BENCH backup '$IMG' '$OUT' $BUFFER|$OUT"
"device-to-file|dd|rm -f '$OUT' && dd if='$IMG' of='$OUT' bs=64M conv=fdatasync status=none|$OUT"
)

declare -A TIMES CPU RSS
run_case() {
    local idx=$1 group who cmd out tf
    IFS='|' read -r group who cmd out <<< "${CASES[$idx]}"
    if [ "$group" != "device-to-file" ]; then
        # Every writer starts from the same target: zero, allocated.
        fallocate -l "$BYTES" "$T"
    fi
    sync
    tf=$WORK/time.out
    if ! /usr/bin/time -f '%e %P %M' -o "$tf" bash -c "$cmd" > /dev/null; then
        echo "FAILED: $group/$who: $cmd" >&2
        exit 1
    fi
    if ! cmp -s "$IMG" "$out"; then
        echo "WRONG OUTPUT: $group/$who" >&2
        exit 1
    fi
    read -r e p m < "$tf"
    TIMES[$idx]+="$e "
    CPU[$idx]+="${p%\%} "
    RSS[$idx]+="$m "
}

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
maxof() { tr ' ' '\n' | grep -v '^$' | sort -g | tail -1; }

n=${#CASES[@]}
for ((r = 1; r <= RUNS; r++)); do
    echo "run $r/$RUNS"
    # Alternate: odd runs go forward, even runs backward.
    for ((k = 0; k < n; k++)); do
        if ((r % 2)); then i=$k; else i=$((n - 1 - k)); fi
        run_case "$i"
    done
done

# --- table ------------------------------------------------------------------
printf '\n%-16s %-9s %9s %9s %6s %8s %8s\n' case writer "median s" "MB/s" "CPU%" "RSS MiB" "ratio"
prev=""
for ((i = 0; i < n; i++)); do
    IFS='|' read -r group who cmd out <<< "${CASES[$i]}"
    t=$(echo "${TIMES[$i]}" | median)
    c=$(echo "${CPU[$i]}" | median)
    m=$(echo "${RSS[$i]}" | maxof)
    ratio=""
    if [ "$who" = imgsmith ]; then
        best=""
        for ((j = 0; j < n; j++)); do
            IFS='|' read -r g2 w2 _ _ <<< "${CASES[$j]}"
            if [ "$g2" = "$group" ] && [ "$w2" != imgsmith ]; then
                tj=$(echo "${TIMES[$j]}" | median)
                if [ -z "$best" ] || awk -v a="$tj" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$tj; fi
            fi
        done
        ratio=$(awk -v b="$best" -v o="$t" 'BEGIN { if (o > 0) printf "%.2fx", b / o }')
    fi
    mbs=$(awk -v s="$BYTES" -v t="$t" 'BEGIN { if (t > 0) printf "%.0f", s / 1e6 / t; else print "-" }')
    printf '%-16s %-9s %9s %9s %6s %8s %8s\n' "$group" "$who" "$t" "$mbs" "$c" "$((m / 1024))" "$ratio"
done
echo
echo "MB/s = image bytes (${BYTES}) / median seconds; ratio = best peer's median / imgsmith's median;"
echo "every output compared with cmp against the raw image."
