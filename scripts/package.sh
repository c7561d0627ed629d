#!/bin/sh
# Builds the Debian package imgsmith_<version>_<arch>.deb for the machine it
# runs on (build natively on an arm64 board, or in an arm64 container, for
# an arm64 package). Release build without tests in its own directory;
# the package lands in that directory and its path is printed last.
#
# Usage: scripts/package.sh [extra CMake arguments]
#   PACKAGE_BUILD_DIR  build directory (default build-package)
set -eu
cd "$(dirname "$0")/.."
case "${1:-}" in
    -h|--help)
        sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'
        exit 0 ;;
esac
BUILD_DIR=${PACKAGE_BUILD_DIR:-build-package}
./scripts/deps.sh
BUILD_DIR=$BUILD_DIR ./scripts/build.sh -DCMAKE_BUILD_TYPE=Release -DIMGSMITH_TESTS=OFF "$@"
(cd "$BUILD_DIR" && cpack -G DEB)
deb=$(ls -t "$BUILD_DIR"/imgsmith_*.deb | head -1)
dpkg-deb --info "$deb" | sed -n 's/^ \(Package\|Version\|Architecture\|Depends\):/\1:/p'
echo "$deb"
