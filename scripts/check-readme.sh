#!/bin/bash
# Runs the commands README.md shows, so that it cannot drift from the tree.
#
# Two kinds of fenced shell blocks:
#   ```sh runnable   run here, each block in a fresh bash (-e -u -o pipefail)
#                    at the top of the source tree, in README order, with:
#                      IMGSMITH_ROOT    one simulated board for all blocks
#                                       (make-sim-board.sh; sets linux-mbr4,
#                                       linux-mbr6, rk3588-gpt)
#                      PATH             the build's imgsmith-gui, -install and
#                                       -console, scripts/sim-tools (the
#                                       board's mount, mkfs, ...), then PATH
#                      QT_QPA_PLATFORM  offscreen
#                      TMPDIR           private, removed at the end
#                      BUILD_DIR        the build tree under test
#                      SCREENSHOTS_DIR  scratch, so docs/screenshots stays as is
#                    A block must stop what it starts in the background.
#   ```sh            (or bash, shell) commands that cannot run here: a real
#                    device, the service on tty1, the arm64 build, builds of
#                    their own. Every command line of such a block must match
#                    a pattern of COVERED below, which names the CTest test
#                    that runs the same program with the same options (or
#                    says why it is left to be run by hand).
# Blocks with another info string (text, ini, ...) are not commands.
#
# Usage: scripts/check-readme.sh [--build DIR] [--list] [README]
#   --build DIR  build tree with the programs (default build)
#   --list       print the blocks and how each is checked; run nothing
# Exit status: 0 every block passed, 1 a block failed (README line printed),
# 2 usage error, 77 a tool the check needs is missing.
set -uo pipefail
SRC=$(cd "$(dirname "$0")/.." && pwd)
SETS=linux-mbr4,linux-mbr6,rk3588-gpt

# pattern (extended regex over one command line) => CTest test (regex over
# `ctest -N`) that runs the same program and options, or "manual: why".
COVERED=(
    '^\./scripts/test\.sh$ => ^check_readme$'                       # test.sh is the suite's runner (.ci/run); this check is part of it
    '^\./scripts/package\.sh$ => ^package_contents$'                # the same CPack configuration, packed from the build tree
    '^sudo apt-get install qemu-user-static podman$ => ^package_contents$'
    '^podman run .*debian:12 \./scripts/package\.sh$ => ^package_contents$'   # arm64 package: package.sh under emulation
    '^sudo apt install \./imgsmith_\*_arm64\.deb$ => ^package_contents$'     # contents, conffile and dependencies read back
    '^sudo systemctl (enable --now|restart|stop) imgsmith(\.service)?$ => ^package_contents$'  # unit checked by systemd-analyze verify
    '^sudo journalctl -u imgsmith$ => ^package_contents$'
    '^QT_QPA_PLATFORM=(linuxfb|vnc) imgsmith-gui( .*)?$ => ^e2e_console_autoexit-good$'  # the same program, offscreen
    '^imgsmith-install /mnt/sdcard/debian mmcblk2$ => ^e2e_cli-refusals$'       # no --yes on a real device: plan, exit 3
    '^imgsmith-install --yes /mnt/sdcard/debian mmcblk2( nvme0n1)?$ => ^e2e_(partmap-mbr4|low-format-nvme)$'
    '^ctest --test-dir build -R [^ ]+ --output-on-failure$ => ^e2e_'   # the group it selects
    '^sudo \./scripts/bench\.sh 256$ => ^check_readme$'             # the quick bench.sh run of a runnable block
    '^BUILD_DIR=build-asan \./scripts/build\.sh -DIMGSMITH_SANITIZE=ON => manual: a whole build of its own, too slow for the suite'
    '^QT_QPA_PLATFORM=offscreen ctest --test-dir build-asan => manual: the whole suite again under the sanitizers'
    '^BUILD_DIR=build-fuzz => manual: a clang build of its own'
    '^build-fuzz/fuzz/[a-z]+_fuzz => manual: needs the fuzz build'
)

usage() { sed -n '2,30p' "$0" | sed 's/^# \{0,1\}//'; }
BUILD=build
LIST=
README=
while [ $# -gt 0 ]; do
    case "$1" in
        -h|--help) usage; exit 0 ;;
        --build) [ $# -ge 2 ] || { usage >&2; exit 2; }; BUILD=$2; shift ;;
        --list) LIST=1 ;;
        -*) echo "check-readme: unknown option $1" >&2; exit 2 ;;
        *) [ -z "$README" ] || { usage >&2; exit 2; }; README=$1 ;;
    esac
    shift
done
README=$(realpath "${README:-$SRC/README.md}")
NAME=$(basename "$README")
BUILD=$(cd "$SRC" && realpath "$BUILD")
for tool in python3 setsid ps ctest mkfs.ext4 img2simg sfdisk; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/imgsmith-readme.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# Cut the README into blocks: $WORK/blocks/<n>.sh and one line per block in
# $WORK/index: "<n> <kind> <line of the block's first line>".
mkdir -p "$WORK/blocks"
python3 - "$README" "$WORK/blocks" > "$WORK/index" <<'PY' || { echo "FAIL: cannot read $README"; exit 1; }
import re, sys
lines = open(sys.argv[1], encoding="utf-8").read().split("\n")
fence = None
n = 0
for i, line in enumerate(lines, 1):
    if fence is None:
        m = re.match(r"^( *)(```+)\s*(.*?)\s*$", line)
        if m:
            indent, fence, info, start, body = len(m.group(1)), m.group(2), m.group(3).split(), i + 1, []
    elif line.strip().startswith(fence) and not line.strip().strip("`"):
        lang = info[0] if info else ""
        if lang in ("sh", "bash", "shell"):
            n += 1
            kind = "runnable" if info[1:] == ["runnable"] else "shown"
            open("%s/%d.sh" % (sys.argv[2], n), "w").write("\n".join(body) + "\n")
            print(n, kind, start)
        fence = None
    else:
        # A block inside a list item is indented as a whole.
        body.append(line[indent:] if line[:indent].isspace() else line)
if fence is not None:
    sys.exit("unclosed code fence")
PY

TESTS=$(ctest --test-dir "$BUILD" -N 2>/dev/null | sed -n 's/^ *Test *#[0-9]*: //p')
status=0
# Every command line of a shown block must be covered by a registered test.
check_shown() {
    local n=$1 lineno=$2 at=$2 cont='' line entry pat by
    while IFS= read -r line || [ -n "$line" ]; do
        [ -n "$cont" ] || at=$lineno
        local cmd=$cont$line
        cont=
        if [[ "$line" == *\\ ]]; then cont=${cmd%\\}; lineno=$((lineno + 1)); continue; fi
        cmd=$(sed 's/[[:space:]]\{2,\}#.*$//; s/^[[:space:]]*//; s/[[:space:]]*$//' <<< "$cmd")
        if [ -n "$cmd" ] && [[ "$cmd" != \#* ]]; then
            by=
            for entry in "${COVERED[@]}"; do
                pat=${entry%% => *}
                if grep -Eq -- "$pat" <<< "$cmd"; then by=${entry#* => }; break; fi
            done
            if [ -z "$by" ]; then
                echo "$NAME:$at: shown but neither runnable nor covered by a test: $cmd"
                status=1
            elif [[ "$by" == manual:* ]]; then
                [ -z "$LIST" ] || echo "  $NAME:$at: $by"
            elif ! grep -Eq -- "$by" <<< "$TESTS"; then
                echo "$NAME:$at: covered by /$by/, which is no registered test: $cmd"
                status=1
            else
                [ -z "$LIST" ] || echo "  $NAME:$at: covered by test /$by/"
            fi
        fi
        lineno=$((lineno + 1))
    done < "$WORK/blocks/$n.sh"
}

# run_block <n> <first line>: runs it on the board in a process group of its
# own, so that anything it leaves behind can be found and stopped.
run_block() {
    local n=$1 first=$2 script=$WORK/run-$1.sh pid rc left
    {
        echo "trap 'echo \"$NAME:\$((LINENO + $((first - 2)))): exit status \$?\" >&2' ERR"
        cat "$WORK/blocks/$n.sh"
    } > "$script"
    local t0=$SECONDS
    (cd "$SRC" && exec setsid timeout --kill-after=10 600 bash -eu -o pipefail "$script") > "$WORK/out-$n" 2>&1 &
    pid=$!
    wait "$pid"
    rc=$?
    # A zombie has finished; it only waits for an init that may never reap it.
    left=$(ps -e -o pid=,pgid=,stat= | awk -v g="$pid" '$2 == g && $3 !~ /^Z/ { printf "%s ", $1 }')
    if [ -n "$left" ]; then
        kill -- "-$pid" 2>/dev/null
        echo "$NAME:$first: the block left processes running ($left)" >> "$WORK/out-$n"
        [ $rc -ne 0 ] || rc=1
    fi
    if [ $rc -ne 0 ]; then
        echo "FAIL  $NAME:$first: block failed (exit status $rc); its output:"
        tail -40 "$WORK/out-$n" | sed 's/^/    /'
        status=1
    else
        echo "ok    $NAME:$first ($((SECONDS - t0)) s)"
    fi
}

if [ -n "$LIST" ]; then
    while read -r n kind first; do
        echo "$NAME:$first: $kind"
        [ "$kind" = runnable ] || check_shown "$n" "$first"
    done < "$WORK/index"
    exit $status
fi

while read -r n kind first; do
    [ "$kind" = shown ] && check_shown "$n" "$first"
done < "$WORK/index"

for prog in imgsmith-gui tools/install-driver/imgsmith-install tools/console/imgsmith-console; do
    [ -x "$BUILD/$prog" ] || { echo "SKIP: $BUILD/$prog not built"; exit 77; }
done
mkdir -p "$WORK/tmp" "$WORK/screenshots"
echo "making the simulated board"
"$SRC/scripts/make-sim-board.sh" --sets "$SETS" "$WORK/board" > "$WORK/board.log" 2>&1 ||
    { cat "$WORK/board.log"; echo "FAIL: make-sim-board.sh"; exit 1; }
export IMGSMITH_ROOT=$WORK/board TMPDIR=$WORK/tmp QT_QPA_PLATFORM=offscreen BUILD_DIR=$BUILD \
    SCREENSHOTS_DIR=$WORK/screenshots
export PATH="$BUILD:$BUILD/tools/install-driver:$BUILD/tools/console:$SRC/scripts/sim-tools:$PATH:/usr/sbin:/sbin"
ran=0
while read -r n kind first; do
    [ "$kind" = runnable ] || continue
    run_block "$n" "$first"
    ran=$((ran + 1))
done < "$WORK/index"
[ $ran -gt 0 ] || { echo "FAIL: no block marked runnable"; status=1; }
[ $status = 0 ] && echo "PASS: $ran runnable blocks, every shown command covered"
exit $status
