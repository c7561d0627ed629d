#!/bin/sh
# Configures and builds into build/ (Ninja, RelWithDebInfo). Extra arguments
# go to CMake, e.g. -DIMGSMITH_SANITIZE=ON. BUILD_DIR overrides the directory;
# BUILD_TARGET builds one target instead of all.
set -eu
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
LAUNCHER=""
if command -v ccache >/dev/null 2>&1; then
    # Several work trees share one cache when their paths differ only below here.
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(cd .. && pwd)}"
    LAUNCHER="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
fi
# shellcheck disable=SC2086
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $LAUNCHER "$@"
if [ -n "${BUILD_TARGET:-}" ]; then
    cmake --build "$BUILD_DIR" -j"$(nproc)" --target "$BUILD_TARGET"
else
    cmake --build "$BUILD_DIR" -j"$(nproc)"
fi
