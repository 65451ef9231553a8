#!/usr/bin/env python3
"""How long the nothing-newer start takes, for two updater executables:
from the updater's start until it has ended and the application has started.

Each executable has its own office folder and its own test server (its key
folder and the port built into it), offering the installed version. Runs go
A B A B ... in the test build's Wine prefix, after one unmeasured run of each;
the summary gives each one's median and the median of the pairwise ratios
B / A (1.05 is B 5 % slower).

    bench/startup_bench.py --a EXE KEY_DIR PORT --b EXE KEY_DIR PORT [--runs N]

For example, a build of main from before a change against this build:

    bench/startup_bench.py --a /tmp/startup-base/build/test/nirva_updater.exe \\
        /tmp/startup-base/build/test/test-keys 47579 \\
        --b build/test/nirva_updater.exe build/test/test-keys 47570
"""

import argparse
import contextlib
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "support"))
import harness  # noqa: E402
import test_server  # noqa: E402

INSTALLED = "1.2.3.4"
MANIFEST = ('{"version": "%s", "url": "https://updates.example/nirva.zip", "sha256": "", "notes": "n", '
            '"uploadDate": "2026-12-01", "releaseDate": "2026-12-01", "mandatory": false}' % INSTALLED).encode()


class Contender:
    """One updater executable with its office folder and its server."""

    def __init__(self, name, executable, key_dir, port, work):
        self.name, self.executable = name, Path(executable).resolve()
        self.office = work / name
        (self.office / "NIRVA").mkdir(parents=True)
        shutil.copyfile(harness.SUPPORT_DIR / "nirva_acc_1234.exe", self.office / "NIRVA" / "nirva_acc.exe")
        self.records = work / f"{name}-records.jsonl"
        self.server = test_server.start(int(port), str(Path(key_dir) / "pinned.crt"), str(Path(key_dir) / "pinned.key"))
        self.server.check_body = MANIFEST

    def started(self):
        if not self.records.exists():
            return False
        return any(json.loads(line).get("event") == "start" for line in self.records.read_text().splitlines() if line)

    def run(self):
        """Seconds from the updater's start until it has ended and the application has started."""
        self.records.unlink(missing_ok=True)
        env = dict(os.environ, NIRVA_FAKE_RECORD=str(self.records))
        begun = time.perf_counter()
        updater = subprocess.Popen([str(harness.WINE_RUN), str(self.executable)], cwd=self.office, env=env,
                                   **harness.QUIET)
        if updater.wait(timeout=120) != 0:
            raise RuntimeError(f"{self.executable} ended with {updater.returncode}")
        harness.wait_until(self.started, 30, 0.005, what=f"the application started by {self.name}")
        return time.perf_counter() - begun


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--a", nargs=3, required=True, metavar=("EXE", "KEY_DIR", "PORT"))
    parser.add_argument("--b", nargs=3, required=True, metavar=("EXE", "KEY_DIR", "PORT"))
    parser.add_argument("--runs", type=int, default=15, help="measured runs of each (default 15)")
    args = parser.parse_args(argv)

    work = Path(tempfile.mkdtemp(prefix="nirva-startup-bench-"))
    contenders = []
    try:
        with contextlib.ExitStack() as servers:
            for name, values in (("A", args.a), ("B", args.b)):
                contenders.append(Contender(name, *values, work))
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


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
