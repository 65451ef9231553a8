#!/bin/sh
# Downloads a large package with the updater's own download code and with a
# plain WinHTTP read loop from the same loopback TLS server, and reports
# throughput, progress messages posted and memory. Run twice with different
# sizes to see that memory does not grow with the package.
#
# Usage: scripts/benchmark_download.sh [SIZE_MB ...]   (default: 20 200)
set -eu
cd "$(dirname "$0")/.."
root=$PWD

scripts/install_deps.sh
# A build tree of its own, on a port of its own, so it never meets a test run.
build_dir=$root/build/bench
port=47543
cmake --preset test -B "$build_dir" -DNIRVA_TEST_PORT=$port >/dev/null
cmake --build "$build_dir" --target download_bench powershell_standin >/dev/null
sh tests/support/prepare_wineprefix.sh "$build_dir/wine-run" "$build_dir/tests/support/powershell.exe" >/dev/null

work=$build_dir/benchmark
mkdir -p "$work"
server_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    WINEPREFIX="$build_dir/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
}
trap cleanup EXIT INT TERM

# Samples the resident memory of the benchmark's Wine process until it ends.
peak_rss_mb() {
    peak=0
    # A finished child stays a zombie until it is waited for.
    while [ -e "/proc/$1" ] && ! grep -q '^State:.*Z' "/proc/$1/status" 2>/dev/null; do
        for pid in $(pgrep -f 'download_bench.exe' || true); do
            rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
            [ "${rss:-0}" -gt "$peak" ] && peak=$rss
        done
        sleep 0.2
    done
    echo $((peak / 1024))
}

sizes=${*:-20 200}
for size in $sizes; do
    package=$work/package-$size.bin
    [ -f "$package" ] || head -c "$((size * 1048576))" /dev/urandom > "$package"
    digest=$(sha256sum "$package" | cut -d' ' -f1)

    /usr/bin/python3 tests/support/test_server.py --port $port --cert "$build_dir/test-keys/pinned.crt" \
        --key "$build_dir/test-keys/pinned.key" --package "/bench/package.zip=$package" > "$work/server.out" &
    server_pid=$!
    while ! grep -q ready "$work/server.out" 2>/dev/null; do
        kill -0 "$server_pid" 2>/dev/null || { echo "the test server did not start" >&2; exit 1; }
        sleep 0.1
    done

    ( cd "$work" && "$build_dir/wine-run" "$build_dir/tests/support/download_bench.exe" \
        "https://updates.example/bench/package.zip" "bench-$size.zip" "$digest" > "bench-$size.out" 2>&1 ) &
    bench_pid=$!
    rss=$(peak_rss_mb $bench_pid)
    wait $bench_pid || { cat "$work/bench-$size.out"; exit 1; }
    kill "$server_pid"; wait "$server_pid" 2>/dev/null || true; server_pid=""

    echo "== package of $size MB"
    tr -d '\r' < "$work/bench-$size.out"
    echo "peak_resident_mb_seen_from_linux=$rss"
    rm -f "$work/bench-$size.zip" "$work/bench-$size.zip.plain"
done
