"""advance: the update server widens or halts a staged release from the
outcome reports alone. It never holds the release key: every stage was
signed at release time (stages.py), and it only publishes one of those files
over the live manifest.

Beside the manifest it keeps two files of its own: advance.state, which stage
is live and since when (a copied manifest's modification time says nothing),
and advance.log, the journal, one line per decision.

Reports are not authenticated, so the rules are built so that forged ones
can only halt: failures and rollbacks always count, a fixed number of them
halts whatever the share, and the "installed" offices one client address
contributes per day are capped.
"""

import contextlib
import dataclasses
import datetime
import fcntl
import json
import os
import re
from collections import Counter
from collections.abc import Iterable
from dataclasses import dataclass
from pathlib import Path

from . import signing
from .checks import Refusal, check_manifest_text
from .reader import Manifest, read_manifest
from .report import INSTALLED, ROLLED_BACK, log_files, log_lines, parse_line
from .stages import FOLDER, HALT, INDEX, parse_stages, stage_file_name

STATE_NAME = "advance.state"
JOURNAL_NAME = "advance.log"
TIME_FORMAT = "%Y-%m-%dT%H:%M:%SZ"
# The decisions, as the journal names them.
WIDEN, HALT_NOW, HOLD, HALTED, LEFT, DONE = "widen", "halt", "hold", "halted", "left", "done"


@dataclass(frozen=True)
class Rules:
    min_reports: int = 20
    halt_above: float = 5.0  # percent of the offices that reported
    hold_hours: float = 24.0
    halt_at: int = 10  # offices whose latest report failed or rolled back
    per_address: int = 10  # "installed" offices one client address contributes per day


@dataclass
class Tally:
    """The offices of one release, each once by its latest report."""
    lines: int = 0
    ignored: int = 0
    reported: int = 0
    installed: int = 0
    failed: int = 0
    rolled_back: int = 0
    # "installed" offices left out by the per-address cap.
    capped: int = 0
    # Offices whose latest report came while the live stage was live.
    on_stage: int = 0
    damaged: list[str] = dataclasses.field(default_factory=list)

    @property
    def bad(self) -> int:
        return self.failed + self.rolled_back

    @property
    def share(self) -> float:
        return 100 * self.bad / self.reported if self.reported else 0.0


def tally_reports(files: Iterable[Path], version: str, since: datetime.datetime, per_address: int) -> Tally:
    """Reads the logs line by line: what is kept is one small record per
    office of the release, however long the logs are."""
    tally = Tally()
    offices: dict[int, tuple[float, str, str | None]] = {}
    addresses: dict[str, str] = {}
    for file in files:
        for line in log_lines(file, tally.damaged):
            tally.lines += 1
            report = parse_line(line)
            if report is None:
                tally.ignored += 1
                continue
            if report.to_version != version:
                continue
            key, when = int(report.office, 16), report.time.timestamp()
            earlier = offices.get(key)
            if earlier is None or when >= earlier[0]:
                address = report.address and addresses.setdefault(report.address, report.address)
                offices[key] = (when, report.outcome, address)
    start = since.timestamp()
    per_day: Counter[tuple[str, int]] = Counter()
    for when, outcome, address in offices.values():
        if outcome == INSTALLED and address is not None:
            day = (address, int(when // 86400))
            per_day[day] += 1
            if per_day[day] > per_address:
                tally.capped += 1
                continue
        tally.reported += 1
        tally.installed += outcome == INSTALLED
        tally.rolled_back += outcome == ROLLED_BACK
        tally.failed += outcome not in (INSTALLED, ROLLED_BACK)
        tally.on_stage += when >= start
    return tally


@dataclass(frozen=True)
class Decision:
    action: str
    to: int
    reason: str


def decide(tally: Tally, live: int, stages: list[int], hours_live: float, halted_before: bool,
           rules: Rules) -> Decision:
    """What to publish, from the counts alone. Halting comes first and is
    final; a stage widens only on enough reports of its own, a low share, and
    time."""
    if live == HALT:
        return Decision(HALTED, live, "the release is halted; a person decides (--restage or a new release)")
    if halted_before:
        return Decision(LEFT, live, "halted before and published again by hand: left to a person")
    if tally.reported >= rules.min_reports and tally.share > rules.halt_above:
        return Decision(HALT_NOW, HALT, f"{tally.share:.1f} % of {tally.reported} offices failed or rolled back, "
                                        f"above {rules.halt_above:g} %")
    if tally.bad >= rules.halt_at:
        return Decision(HALT_NOW, HALT, f"{tally.bad} offices failed or rolled back, at least {rules.halt_at}")
    if live == stages[-1]:
        return Decision(DONE, live, "offered to every office")
    wanting = []
    if tally.on_stage < rules.min_reports:
        wanting.append(f"{tally.on_stage} of {rules.min_reports} reports on this stage")
    if hours_live < rules.hold_hours:
        wanting.append(f"live {hours_live:.1f} of {rules.hold_hours:g} hours")
    if wanting:
        return Decision(HOLD, live, "waiting: " + ", ".join(wanting))
    return Decision(WIDEN, stages[stages.index(live) + 1],
                    f"{tally.on_stage} reports on this stage, {tally.share:.1f} % failed or rolled back, "
                    f"live {hours_live:.1f} hours")


@dataclass(frozen=True)
class StageFiles:
    manifest: Manifest  # the release's values, as the halt's file gives them
    stages: list[int]
    files: dict[int, bytes]


RELEASE_KEYS = ("version", "url", "sha256", "size", "mandatory", "releaseDate", "uploadDate", "notes")


def read_stage_files(folder: Path, public_key: str | None) -> StageFiles:
    """The stage files of one release: each there, reading back as the updater
    reads it, with its own rollout, every other value the same, and, given
    the public key, a signature that verifies."""
    try:
        stages = parse_stages((folder / INDEX).read_text(encoding="ascii").strip())
        files = {rollout: (folder / stage_file_name(rollout)).read_bytes() for rollout in (HALT, *stages)}
    except (OSError, UnicodeDecodeError) as error:
        raise Refusal([f"stages: {folder} is not a complete stage folder ({error})"])
    problems, manifests = [], {}
    for rollout, data in files.items():
        name = f"stages: {stage_file_name(rollout)}"
        try:
            text = data.decode("utf-8")
        except UnicodeDecodeError:
            problems.append(f"{name}: not UTF-8")
            continue
        manifest = manifests[rollout] = read_manifest(text)
        problems += [f"{name}: {problem}" for problem in check_manifest_text(text, public_key)]
        if manifest.rollout != str(rollout):
            problems.append(f"{name}: its rollout is {manifest.rollout}")
    halt = manifests.get(HALT)
    if halt is not None:
        problems += [f"stages: {stage_file_name(rollout)} is not of release {halt.version} ({key} differs)"
                     for rollout, manifest in manifests.items() for key in RELEASE_KEYS
                     if manifest.value(key) != halt.value(key)][:1]
    if problems:
        raise Refusal(problems)
    return StageFiles(halt, stages, files)


@dataclass(frozen=True)
class State:
    release: str
    sha256: str
    stage: int
    since: datetime.datetime
    halted: bool = False

    def text(self) -> str:
        return json.dumps({"release": self.release, "sha256": self.sha256, "stage": self.stage,
                           "since": self.since.strftime(TIME_FORMAT), "halted": self.halted}) + "\n"


def read_state(path: Path) -> State | None:
    """The state the last run left, or None when there is none or it cannot be read."""
    try:
        values = json.loads(path.read_text(encoding="utf-8"))
        since = datetime.datetime.strptime(values["since"], TIME_FORMAT).replace(tzinfo=datetime.timezone.utc)
        return State(str(values["release"]), str(values["sha256"]), int(values["stage"]), since,
                     values["halted"] is True)
    except (OSError, ValueError, KeyError, TypeError):
        return None


def write_atomically(path: Path, data: bytes) -> None:
    """A reader (nginx, the next run) sees the old file or the new one, whole: a
    temporary file beside it, flushed, renamed over it, and the folder flushed."""
    temporary = path.with_name(f".{path.name}.advance")
    try:
        with open(temporary, "wb") as file:
            file.write(data)
            file.flush()
            os.fsync(file.fileno())
        os.replace(temporary, path)
    finally:
        temporary.unlink(missing_ok=True)
    folder = os.open(path.parent, os.O_RDONLY)
    try:
        os.fsync(folder)
    finally:
        os.close(folder)


LOG_PAIR = re.compile(r'(\w+)=("(?:[^"]|"")*"|\S*)')


def journal_line(now: datetime.datetime, release: str, live: int, decision: Decision, tally: Tally) -> str:
    reason = decision.reason.replace('"', '""')
    return (f"{now.strftime(TIME_FORMAT)} release={release} stage={live}->{decision.to} decision={decision.action} "
            f"reported={tally.reported} installed={tally.installed} failed={tally.failed} "
            f"rolledback={tally.rolled_back} share={tally.share:.1f} onstage={tally.on_stage} "
            f"capped={tally.capped} ignored={tally.ignored} reason=\"{reason}\"\n")


def read_journal(path: Path) -> list[dict[str, str]]:
    """The journal's lines as their values ("time" the first field); lines that are not one are skipped."""
    entries = []
    for line in path.read_text(encoding="utf-8", errors="replace").splitlines():
        time, _, pairs = line.partition(" ")
        values = {key: value[1:-1].replace('""', '"') if value.startswith('"') else value
                  for key, value in LOG_PAIR.findall(pairs)}
        if {"release", "stage", "decision"} <= values.keys():
            entries.append({"time": time, **values})
    return entries


@dataclass(frozen=True)
class Outcome:
    release: str
    live: int
    since: datetime.datetime
    decision: Decision
    tally: Tally


def advance(stage_folder: Path, manifest_path: Path, logs: list[Path], rules: Rules, now: datetime.datetime,
            public_key: str | None = None) -> Outcome:
    """One run: reads, decides, publishes when the decision says so, and
    journals. Raises Refusal, with the live manifest untouched, when the
    inputs are wrong."""
    state_path, journal_path = manifest_path.with_name(STATE_NAME), manifest_path.with_name(JOURNAL_NAME)
    with open(journal_path, "a", encoding="utf-8") as journal:
        # Two runs at once (the timer and a person) would decide on the same counts twice.
        fcntl.flock(journal, fcntl.LOCK_EX)
        stages = read_stage_files(stage_folder, public_key)
        release = stages.manifest
        files = log_files(logs)
        try:
            published = manifest_path.read_bytes()
        except OSError as error:
            raise Refusal([f"manifest: cannot read {manifest_path}: {error.strerror}"])
        state = read_state(state_path)
        if state is not None and (state.release, state.sha256) != (release.version, release.sha256):
            state = None
        live = next((rollout for rollout, data in stages.files.items() if data == published), None)
        if live is None:
            # After a halt a person may take the release over with --restage: theirs to run from then on.
            by_hand = _restaged(published, release) if state is not None and state.halted else None
            if by_hand is None:
                raise Refusal([f"manifest: {manifest_path} is none of the stage files in {stage_folder} "
                               f"(release {release.version})"])
            live = by_hand
        since = state.since if state is not None and state.stage == live else now
        halted_before = state is not None and state.halted and live != HALT
        tally = tally_reports(files, release.version, since, rules.per_address)
        hours = (now - since).total_seconds() / 3600
        decision = decide(tally, live, stages.stages, hours, halted_before, rules)
        if decision.to != live:
            write_atomically(manifest_path, stages.files[decision.to])
        new_state = State(release.version, release.sha256, decision.to, since if decision.to == live else now,
                          halted_before or decision.to == HALT)
        if new_state != state:
            write_atomically(state_path, new_state.text().encode("utf-8"))
        journal.write(journal_line(now, release.version, live, decision, tally))
        journal.flush()
        os.fsync(journal.fileno())
    return Outcome(release.version, live, since, decision, tally)


def _restaged(published: bytes, release: Manifest) -> int | None:
    """The rollout of a manifest of the same release published by hand, or None."""
    with contextlib.suppress(UnicodeDecodeError, ValueError, TypeError):
        manifest = read_manifest(published.decode("utf-8"))
        if all(manifest.value(key) == release.value(key) for key in RELEASE_KEYS):
            return int(manifest.rollout if manifest.rollout is not None else 100)
    return None


def describe(outcome: Outcome, now: datetime.datetime) -> str:
    tally, decision = outcome.tally, outcome.decision
    hours = (now - outcome.since).total_seconds() / 3600
    change = {WIDEN: f"widened to {decision.to} %", HALT_NOW: "halted (rollout-0.json published)"}.get(
        decision.action, f"{decision.action}: left at {outcome.live} %")
    lines = [f"release {outcome.release}, stage {outcome.live} % (live {hours:.1f} hours): {change}",
             f"  {tally.reported} offices reported: {tally.installed} installed, {tally.failed} failed, "
             f"{tally.rolled_back} rolled back ({tally.share:.1f} % failed or rolled back); "
             f"{tally.on_stage} of them while this stage was live (since {outcome.since:%Y-%m-%d %H:%M} UTC)",
             f"  {tally.capped} installed offices over the per-address cap left out; "
             f"{tally.ignored} of {tally.lines} log lines not a report (skipped)",
             *(f"  {note}" for note in tally.damaged),
             f"  {decision.reason}"]
    return "\n".join(lines) + "\n"
