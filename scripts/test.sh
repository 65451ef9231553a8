#!/bin/sh
# Builds the test configuration and runs every test: the unit tests under
# Wine, the release tool's tests and the end-to-end tests that drive the real
# updater under Wine and Xvfb against local TLS servers.
set -eu
cd "$(dirname "$0")/.."

scripts/install_deps.sh
cmake --preset test
cmake --build --preset test

cleanup() {
    WINEPREFIX="$PWD/build/test/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
}
trap cleanup EXIT INT TERM

# Entries run side by side: they mostly wait for Wine, servers and timers.
# Without a display of the caller's, a private Xvfb lives as long as the tests
# (the end-to-end entries make their own, or share it when they take turns).
python3 tests/support/harness.py display 1280x1024 ctest --preset test -j 6 "$@"
