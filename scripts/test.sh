#!/bin/sh
# Builds the test configuration and runs every test: the unit tests under
# Wine, the release tool's tests and the end-to-end tests that drive the real
# updater under Wine and Xvfb against local TLS servers.
set -eu
cd "$(dirname "$0")/.."

scripts/install_deps.sh
cmake --preset test
cmake --build --preset test

build_dir=build/test
xvfb_pid=""
cleanup() {
    WINEPREFIX="$PWD/$build_dir/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT INT TERM

if [ -z "${DISPLAY:-}" ]; then
    . scripts/xvfb.sh
    start_xvfb 1280x1024
fi

ctest --preset test "$@"
