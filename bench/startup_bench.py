#!/usr/bin/env python3
"""How long the nothing-newer start takes, for two updater executables:
from the updater's start until it has ended and the application has started.
With --update, the healthy update instead (a mandatory release 2.0.0.0 whose
program shows its window): how long after the new release's window the
updater ended (negative: before it), and its whole run.

Each executable has its own office folder and its own test server (its key
folder and the port built into it), offering the installed version. Runs go
A B A B ... in the test build's Wine prefix, after one unmeasured run of each;
the summary gives each one's median and the median of the pairwise ratios
B / A (1.05 is B 5 % slower).

    bench/startup_bench.py --a EXE KEY_DIR PORT --b EXE KEY_DIR PORT [--runs N] [--update]

For example, a build of main from before a change against this build:

    bench/startup_bench.py --a /tmp/startup-base/build/test/nirva_updater.exe \\
        /tmp/startup-base/build/test/test-keys 47579 \\
        --b build/test/nirva_updater.exe build/test/test-keys 47570
"""

import argparse
import contextlib
import io
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "support"))
import harness  # noqa: E402
import test_server  # noqa: E402

INSTALLED = "1.2.3.4"
MANIFEST = ('{"version": "%s", "url": "https://updates.example/nirva.zip", "sha256": "", "notes": "n", '
            '"uploadDate": "2026-12-01", "releaseDate": "2026-12-01", "mandatory": %s}')


def new_release():
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.write(harness.SUPPORT_DIR / "nirva_acc_2000.exe", "nirva_acc.exe")
    return buffer.getvalue()


class Contender:
    """One updater executable with its office folder and its server."""

    def __init__(self, name, executable, key_dir, port, work, update):
        self.name, self.executable, self.update = name, Path(executable).resolve(), update
        self.office = work / name
        self.records = work / f"{name}-records.jsonl"
        self.server = test_server.start(int(port), str(Path(key_dir) / "pinned.crt"), str(Path(key_dir) / "pinned.key"))
        self.server.check_body = (MANIFEST % ("2.0.0.0" if update else INSTALLED, str(update).lower())).encode()
        self.server.packages["/nirva.zip"] = {"data": new_release()}
        self.install_old_release()

    def install_old_release(self):
        """The office as before the update; its own files (the id, the log) stay."""
        for name in ("NIRVA", "NIRVA.bak"):
            shutil.rmtree(self.office / name, ignore_errors=True)
        (self.office / "nirva.zip").unlink(missing_ok=True)
        (self.office / "NIRVA").mkdir(parents=True)
        shutil.copyfile(harness.SUPPORT_DIR / "nirva_acc_1234.exe", self.office / "NIRVA" / "nirva_acc.exe")

    def event(self, name):
        if not self.records.exists():
            return None
        return next((record for record in map(json.loads, filter(None, self.records.read_text().splitlines()))
                     if record.get("event") == name), None)

    def run(self):
        """Seconds from the updater's start until it has ended and the application has
        started; with --update, also seconds from the new release's window to the end."""
        if self.update:
            self.install_old_release()
        self.records.unlink(missing_ok=True)
        # An update's new release keeps its window until the bench ends it, also
        # when the updater that started it has gone.
        marker = f"NIRVA_TEST_CASE={self.office}"
        env = dict(os.environ, NIRVA_FAKE_RECORD=str(self.records), NIRVA_TEST_CASE=str(self.office),
                   **({"NIRVA_FAKE_MODE": "window"} if self.update else {}))
        begun = time.perf_counter()
        updater = subprocess.Popen([str(harness.WINE_RUN), str(self.executable)], cwd=self.office, env=env,
                                   **harness.QUIET)
        if updater.wait(timeout=120) != 0:
            raise RuntimeError(f"{self.executable} ended with {updater.returncode}")
        ended = time.time()
        harness.wait_until(lambda: self.event("start"), 30, 0.005, what=f"the application started by {self.name}")
        whole = time.perf_counter() - begun
        if not self.update:
            return whole
        window = harness.wait_until(lambda: self.event("window"), 30, 0.01, what=f"the window of {self.name}'s release")
        harness.end_processes(marker)
        return ended - window["time"] / 1000, whole


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--a", nargs=3, required=True, metavar=("EXE", "KEY_DIR", "PORT"))
    parser.add_argument("--b", nargs=3, required=True, metavar=("EXE", "KEY_DIR", "PORT"))
    parser.add_argument("--runs", type=int, default=15, help="measured runs of each (default 15)")
    parser.add_argument("--update", action="store_true", help="the healthy update instead of the nothing-newer start")
    args = parser.parse_args(argv)
    if args.update:
        return update_bench(args)

    work = Path(tempfile.mkdtemp(prefix="nirva-startup-bench-"))
    contenders = []
    try:
        with contextlib.ExitStack() as servers:
            for name, values in (("A", args.a), ("B", args.b)):
                contenders.append(Contender(name, *values, work, False))
                servers.callback(contenders[-1].server.stop)
            for contender in contenders:
                contender.run()
            pairs = []
            for number in range(1, args.runs + 1):
                pairs.append([contender.run() for contender in contenders])
                print(f"run {number:2}: A {pairs[-1][0]:.3f} s  B {pairs[-1][1]:.3f} s  "
                      f"B/A {pairs[-1][1] / pairs[-1][0]:.3f}", flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"A {args.a[0]}: median {statistics.median(a for a, _ in pairs):.3f} s")
    print(f"B {args.b[0]}: median {statistics.median(b for _, b in pairs):.3f} s")
    print(f"median of pairwise B/A: {statistics.median(b / a for a, b in pairs):.3f} ({args.runs} pairs)")
    return 0


def update_bench(args):
    """Turns of the healthy update: the end after the window, and the whole run, medians of each."""
    work = Path(tempfile.mkdtemp(prefix="nirva-update-bench-"))
    results = {"A": [], "B": []}
    try:
        with contextlib.ExitStack() as servers:
            contenders = []
            for name, values in (("A", args.a), ("B", args.b)):
                contenders.append(Contender(name, *values, work, True))
                servers.callback(contenders[-1].server.stop)
            for contender in contenders:
                contender.run()
            for number in range(1, args.runs + 1):
                for contender in contenders:
                    results[contender.name].append(contender.run())
                print(f"run {number:2}: " + "  ".join(f"{name} end after window {values[-1][0]:+.3f} s, "
                                                      f"whole {values[-1][1]:.3f} s"
                                                      for name, values in results.items()), flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for name, values in results.items():
        print(f"{name} {getattr(args, name.lower())[0]}: end after the window, median "
              f"{statistics.median(after for after, _ in values):+.3f} s (max {max(a for a, _ in values):+.3f} s); "
              f"whole run median {statistics.median(whole for _, whole in values):.3f} s")
    print("median of pairwise whole-run B/A: "
          f"{statistics.median(b[1] / a[1] for a, b in zip(results['A'], results['B'])):.3f} ({args.runs} pairs)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
