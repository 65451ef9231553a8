#!/usr/bin/env python3
"""The download benchmark after scripts/benchmark_download.sh has built it:
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
    with server(package) as path:
        result = subprocess.run([str(harness.WINE_RUN), str(harness.SUPPORT_DIR / "download_bench.exe"),
                                 "https://updates.example" + path, "bench.zip", digest, str(ROUNDS)],
                                cwd=WORK, capture_output=True, text=True)
    lines = result.stdout.replace("\r", "").splitlines()
    if result.returncode != 0:
        raise RuntimeError("download_bench failed:\n" + "\n".join(lines) + result.stderr[-2000:])
    pairs = [dict(item.split("=") for item in line.split()) for line in lines if line.startswith("round=")]
    facts = dict(line.split("=") for line in lines if "=" in line and not line.startswith("round="))
    facts["cpu"] = [(float(p["updater_cpu_s"]), float(p["plain_cpu_s"])) for p in pairs]
    facts["undigested"] = [float(p["undigested_s"]) for p in pairs]
    return [(float(p["updater_s"]), float(p["plain_s"])) for p in pairs], facts


def main(sizes):
    WORK.mkdir(parents=True, exist_ok=True)
    summary = []
    for size in sizes:
        package = WORK / f"package-{size}.bin"
        if not package.exists():
            package.write_bytes(os.urandom(size * 1048576))
        digest = hashlib.sha256(package.read_bytes()).hexdigest()
        for name, server in (("python", python_server), ("nginx", nginx_server)):
            pairs, facts = measure(server, package, digest)
            print(f"== {size} MB from {name}: updater / plain seconds, A B A B ...")
            print("   " + "  ".join(f"{a:.2f}/{b:.2f}" for a, b in pairs))
            print("   processor seconds of the updater's process: " + "  ".join(f"{a:.2f}/{b:.2f}" for a, b in facts["cpu"]))
            summary.append((size, name, statistics.median(a for a, _ in pairs),
                            statistics.median(b for _, b in pairs), statistics.median(b / a for a, b in pairs),
                            statistics.median(b / u for (_, b), u in zip(pairs, facts["undigested"])),
                            facts["progress_messages"], facts["last_percentage"], facts["peak_working_set_mb"]))
    print(f"\n{'MB':>4} {'server':>7} {'updater s':>10} {'plain s':>8} {'ratio':>6} {'no digest':>10}"
          f" {'messages':>9} {'last %':>7} {'peak MB':>8}   (medians of {ROUNDS} pairs)")
    for row in summary:
        print("{:>4} {:>7} {:>10.3f} {:>8.3f} {:>6.2f} {:>10.2f} {:>9} {:>7} {:>8}".format(*row))


if __name__ == "__main__":
    main([int(size) for size in sys.argv[1:]] or [20, 200])
