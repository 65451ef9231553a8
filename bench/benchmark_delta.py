#!/usr/bin/env python3
"""The delta benchmark after bench/benchmark_download.sh has built it (run
as `bench/benchmark_download.sh delta`): two releases of an application
folder of a few hundred files, mixed compressible and incompressible, packed
by the release tool and served by nginx; download_bench.exe fetches the new
package with the previous one in place (rebuilt from it) and without it (the
whole package), in turns A B A B ...; the bytes each run cost are read from
nginx's access log. A third release where every file changed shows what the
attempt costs when there is nothing to copy."""

import hashlib
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "support"))
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tools" / "release"))
import harness  # noqa: E402
from release_tool.package import write_package  # noqa: E402

WORK = harness.BUILD_DIR / "benchmark" / "delta"
ROUNDS = int(os.environ.get("NIRVA_BENCH_ROUNDS", "5"))
# nginx's limit_rate for the packages (for example "10m"), to see a link slower than the loopback.
RATE = os.environ.get("NIRVA_BENCH_RATE")
FILES = 400
LOG_LINE = re.compile(r'"GET (\S+) HTTP/[\d.]+" (\d{3}) (\d+)')

WORDS = [b"ledger", b"invoice", b"account", b"balance", b"journal", b"tax", b"payment", b"customer", b"1403",
         b"debit", b"credit", b"<row>", b"</row>", b"\r\n"]


def file_size(index):
    return random.Random(index).randint(16, 1024) * 1024


def file_content(index, generation):
    """Reports, forms and scripts compress well; libraries and images hardly."""
    generator = random.Random(index * 7919 + generation * 104729)
    size = file_size(index)
    if index % 2 == 0:
        return generator.randbytes(size)
    words = generator.choices(WORDS, k=size // 5)
    return b" ".join(words)[:size]


def release_folder(name, changed):
    """The application folder, its files of generation 1 where `changed` says so."""
    folder = WORK / name
    if folder.exists():
        return folder
    for index in range(FILES):
        path = folder / f"module{index // 50:02}" / f"part{index:03}.dat"
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(file_content(index, 1 if changed(index) else 0))
    return folder


def pack(folder):
    package = folder.with_suffix(".zip")
    if not package.exists():
        files = sorted(path.relative_to(folder).as_posix() for path in folder.rglob("*") if path.is_file())
        directories = sorted({name.rsplit("/", 1)[0] + "/" for name in files})
        sources = {**{name: folder / name for name in files}, **{name: None for name in directories}}
        write_package(dict(sorted(sources.items())), package)
    return package


def run_bench(url, digest, previous, work=WORK):
    """One download with the previous package in place, or none: seconds and peak working set (MB)."""
    result = subprocess.run([str(harness.WINE_RUN), str(harness.BUILD_DIR / "bench" / "download_bench.exe"), url,
                             "bench.zip", digest, "1", str(previous) if previous else "none"],
                            cwd=work, capture_output=True, text=True)
    seconds = re.search(r"updater_s=([\d.]+)", result.stdout)
    memory = re.search(r"peak_working_set_mb=([\d.]+)", result.stdout)
    if result.returncode != 0 or not seconds:
        raise RuntimeError("download_bench failed:\n" + result.stdout + result.stderr[-2000:])
    return float(seconds[1]), float(memory[1]) if memory else 0.0


def measure(root, log, old, new, label):
    served = root / "packages" / label
    served.mkdir(parents=True)
    shutil.copyfile(new, served / "nirva.zip")
    shutil.copyfile(old, WORK / "previous.zip")
    url = f"https://updates.example/packages/{label}/nirva.zip"
    digest = hashlib.sha256(new.read_bytes()).hexdigest()
    rounds = []
    for _ in range(ROUNDS):
        row = []
        for previous in (WORK / "previous.zip", None):
            before = log.stat().st_size if log.exists() else 0
            seconds, _ = run_bench(url, digest, previous)
            with log.open("rb") as lines:
                lines.seek(before)
                answers = [LOG_LINE.search(line.decode()) for line in lines]
            row += [seconds, sum(int(answer[3]) for answer in answers if answer), len(answers)]
        rounds.append(row)
    print(f"== {label}: package {new.stat().st_size} bytes; per round: with previous (s, bytes, requests)"
          " | whole (s, bytes, requests)")
    for row in rounds:
        print("   {:.3f} s {} B {} | {:.3f} s {} B {}".format(*row))
    median = statistics.median
    return (label, median(r[1] / r[4] for r in rounds) * 100, median(r[0] / r[3] for r in rounds),
            median(r[0] for r in rounds), median(r[3] for r in rounds))


def main():
    WORK.mkdir(parents=True, exist_ok=True)
    # A few files of about 200 KiB each, spread over the package.
    changed_few = [index for index in range(0, FILES, 7) if 150 <= file_size(index) // 1024 <= 260][:5]
    old = pack(release_folder("release-1", lambda index: False))
    new = pack(release_folder("release-2", lambda index: index in changed_few))
    everything = pack(release_folder("release-3", lambda index: True))
    changed_bytes = sum(len(file_content(index, 1)) for index in changed_few)
    print(f"{FILES} files, {FILES // 2} incompressible; "
          f"release 2 changes {len(changed_few)} files of {changed_bytes} bytes in all")
    summary = []
    with harness.nginx(package_rate=RATE) as root:
        log = root.parent / "nginx" / "access.log"
        summary.append(measure(root, log, old, new, "few-changed"))
        summary.append(measure(root, log, old, everything, "all-changed"))
    print(f"\n{'release':>12} {'bytes %':>8} {'time ratio':>11} {'with previous s':>16} {'whole s':>8}"
          f"   (medians of {ROUNDS} rounds; bytes and time against the whole download of the same round;"
          f" rate {RATE or 'unlimited'})")
    for row in summary:
        print("{:>12} {:>8.2f} {:>11.3f} {:>16.3f} {:>8.3f}".format(*row))


if __name__ == "__main__":
    main()
