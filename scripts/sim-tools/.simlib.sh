# Shared by the stand-ins in this directory (sourced, not run). Each
# stand-in records its arguments, one line per call ("tool 'arg' ..."), in
# the file named by IMGSMITH_SIM_TOOLS_LOG when that is set, maps "/dev/..."
# arguments below the simulated board (IMGSMITH_ROOT) and hands the work to
# the real tool where it can act on the board's plain files.

SIM_TOOL=$(basename "$0")
SIM_DIR=$(cd "$(dirname "$0")" && pwd)
SIM_ROOT=${IMGSMITH_ROOT:-}

sim_record() {
    [ -n "${IMGSMITH_SIM_TOOLS_LOG:-}" ] || return 0
    { printf '%s' "$SIM_TOOL"; [ $# -gt 0 ] && printf ' %q' "$@"; echo; } >> "$IMGSMITH_SIM_TOOLS_LOG"
}

# The path as it lies on the simulated board.
sim_map() {
    case "$1" in
        /dev/*|/mnt/*|/tmp/*) if [ -n "$SIM_ROOT" ]; then echo "$SIM_ROOT$1"; return; fi ;;
    esac
    echo "$1"
}

# The real tool: the first one on PATH (and the sbin directories) that is
# not in this directory. Empty when there is none.
sim_real() {
    local d IFS=:
    for d in $PATH /usr/sbin /sbin /usr/bin /bin; do
        [ -n "$d" ] || continue
        [ "$(cd "$d" 2>/dev/null && pwd)" = "$SIM_DIR" ] && continue
        if [ -x "$d/$1" ]; then echo "$d/$1"; return; fi
    done
}

# Start (in bytes) and size (in KiB) of partition <n> of the disk image
# <file>, from sfdisk's JSON; fails when there is no such partition.
sim_partition() {
    sfdisk -J "$1" 2>/dev/null | python3 -c '
import json, sys
disk, n = sys.argv[1], sys.argv[2]
for p in json.load(sys.stdin)["partitiontable"]["partitions"]:
    if p["node"] in (disk + n, disk + "p" + n):
        print(p["start"] * 512, p["size"] // 2)
        sys.exit(0)
sys.exit(1)' "$1" "$2"
}

# For a partition argument (".../sda1", ".../mmcblk0p1") that is no file on
# the board but whose disk is one: "<disk file> <n>".
sim_split_partition() {
    local p=$1 disk n
    n=${p##*[!0-9]}
    [ -n "$n" ] || return 1
    disk=${p%"$n"}
    case "$disk" in *[0-9]p) disk=${disk%p} ;; esac
    [ -f "$disk" ] || return 1
    echo "$disk $n"
}
