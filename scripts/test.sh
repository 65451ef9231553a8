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
    display=90
    while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
        display=$((display + 1))
    done
    Xvfb ":$display" -nolisten tcp -screen 0 1280x1024x24 >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$display"
    tries=0
    while [ ! -e "/tmp/.X11-unix/X$display" ]; do
        tries=$((tries + 1))
        if [ "$tries" -gt 100 ]; then
            echo "Xvfb did not start" >&2
            exit 1
        fi
        sleep 0.1
    done
fi

ctest --preset test "$@"
