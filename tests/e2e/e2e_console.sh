#!/bin/bash
# The real imgsmith-gui, offscreen on a simulated board, driven only through
# the shipped console client in script mode, or unattended (-i, --auto-exit).
#   e2e_console.sh <case> <imgsmith-gui> <imgsmith-console> <source dir>
# Exit 77 (skipped) when a tool the case needs is missing.
set -uo pipefail
CASE=$1
GUI=$2
CONSOLE=$3
SRC=$4
export PATH="$PATH:/usr/sbin:/sbin"
for tool in sfdisk sgdisk e2fsck mkfs.ext4 img2simg simg2img gzip cmp python3; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/imgsmith-console-e2e.XXXXXX")
SIM=$WORK/board
GUI_PID=
# A sanitizer report or a crash while the installer quits shows only in its
# exit status: a case that passed fails when the status is not 0.
gui_status() {
    kill "$GUI_PID" 2>/dev/null
    local rc=0
    wait "$GUI_PID" 2>/dev/null || rc=$?
    GUI_PID=
    [ $rc -eq 0 ] && return 0
    echo "FAIL: imgsmith-gui stopped with status $rc; its output (last 40 lines):"
    tail -40 "$WORK/gui.log" 2>/dev/null | sed 's/^/    /'
    return 1
}
cleanup() {
    local rc=$?
    if [ -n "$GUI_PID" ] && ! gui_status && [ $rc -eq 0 ]; then rc=1; fi
    rm -rf "$WORK"
    exit $rc
}
trap cleanup EXIT
# The socket and the segment's key file live in TMPDIR: private to this case.
mkdir -p "$WORK/tmp"
export TMPDIR=$WORK/tmp

fail() {
    echo "FAIL: $*"
    echo "---- last console screen:"
    "$CONSOLE" --timeout 2 --dump 2>&1 | sed 's/^/    /'
    echo "---- installer output (last 30 lines):"
    tail -30 "$WORK/gui.log" 2>/dev/null | sed 's/^/    /'
    exit 1
}
ok() { echo "  ok    $*"; }

# make_board <make-sim-board options...>
make_board() {
    "$SRC/scripts/make-sim-board.sh" "$@" "$SIM" >/dev/null || fail "make-sim-board.sh $*"
}

start_gui() {
    # debug_imgsmith=1: the interpreter logs the commands it refuses.
    PATH="$SRC/scripts/sim-tools:$PATH" QT_QPA_PLATFORM=offscreen IMGSMITH_ROOT=$SIM debug_imgsmith=1 \
        SIM_TOOLS_LOG="$WORK/tools.log" "$GUI" > "$WORK/gui.log" 2>&1 &
    GUI_PID=$!
}

# wait_for <regex> [seconds]
wait_for() {
    "$CONSOLE" --timeout "${2:-30}" --wait "$1" > "$WORK/wait.out" 2>&1 || fail "screen never matched /$1/"
}

# polls <seconds> <command...>: true as soon as the command succeeds, tried
# every half second.
polls() {
    for _ in $(seq 1 $(( $1 * 2 ))); do "${@:2}" && return 0; sleep 0.5; done
    return 1
}

send() {
    "$CONSOLE" --timeout 10 --send "$1" || fail "could not send \"$1\""
}

screen() {
    "$CONSOLE" --timeout 10 --dump || fail "could not read the screen"
}

# The key of autoStart in the configuration file on the simulated SD card.
auto_start() {
    local f=$SIM/mnt/sdcard/imgsmith.conf
    grep -q '^autoStart=' "$f" && sed -n 's/^autoStart=//p' "$f" || echo "<missing>"
}

# menu_number <set directory name>: the number the main menu shows for it.
menu_number() {
    screen | sed -n "s/^    \([0-9]*\)) .*\b$1\b.*/\1/p" | head -1
}

# Published lines other than frames and the prompt are indented by two blanks.
MENU='^  # Select an OS to install:'

case "$CASE" in
menu-install)
    make_board --sets linux-mbr4,linux-mbr6
    start_gui
    wait_for "$MENU"
    dir=
    for s in linux-mbr4 linux-mbr6; do
        n=$(menu_number $s)
        [ -n "$n" ] || fail "set $s not in the menu"
        [ "$n" = 2 ] && dir=$s
    done
    [ -n "$dir" ] || fail "neither set is menu entry 2"
    ok "the main menu lists both image sets"
    send 2
    wait_for 'Ready to install'
    screen | grep -qF "/mnt/sdcard/$dir" || fail "the summary is not of entry 2, $dir"
    send yes
    wait_for 'Enter "c" to cancel' 60
    # Not offered while installing: must change nothing.
    send bk
    wait_for 'Installation Complete' 300
    grep -q 'bk is not allowed' "$WORK/gui.log" || fail "\"bk\" during the install was not refused"
    ok "\"bk\" during the install was refused"
    ok "\"2\", \"yes\" installed $dir and the screen reached Installation Complete"
    gui_status || exit 1
    "$SRC/scripts/verify-install.py" "$SIM/dev/mmcblk2" "$SIM/mnt/sdcard/$dir" || fail "verification of $dir"
    ;;
cancel)
    make_board --sets linux-mbr4 --emmc-mib 1024
    # Slow enough to cancel: eight partitions of 96 MiB each (holes in the
    # image files, real writes on the device), each synced as it ends.
    d=$SIM/mnt/sdcard/long-set
    mkdir -p "$d"
    : > "$d/partmap.txt"
    for i in 1 2 3 4 5 6 7 8; do
        truncate -s 96M "$d/part$i.img"
        printf 'flash=mmc,0:p%d:emmc:0x%X,0x6000000:part%d.img;\n' "$i" $(( (i - 1) * 0x6100000 + 0x100000 )) "$i" >> "$d/partmap.txt"
    done
    start_gui
    wait_for "$MENU"
    n=$(menu_number long-set)
    [ -n "$n" ] || fail "long-set not in the menu"
    send "$n"
    wait_for 'Ready to install'
    send yes
    # Zero-filled images are written quickly: on a fast machine the install
    # may be over before its progress screen is seen.
    wait_for 'Enter "c" to cancel|Installation Complete' 60
    screen | grep -q 'Installation Complete' || send c
    # A cancel that lands before the first image goes back to the menu at
    # once, so the menu counts as an answer when the log says why.
    if ! "$CONSOLE" --timeout 120 --wait "ancel|Installation Complete|$MENU" > "$WORK/wait.out" 2>&1; then
        fail "no answer to \"c\""
    fi
    if screen | grep -q 'Installation Complete'; then
        echo "SKIP: the install ended before \"c\" reached it (machine too fast for this case)"
        exit 77
    fi
    polls 60 grep -q "The install was cancelled" "$SIM/tmp/imgsmith-gui.log" ||
        fail "the log does not say the install was cancelled"
    ok "\"c\" cancelled the install"
    # The job ends and lets go of the device.
    polls 60 sh -c '! ls -l "/proc/$1/fd" 2>/dev/null | grep -q "$2"' _ "$GUI_PID" "$SIM/dev/mmcblk2" ||
        fail "device still open after the cancel"
    kill -0 "$GUI_PID" || fail "the installer died"
    ok "the device was released and the installer runs on"
    ;;
menu-settings)
    # The automatic-install menu, then the back-up target.
    make_board --sets linux-mbr4,linux-mbr6
    start_gui
    wait_for "$MENU"
    polls 10 test -f "$SIM/mnt/sdcard/imgsmith.conf"
    send aui
    wait_for '^  # Configure automatic installing:'
    path1=$(screen | sed -n 's/^  *af1) \[[ *]\] //p')
    [ -n "$path1" ] || fail "no af1 entry"
    send af1
    wait_for 'Automatic installing" has been turned ON'
    value=$(auto_start)
    case "$value" in
        /mnt/sdcard/*) [ -e "$SIM$value" ] || fail "autoStart \"$value\" is not a set on the card" ;;
        *) fail "af1 wrote autoStart \"$value\"" ;;
    esac
    ok "\"af1\" wrote autoStart=$value"
    send c
    wait_for "Automatic installing \\(Curr:$value\\)"
    send aui
    wait_for '^  # Configure automatic installing:'
    screen | grep -q '^  *af1) \[\*\]' || fail "af1 not marked as the current choice"
    send ioff
    wait_for 'Automatic installing" has been turned off'
    [ -z "$(auto_start)" ] || fail "ioff left autoStart=$(auto_start)"
    ok "\"aui\" then \"ioff\" emptied autoStart"
    send c
    wait_for "$MENU"
    send usb
    wait_for 'changed to "USB disk"'
    send c
    wait_for '^ *usb\) \[\*\] USB disk'
    screen | grep -q '^ *tf) \[ \] TF card' || fail "TF card still marked"
    ok "\"usb\" made the USB drive the back-up target"
    send tf
    wait_for 'changed to "TF card"'
    send c
    wait_for '^ *tf\) \[\*\] TF card'
    ok "\"tf\" made the TF card the back-up target"
    ;;
backup)
    make_board --sets linux-mbr4 --emmc-mib 64
    # The default card is FAT, which cannot hold a whole-device image: this
    # board's card data partition is exFAT.
    sed -i 's|^\(/dev/mmcblk1p1 /mnt/sdcard\) vfat .*|\1 exfat rw,relatime 0 0|' "$SIM/proc/mounts"
    grep -q ' /mnt/sdcard exfat ' "$SIM/proc/mounts" || fail "could not mount the card as exFAT"
    start_gui
    wait_for "$MENU"
    # The menu offers the back-up and names the file by its path on the board.
    name=$(screen | sed -n 's/^ *bk) Start backup, use "\(.*\)" as the file name$/\1/p')
    [ -n "$name" ] || fail "the menu offers no back-up or names no file"
    f=$SIM$name
    send bk
    wait_for 'Backup|Backing up'
    polls 120 sh -c '[ -f "$1.sha256" ] && cmp -s "$1" "$2"' _ "$f" "$SIM/dev/mmcblk2"
    cmp "$f" "$SIM/dev/mmcblk2" || fail "no back-up file equal to the eMMC"
    (cd "$(dirname "$f")" && sha256sum -c "$(basename "$f").sha256") || fail "the back-up's manifest does not match it"
    ok "\"bk\" backed the eMMC up into ${f#"$SIM"}"
    ;;
autoexit-good | autoexit-too-large)
    # Unattended (-i <set> --auto-exit), no client. too-large: the same set
    # with a 1 MiB boot partition for its 16 MiB boot.img ends with status 1,
    # and nothing but the eMMC, the program's own files in /tmp and the
    # install report changed.
    make_board --sets linux-mbr4
    set=linux-mbr4
    if [ "$CASE" = autoexit-too-large ]; then
        set=too-large
        cp -a "$SIM/mnt/sdcard/linux-mbr4" "$SIM/mnt/sdcard/$set"
        sed -i 's/boot:ext4:0x100000,0x1000000:/boot:ext4:0x100000,0x100000:/' "$SIM/mnt/sdcard/$set/partmap.txt"
        grep -q '0x100000,0x100000:boot.img' "$SIM/mnt/sdcard/$set/partmap.txt" || fail "partmap edit"
    fi
    touch "$WORK/start"
    sleep 1   # mtime granularity: every later write is newer than the marker
    PATH="$SRC/scripts/sim-tools:$PATH" QT_QPA_PLATFORM=offscreen IMGSMITH_ROOT=$SIM \
        timeout 300 "$GUI" -i "/mnt/sdcard/$set" --auto-exit > "$WORK/gui.log" 2>&1
    rc=$?
    if [ "$CASE" = autoexit-good ]; then
        [ $rc -eq 0 ] || fail "exit status $rc, expected 0"
        "$SRC/scripts/verify-install.py" "$SIM/dev/mmcblk2" "$SIM/mnt/sdcard/$set" || fail "verification"
    else
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
    fi
    ok "exit status $rc"
    ;;
capture)
    # The README's console screen: the main menu of a simulated board.
    make_board --sets linux-mbr4,rk3588-gpt
    start_gui
    wait_for "$MENU"
    screen
    exit 0
    ;;
*)
    fail "unknown case $CASE"
    ;;
esac
echo "PASS: $CASE"
