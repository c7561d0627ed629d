#!/bin/sh
# Installs the Debian packages that the build, the tests, the demo and the
# benchmark need. Idempotent: only packages that are missing are installed.
set -eu

PACKAGES="
build-essential cmake ninja-build pkg-config git ccache file
qt6-base-dev qt6-base-dev-tools libqt6network6 qt6-qpa-plugins
zlib1g-dev libssl-dev libxxhash-dev libusb-1.0-0-dev libblkid-dev libisal-dev
liblzma-dev libzstd-dev xz-utils zstd
libgtest-dev libgmock-dev
clang libclang-rt-14-dev
util-linux fdisk gdisk e2fsprogs btrfs-progs dosfstools
android-sdk-libsparse-utils device-tree-compiler rkflashtool
gzip pigz isal xxhash bash python3 coreutils time
fonts-droid-fallback
"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    echo "deps: all packages present"
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi

echo "deps: installing:$missing"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing
