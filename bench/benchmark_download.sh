#!/bin/sh
# Downloads a package with the updater's own download code (digest check on)
# and with a plain 64 KiB WinHTTP read loop, in turns A B A B ..., from the
# Python test server and from nginx, and reports the medians of each, the
# median of the pairwise ratios, progress messages and memory.
#
# Usage: bench/benchmark_download.sh [SIZE_MB ...]   (default: 20 200)
#        NIRVA_BENCH_ROUNDS=N sets the pairs per size and server (default 7).
#        bench/benchmark_download.sh delta: a package rebuilt from the
#        previous release against the whole download, bytes and time, from
#        nginx (default 5 pairs; NIRVA_BENCH_RATE=10m limits the link).
#        bench/benchmark_download.sh patches: a generated 30 MB program
#        rebuilt with a few functions changed; whole, file-level rebuild and
#        rebuild with patches, bytes and time at NIRVA_BENCH_RATE (10m unless
#        set), and the real updater installing it (bench/benchmark_patches.py).
#        NIRVA_BENCH_PORT sets the port the benchmark's build pins (47543).
#        bench/benchmark_download.sh proxy [SIZE_MB]: the download through
#        squid on loopback against the direct one (default 100 MB, 7 pairs).
set -eu
cd "$(dirname "$0")/.."

scripts/install_deps.sh
# A build tree of its own, on a port of its own, so it never meets a test run.
build_dir=$PWD/build/bench
cmake --preset test -B "$build_dir" -DNIRVA_TEST_PORT="${NIRVA_BENCH_PORT:-47543}" >/dev/null
cmake --build "$build_dir" --target download_bench nirva_updater >/dev/null
sh tests/support/prepare_wineprefix.sh "$build_dir/wine-run" >/dev/null

cleanup() {
    WINEPREFIX="$build_dir/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
}
trap cleanup EXIT INT TERM
if [ "${1:-}" = delta ]; then
    NIRVA_BUILD_DIR=$build_dir /usr/bin/python3 bench/benchmark_delta.py
elif [ "${1:-}" = patches ]; then
    NIRVA_BUILD_DIR=$build_dir /usr/bin/python3 bench/benchmark_patches.py
elif [ "${1:-}" = proxy ]; then
    shift
    NIRVA_BUILD_DIR=$build_dir /usr/bin/python3 bench/benchmark_proxy.py "$@"
else
    NIRVA_BUILD_DIR=$build_dir /usr/bin/python3 bench/benchmark_download.py "$@"
fi
