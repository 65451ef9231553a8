#!/usr/bin/env python3
"""The package download through squid against the direct one, after
bench/benchmark_download.sh proxy has built it: nginx serves a package of
SIZE_MB random bytes (default 100), and download_bench.exe runs the updater's
download (digest check on) directly and through a squid on loopback, in turns
A B A B ...; this prints every pair, the medians and the median of the
pairwise ratios (direct seconds / proxy seconds: 1.0 is as fast as direct).

Usage: bench/benchmark_proxy.py [SIZE_MB]   (NIRVA_BENCH_ROUNDS pairs, default 7)
"""

import hashlib
import os
import shutil
import statistics
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "support"))
import harness  # noqa: E402
import proxy_harness  # noqa: E402

WORK = harness.BUILD_DIR / "benchmark"
ROUNDS = int(os.environ.get("NIRVA_BENCH_ROUNDS", "7"))


def download(url, digest, proxy=None):
    """Seconds of one updater download, directly or through the proxy (host:port)."""
    result = subprocess.run([str(harness.WINE_RUN), str(harness.BUILD_DIR / "bench" / "download_bench.exe"), url,
                             "bench.zip", digest, "1", "none", *([proxy] if proxy else [])],
                            cwd=WORK, capture_output=True, text=True)
    seconds = float(result.stdout.split("updater_s=")[1].split()[0]) if "updater_s=" in result.stdout else -1
    if result.returncode != 0 or seconds <= 0:
        raise RuntimeError(f"download_bench failed:\n{result.stdout}{result.stderr[-2000:]}")
    return seconds


def main(size):
    WORK.mkdir(parents=True, exist_ok=True)
    package = WORK / f"package-{size}.bin"
    if not package.exists():
        package.write_bytes(os.urandom(size * 1048576))
    digest = hashlib.sha256(package.read_bytes()).hexdigest()
    pairs = []
    with harness.nginx() as root, proxy_harness.squid() as squid:
        (root / "packages" / "bench").mkdir(parents=True)
        shutil.copyfile(package, root / "packages" / "bench" / "nirva.zip")
        url = "https://updates.example/packages/bench/nirva.zip"
        # Wine opens no tunnel when the proxy's host name is the server's
        # (both 127.0.0.1 here): the proxy is named by another name.
        proxy = squid.address().replace("127.0.0.1", "localhost")
        for number in range(1, ROUNDS + 1):
            pairs.append((download(url, digest), download(url, digest, proxy)))
            direct, proxied = pairs[-1]
            print(f"pair {number}: direct {direct:.3f} s ({size / direct:.0f} MB/s), "
                  f"through squid {proxied:.3f} s ({size / proxied:.0f} MB/s)", flush=True)
    median = statistics.median
    print(f"{size} MB, medians of {ROUNDS} pairs: direct {median(a for a, _ in pairs):.3f} s, through squid "
          f"{median(b for _, b in pairs):.3f} s, pairwise direct/proxy {median(a / b for a, b in pairs):.3f}")


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 100)
