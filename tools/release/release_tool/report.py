"""Outcome reports: what the update server's report log says about each release.

Each updater that ends an update attempt, or starts after a failed check,
sends one GET whose path is the report; the server answers 204 and writes a
line of its own log (deploy/nginx: the time, the client's address, the method,
the path; lines of older servers have no address):

    2026-12-01T08:30:00+00:00 203.0.113.7 GET /api/marlix/report/NIRVA_ACC/<from>/<to>/<outcome>/<step>/<code>/<office id>

A failure's report ends in ?cause=<word>, the cause as the office's support
log names it (signature, pin, status, disk, ...); reports of earlier
updaters have none.
"""

import datetime
import gzip
import re
from collections import defaultdict
from collections.abc import Iterable, Iterator
from dataclasses import dataclass, field
from pathlib import Path

from .checks import VERSION_PATTERN, Refusal
from .reader import parse_version

REPORT_PREFIX = "/api/marlix/report/NIRVA_ACC/"
INSTALLED, FAILED, CHECK_FAILED, ROLLED_BACK = "installed", "failed", "checkfailed", "rolledback"
OUTCOMES = (INSTALLED, FAILED, CHECK_FAILED, ROLLED_BACK)
# The updater's names for the steps of a run (src/common/failure.cpp); a
# release that was installed but failed to start, and was taken back, ends at "start".
STEPS = ("none", "check", "access", "download", "stop", "moveaside", "unpack", "verify", "swap", "rollback",
         "selfupdate", "start")
# The to-version of a start whose check failed: no release was offered.
NO_RELEASE = "none"
OFFICE_ID = re.compile(r"[0-9a-f]{32}")
CODE = re.compile(r"[0-9]{1,10}")
# What nginx's $remote_addr writes: an IPv4 or IPv6 address.
ADDRESS = re.compile(r"[0-9A-Fa-f:.]{2,45}")
# A query after the office id is allowed; its cause=<word>, a failure's cause, is counted.
QUERY = re.compile(r"\?[!-~]*")
CAUSE = re.compile(r"cause=([a-z]{1,32})")
MAX_CODE = 2**32 - 1


@dataclass(frozen=True)
class Report:
    time: datetime.datetime
    from_version: str
    to_version: str
    outcome: str
    step: str
    code: int
    office: str
    # The client's address, where the log line has it.
    address: str | None = None
    # The failure's cause; None in a report that names none.
    cause: str | None = None


def _consistent(to_version: str, outcome: str, step: str) -> bool:
    """A check failure names no release and an update attempt does; an
    installation failed at no step and a failure at one; only a first start
    is rolled back."""
    if (outcome == CHECK_FAILED) != (to_version == NO_RELEASE):
        return False
    return (outcome in OUTCOMES and (outcome == INSTALLED) == (step == "none")
            and (outcome != ROLLED_BACK or step == "start"))


def parse_line(line: str) -> Report | None:
    """The report a log line holds, or None when it is not a well-formed one."""
    fields = line.rstrip("\r\n").split(" ")
    address = fields.pop(1) if len(fields) == 4 else None
    if (len(fields) != 3 or fields[1] != "GET" or not fields[2].startswith(REPORT_PREFIX)
            or (address is not None and not ADDRESS.fullmatch(address))):
        return None
    try:
        time = datetime.datetime.fromisoformat(fields[0])
    except ValueError:
        return None
    path, mark, query = fields[2].partition("?")
    parts = path[len(REPORT_PREFIX):].split("/")
    if len(parts) != 6 or (mark and not QUERY.fullmatch(mark + query)):
        return None
    from_version, to_version, outcome, step, code, office = parts
    if not (VERSION_PATTERN.fullmatch(from_version) and (to_version == NO_RELEASE or VERSION_PATTERN.fullmatch(to_version))
            and step in STEPS and CODE.fullmatch(code) and int(code) <= MAX_CODE and OFFICE_ID.fullmatch(office)
            and time.tzinfo is not None and _consistent(to_version, outcome, step)):
        return None
    causes = [found[1] for found in map(CAUSE.fullmatch, query.split("&")) if found]
    return Report(time, from_version, to_version, outcome, step, int(code), office, address,
                  causes[0] if causes and outcome != INSTALLED else None)


def log_files(paths: Iterable[Path]) -> list[Path]:
    """Each log with its rotated copies beside it (LOG.1, LOG.2.gz, LOG-20261201.gz, ...)."""
    files: dict[Path, None] = {}
    for path in paths:
        if not path.is_file():
            raise Refusal([f"report: {path} is not a readable file"])
        siblings = [*path.parent.glob(path.name + ".*"), *path.parent.glob(path.name + "-*")]
        for file in [path, *sorted(sibling for sibling in siblings if sibling.is_file())]:
            files.setdefault(file.resolve())
    return list(files)


def log_lines(file: Path, damaged: list[str]) -> Iterator[str]:
    """The file's lines, gzip-compressed or not; a damaged file is read as far
    as it goes and named in `damaged`."""
    opener = gzip.open if file.suffix == ".gz" else open
    count = 0
    try:
        with opener(file, "rt", encoding="utf-8", errors="replace") as lines:
            for line in lines:
                count += 1
                yield line
    except (OSError, EOFError) as error:
        damaged.append(f"{file}: unreadable after line {count} ({error})")


@dataclass
class ReleaseOutcome:
    """One release (or the failed checks): offices by their latest report,
    and the failure reports by step, cause and code with the offices that sent them."""
    release: str
    offices: dict[str, str] = field(default_factory=dict)
    # When each office's latest report came.
    times: dict[str, datetime.datetime] = field(default_factory=dict)
    failures: dict[tuple[str, str | None, int], list[str]] = field(default_factory=lambda: defaultdict(list))

    @property
    def tried(self) -> int:
        return len(self.offices)

    @property
    def installed(self) -> int:
        return sum(outcome == INSTALLED for outcome in self.offices.values())

    @property
    def rolled_back(self) -> int:
        return sum(outcome == ROLLED_BACK for outcome in self.offices.values())

    @property
    def failed(self) -> int:
        return self.tried - self.installed - self.rolled_back

    @property
    def failure_share(self) -> float:
        """Offices whose latest report failed or was rolled back, in percent of those that tried."""
        return 100 * (self.tried - self.installed) / self.tried if self.tried else 0.0


def summarize(reports: Iterable[Report]) -> list[ReleaseOutcome]:
    """Per release, oldest version first, then the failed checks. An office
    counts once per release, with the outcome of its latest report: one that
    failed and installed later counts as installed."""
    releases: dict[str, ReleaseOutcome] = {}
    for report in sorted(reports, key=lambda report: report.time):
        outcome = releases.setdefault(report.to_version, ReleaseOutcome(report.to_version))
        outcome.offices[report.office] = report.outcome
        outcome.times[report.office] = report.time
        if report.outcome != INSTALLED:
            outcome.failures[(report.step, report.cause, report.code)].append(report.office)
    return sorted(releases.values(), key=lambda outcome: (outcome.release == NO_RELEASE,
                                                          parse_version(outcome.release), outcome.release))


@dataclass
class ReportLog:
    files: list[Path]
    lines: int
    ignored: int
    damaged: list[str]
    releases: list[ReleaseOutcome]


def read_reports(paths: Iterable[Path]) -> ReportLog:
    files, damaged, reports, lines = log_files(paths), [], [], 0
    for file in files:
        for line in log_lines(file, damaged):
            lines += 1
            if (report := parse_line(line)) is not None:
                reports.append(report)
    return ReportLog(files, lines, lines - len(reports), damaged, summarize(reports))
