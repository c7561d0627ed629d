#!/bin/bash
# Kept beside a back-up of a Linux system and run when that back-up is
# restored, with the restored root file system mounted at $ROOTDIR. It
# clears what identifies the board the back-up was taken from, so that a
# board restored from it makes its own identity at its next start: the
# machine id (systemd writes a new one into an empty file) and the network
# interface names pinned to the old board's MAC addresses.
# The wrapper sources this file: no `exit`, which would end the wrapper.
if [ -n "${ROOTDIR:-}" ] && [ -d "$ROOTDIR/etc" ]; then
    if [ -f "$ROOTDIR/etc/machine-id" ]; then
        : > "$ROOTDIR/etc/machine-id"
    fi
    rm -f "$ROOTDIR/var/lib/dbus/machine-id"
    rm -f "$ROOTDIR/etc/udev/rules.d/70-persistent-net.rules"
    echo "cleanup.sh: identity of the backed-up board removed from $ROOTDIR"
fi
