#!/usr/bin/env python3
"""The installation's unpacking, timed: flush_bench.exe unpacks a package
with the updater's own code under Wine, every file flushed (A), and Python's
zipfile writes the same files natively with an fsync each (B), the limit
the disk and the file system set; in turns A B A B ..., on the delta
benchmark's package (400 files, about 125 MB) and on 4,000 small files. One
more run of A without the flush tells what the flush costs.

Usage: bench/benchmark_install.py   (NIRVA_BENCH_ROUNDS=N pairs, default 5;
the test build in build/test, or NIRVA_BUILD_DIR)"""

import os
import re
import shutil
import statistics
import subprocess
import sys
import time
import zipfile
from pathlib import Path

REPOSITORY = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPOSITORY / "tests" / "support"))
sys.path.insert(0, str(REPOSITORY / "scripts"))
import benchmark_delta  # noqa: E402
import harness  # noqa: E402
import packages  # noqa: E402

WORK = harness.BUILD_DIR / "benchmark" / "install"
ROUNDS = int(os.environ.get("NIRVA_BENCH_ROUNDS", "5"))


def small_files_package():
    """4,000 files of up to 4 KB, text and binary, in folders of 100."""
    package = WORK / "small-files.zip"
    if not package.exists():
        packages.write_package(package, harness.SUPPORT_DIR / "nirva_acc_2000.exe", packages.small_files())
    return package


def clean_start(target):
    """No earlier run's files, and none of its writes still pending, to be paid for by this run."""
    shutil.rmtree(target, ignore_errors=True)
    os.sync()


def wine_unpack(package, flush=True):
    target = "unpacked-wine"
    clean_start(package.parent / target)
    result = subprocess.run([str(harness.WINE_RUN), str(harness.BUILD_DIR / "bench" / "flush_bench.exe"), package.name,
                             target, *([] if flush else ["noflush"])], cwd=package.parent, capture_output=True,
                            text=True)
    match = re.search(r"unpack_s=([\d.]+)", result.stdout)
    if result.returncode != 0 or not match:
        raise RuntimeError("flush_bench failed:\n" + result.stdout + result.stderr[-2000:])
    return float(match[1])


def native_unpack(package):
    target = package.parent / "unpacked-native"
    clean_start(target)
    start = time.perf_counter()
    with zipfile.ZipFile(package) as archive:
        for info in archive.infolist():
            path = target / info.filename
            if info.is_dir():
                path.mkdir(parents=True, exist_ok=True)
                continue
            path.parent.mkdir(parents=True, exist_ok=True)
            with archive.open(info) as source, open(path, "wb") as output:
                shutil.copyfileobj(source, output, 256 * 1024)
                output.flush()
                os.fsync(output.fileno())
    return time.perf_counter() - start


def measure(label, package):
    rounds = [(wine_unpack(package), native_unpack(package)) for _ in range(ROUNDS)]
    unflushed = wine_unpack(package, flush=False)
    print(f"== {label}: {package.stat().st_size} bytes; per round: updater under Wine s | native s")
    for wine, native in rounds:
        print(f"   {wine:.3f} | {native:.3f}")
    wine = statistics.median(wine for wine, _ in rounds)
    native = statistics.median(native for _, native in rounds)
    ratio = statistics.median(native / wine for wine, native in rounds)
    return label, wine, native, ratio, unflushed, wine - unflushed


def main():
    WORK.mkdir(parents=True, exist_ok=True)
    subprocess.run(["cmake", "--build", str(harness.BUILD_DIR), "--target", "flush_bench"], check=True,
                   stdout=subprocess.DEVNULL)
    delta_package = benchmark_delta.pack(benchmark_delta.release_folder("release-1", lambda index: False))
    summary = [measure("400 files", shutil.copyfile(delta_package, WORK / "delta-release.zip")),
               measure("4000 small files", small_files_package())]
    print(f"\n{'package':>17} {'updater s':>10} {'native s':>9} {'native/updater':>15} {'no flush s':>11}"
          f" {'flush s':>8}   (medians of {ROUNDS} pairs; the ratio is the median of each pair's)")
    for row in summary:
        print("{:>17} {:>10.3f} {:>9.3f} {:>15.2f} {:>11.3f} {:>8.3f}".format(*row))


if __name__ == "__main__":
    main()
