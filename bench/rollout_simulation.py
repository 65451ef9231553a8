#!/usr/bin/env python3
"""Simulated rollouts of one staged release over many offices, decided by the
release tool's own advance command, and a large report log to time it on.

    bench/rollout_simulation.py simulate [--offices 10000] [--fail 3] [--flood 100000] [--seed 1]
    bench/rollout_simulation.py biglog FOLDER [--gigabytes 1]

simulate: every office (a random id, a client address of its own or shared)
starts NIRVA once a day at a random time during office hours; a start that
is offered the release (its bucket, as the updater computes it, below the
live stage) reports "installed", or, on the --fail percent of offices where
the release fails to start, "rolledback" again at every start. advance runs
every ten minutes of simulated time on the growing log, exactly as the
server's timer runs it. --flood forged "installed" reports with random office
ids, from 50 addresses, are spread over the first stage's first day. Prints
each stage change and the counts.

biglog: writes FOLDER/reports.log of about that size (100,000 offices of the
release reporting again and again, among lines of other releases) and the
stage files beside it, then prints the advance command to time.
"""

import argparse
import datetime
import hashlib
import random
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tools" / "release"))
from release_tool import advance, stages  # noqa: E402
from release_tool.reader import Manifest  # noqa: E402

VERSION = "5.0.0.0"
STAGES = [1, 10, 50, 100]
START = datetime.datetime(2026, 12, 7, 0, 0, tzinfo=datetime.timezone.utc)
TICK = datetime.timedelta(minutes=10)
PREFIX = "/api/marlix/report/NIRVA_ACC/4.9.0.0/"


def bucket(office):
    return int.from_bytes(hashlib.sha256(f"{office}/{VERSION}".encode()).digest()[:4], "big") % 10000


def release_folder(folder):
    manifest = Manifest(version=VERSION, url=f"https://updates.example/packages/{VERSION}/nirva.zip", sha256="0" * 64,
                        notes="notes", release_date="2026-12-07", upload_date="2026-12-07T00:00:00Z",
                        mandatory=False, size="1000")
    stages.write_stages(manifest, STAGES, None, folder / "stages")
    (folder / "www").mkdir()
    (folder / "www" / "manifest.json").write_bytes((folder / "stages" / "rollout-1.json").read_bytes())


def line(time, outcome, office, address):
    step, code = ("none", 0) if outcome == "installed" else ("start", 3221225477)
    return f"{time.isoformat()} {address} GET {PREFIX}{VERSION}/{outcome}/{step}/{code}/{office}\n"


def simulate(arguments):
    rng = random.Random(arguments.seed)
    offices = [f"{rng.getrandbits(128):032x}" for _ in range(arguments.offices)]
    # Most offices have an address of their own; some share one (a building, a provider's NAT).
    shared = [rng.randrange(int(arguments.offices * 0.7)) for _ in offices]
    addresses = {office: f"100.{64 + n // 65536}.{n // 256 % 256}.{n % 256}" for office, n in zip(offices, shared)}
    failing = set(rng.sample(offices, round(arguments.offices * arguments.fail / 100)))
    # Each office starts once a day between 05:00 and 14:00 UTC, office hours in Iran.
    start_tick = {office: rng.randrange(30, 84) for office in offices}
    by_tick = {}
    for office in offices:
        by_tick.setdefault(start_tick[office], []).append(office)
    flood_addresses = [f"192.0.2.{n}" for n in range(50)]
    flood_ticks = {tick: [] for tick in range(144)}
    for _ in range(arguments.flood):
        flood_ticks[rng.randrange(144)].append(f"{rng.getrandbits(128):032x}")
    with tempfile.TemporaryDirectory() as directory:
        folder = Path(directory)
        release_folder(folder)
        log = folder / "reports.log"
        log.write_text("")
        installed, got_it, live, reports, decisions = set(), set(), 1, 0, 0
        manifest = folder / "www" / "manifest.json"
        print(f"{arguments.offices} offices, {len(failing)} on which the release fails to start, "
              f"{arguments.flood} forged reports in the first day; stages {STAGES}")
        for step in range(arguments.days * 144):
            now = START + step * TICK
            with log.open("a") as out:
                for office in by_tick.get(step % 144, []):
                    if office not in installed and bucket(office) < live * 100:
                        got_it.add(office)
                        reports += 1
                        outcome = "rolledback" if office in failing else "installed"
                        if outcome == "installed":
                            installed.add(office)
                        out.write(line(now, outcome, office, addresses[office]))
                if step < 144:
                    out.writelines(line(now, "installed", forged, rng.choice(flood_addresses))
                                   for forged in flood_ticks[step])
            outcome = advance.advance(folder / "stages", manifest, [log], advance.Rules(), now)
            decisions += 1
            if outcome.decision.to != live:
                tally = outcome.tally
                print(f"{now:%Y-%m-%d %H:%M} (run {decisions}): {outcome.decision.action} {live} -> "
                      f"{outcome.decision.to} %: {tally.reported} offices counted ({tally.installed} installed, "
                      f"{tally.rolled_back} rolled back), {tally.capped} capped; {reports} real reports so far, "
                      f"{len(got_it)} offices got the release; {outcome.decision.reason}")
                live = outcome.decision.to
            if live in (0, 100) and outcome.decision.action in (advance.HALTED, advance.DONE):
                break
        print(f"end: live {live} %, after {decisions} runs ({decisions / 144:.1f} days); {len(got_it)} offices got "
              f"the release, {len(installed)} installed it, {len(got_it & failing)} of them it failed to start on")


def biglog(arguments):
    rng = random.Random(1)
    folder = arguments.folder
    folder.mkdir(parents=True, exist_ok=True)
    release_folder(folder)
    offices = [f"{rng.getrandbits(128):032x}" for _ in range(100_000)]
    target, written = int(arguments.gigabytes * 2**30), 0
    with (folder / "reports.log").open("w") as out:
        time = START
        while written < target:
            chunk = []
            for _ in range(10_000):
                time += datetime.timedelta(milliseconds=rng.randrange(200))
                office = rng.choice(offices)
                version = VERSION if rng.random() < 0.5 else "4.9.5.0"
                outcome = "installed" if rng.random() < 0.97 else "failed"
                step = "none" if outcome == "installed" else "download"
                chunk.append(f"{time.isoformat(timespec='seconds')} 198.51.{rng.randrange(256)}.{rng.randrange(256)}"
                             f" GET {PREFIX}{version}/{outcome}/{step}/0/{office}\n")
            text = "".join(chunk)
            out.write(text)
            written += len(text)
    print(f"{folder / 'reports.log'}: {written} bytes")
    print(f"/usr/bin/time -v {sys.executable} tools/release/nirva_release.py advance --stages {folder / 'stages'} "
          f"--manifest {folder / 'www' / 'manifest.json'} --reports {folder / 'reports.log'}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    run = commands.add_parser("simulate")
    run.add_argument("--offices", type=int, default=10_000)
    run.add_argument("--fail", type=float, default=3.0, help="percent of offices the release fails to start on")
    run.add_argument("--flood", type=int, default=0, help="forged installed reports in the first day")
    run.add_argument("--days", type=int, default=30)
    run.add_argument("--seed", type=int, default=1)
    big = commands.add_parser("biglog")
    big.add_argument("folder", type=Path)
    big.add_argument("--gigabytes", type=float, default=1.0)
    arguments = parser.parse_args()
    (simulate if arguments.command == "simulate" else biglog)(arguments)


if __name__ == "__main__":
    main()
