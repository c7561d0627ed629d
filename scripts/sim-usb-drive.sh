#!/bin/bash
# Plugs a USB drive into a simulated board (made by make-sim-board.sh) or
# pulls it out again: the sysfs entry below the USB host, its lines in
# /proc/partitions, and the files of its first partition (for the mount
# stand-in in scripts/sim-tools). Prints the kernel uevent line that the
# change would produce.
#
# Usage: sim-usb-drive.sh plug <root> [<directory with the drive's files>]
#        sim-usb-drive.sh unplug <root>
set -euo pipefail
ACTION=${1:?usage: sim-usb-drive.sh plug|unplug <root> [files]}
ROOT=${2:?usage: sim-usb-drive.sh plug|unplug <root> [files]}
DEVPATH=platform/fc800000.usb/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda
case "$ACTION" in
    plug)
        mkdir -p "$ROOT/sys/devices/$DEVPATH/sda1" "$ROOT/sys/block" "$ROOT/sys/class/block" "$ROOT/sim/media/sda1"
        echo $((64 * 2048)) > "$ROOT/sys/devices/$DEVPATH/size"
        echo 1 > "$ROOT/sys/devices/$DEVPATH/removable"
        ln -sfn "../devices/$DEVPATH" "$ROOT/sys/block/sda"
        ln -sfn "../../devices/$DEVPATH" "$ROOT/sys/class/block/sda"
        ln -sfn "../../devices/$DEVPATH/sda1" "$ROOT/sys/class/block/sda1"
        if [ -n "${3:-}" ]; then
            cp -a "$3/." "$ROOT/sim/media/sda1/"
        fi
        grep -q ' sda$' "$ROOT/proc/partitions" || printf '   8        0      65536 sda\n   8        1      65535 sda1\n' >> "$ROOT/proc/partitions"
        echo "add@/devices/$DEVPATH"
        ;;
    unplug)
        rm -f "$ROOT/sys/block/sda" "$ROOT/sys/class/block/sda" "$ROOT/sys/class/block/sda1"
        rm -rf "$ROOT/sys/devices/platform/fc800000.usb"
        grep -v ' sda1\?$' "$ROOT/proc/partitions" > "$ROOT/proc/partitions.new" || true
        mv "$ROOT/proc/partitions.new" "$ROOT/proc/partitions"
        echo "remove@/devices/$DEVPATH"
        ;;
    *) echo "usage: sim-usb-drive.sh plug|unplug <root> [files]" >&2; exit 2 ;;
esac
