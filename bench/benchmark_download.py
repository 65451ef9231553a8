#!/usr/bin/env python3
"""The download benchmark after bench/benchmark_download.sh has built it:
for each size and each server, download_bench.exe runs the updater's download
and the plain read loop in turn (with the download without a digest before
each pair, for comparison); this prints every pair and the summary.

ratio = plain loop seconds / updater seconds of the same pair: 1.0 is as fast
as the plain loop, 0.95 is 5 % slower; "no digest" is the same ratio for the
download without a digest."""

import contextlib
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "support"))
import harness  # noqa: E402

WORK = harness.BUILD_DIR / "benchmark"
ROUNDS = int(os.environ.get("NIRVA_BENCH_ROUNDS", "7"))


@contextlib.contextmanager
def python_server(package):
    server = subprocess.Popen(
        [sys.executable, str(harness.SOURCE_DIR / "tests" / "support" / "test_server.py"), "--port", str(harness.PORT),
         "--cert", str(harness.KEY_DIR / "pinned.crt"), "--key", str(harness.KEY_DIR / "pinned.key"),
         "--package", f"/bench/nirva.zip={package}"], stdout=subprocess.PIPE, text=True)
    try:
        if server.stdout.readline().strip() != "ready":
            raise RuntimeError("the test server did not start")
        yield "/bench/nirva.zip"
    finally:
        server.terminate()
        server.wait()


@contextlib.contextmanager
def nginx_server(package):
    with harness.nginx() as root:
        (root / "packages" / "bench").mkdir(parents=True)
        shutil.copyfile(package, root / "packages" / "bench" / "nirva.zip")
        yield "/packages/bench/nirva.zip"


def measure(server, package, digest):
    """One row per round: updater seconds, plain seconds, the same download
    without a digest, and the processor seconds of the first two."""
    with server(package) as path:
        result = subprocess.run([str(harness.WINE_RUN), str(harness.BUILD_DIR / "bench" / "download_bench.exe"),
                                 "https://updates.example" + path, "bench.zip", digest, str(ROUNDS)],
                                cwd=WORK, capture_output=True, text=True)
    lines = result.stdout.replace("\r", "").splitlines()
    if result.returncode != 0:
        raise RuntimeError("download_bench failed:\n" + "\n".join(lines) + result.stderr[-2000:])
    facts = dict(line.split("=") for line in lines if "=" in line and not line.startswith("round="))
    keys = ("updater_s", "plain_s", "undigested_s", "updater_cpu_s", "plain_cpu_s")
    rounds = [dict(item.split("=") for item in line.split()) for line in lines if line.startswith("round=")]
    return [[float(r[key]) for key in keys] for r in rounds], facts


def main(sizes):
    WORK.mkdir(parents=True, exist_ok=True)
    summary = []
    for size in sizes:
        package = WORK / f"package-{size}.bin"
        if not package.exists():
            package.write_bytes(os.urandom(size * 1048576))
        digest = hashlib.sha256(package.read_bytes()).hexdigest()
        for name, server in (("python", python_server), ("nginx", nginx_server)):
            rounds, facts = measure(server, package, digest)
            print(f"== {size} MB from {name}, per round: updater/plain seconds (no digest; processor seconds)")
            print("\n".join(f"   {a:.3f}/{b:.3f} ({u:.3f}; {ca:.2f}/{cb:.2f})" for a, b, u, ca, cb in rounds))
            median = statistics.median
            summary.append((size, name, median(r[0] for r in rounds), median(r[1] for r in rounds),
                            median(r[1] / r[0] for r in rounds), median(r[1] / r[2] for r in rounds),
                            facts["progress_messages"], facts["last_percentage"], facts["peak_working_set_mb"]))
    print(f"\n{'MB':>4} {'server':>7} {'updater s':>10} {'plain s':>8} {'ratio':>6} {'no digest':>10}"
          f" {'messages':>9} {'last %':>7} {'peak MB':>8}   (medians of {ROUNDS} rounds)")
    for row in summary:
        print("{:>4} {:>7} {:>10.3f} {:>8.3f} {:>6.2f} {:>10.2f} {:>9} {:>7} {:>8}".format(*row))


if __name__ == "__main__":
    main([int(size) for size in sys.argv[1:]] or [20, 200])
