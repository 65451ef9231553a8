"""Versions in the field, from the check location's own access log (deploy/nginx:
the time, the client's address, the method, the path and the status):

    2026-12-01T08:30:00+00:00 203.0.113.7 GET /api/marlix/check/NIRVA_ACC/4.1.0.11 200

Every start of an updater asks once, naming the installed version, so the
requests per version and day show a release spreading. They count requests,
not offices: an office that starts NIRVA three times a day counts three times.
"""

from collections import Counter
from collections.abc import Iterable
from pathlib import Path

from .checks import VERSION_PATTERN
from .report import log_files, log_lines

CHECK_PREFIX = "/api/marlix/check/NIRVA_ACC/"


def check_version(line: str) -> tuple[str, str] | None:
    """(day, installed version) of a check request's log line, or None for any other line."""
    fields = line.split()
    if len(fields) != 5 or fields[2] != "GET" or not fields[3].startswith(CHECK_PREFIX) or len(fields[0]) < 10:
        return None
    version = fields[3][len(CHECK_PREFIX):].partition("?")[0]
    return (fields[0][:10], version) if VERSION_PATTERN.fullmatch(version) else None


def count_checks(paths: Iterable[Path]) -> tuple[Counter[tuple[str, str]], int, list[str]]:
    """Check requests by (day, version), the lines that were none, and the damaged files."""
    counts: Counter[tuple[str, str]] = Counter()
    ignored, damaged = 0, []
    for file in log_files(paths):
        for line in log_lines(file, damaged):
            if (found := check_version(line)) is None:
                ignored += 1
            else:
                counts[found] += 1
    return counts, ignored, damaged


def checks_table(counts: Counter[tuple[str, str]], ignored: int, damaged: list[str]) -> str:
    from .reader import parse_version
    versions = sorted({version for _, version in counts}, key=lambda version: (parse_version(version), version))
    days = sorted({day for day, _ in counts})
    width = max([len(version) for version in versions] + [8]) + 2
    lines = ["check requests per installed version and day (requests, not offices: each start asks once)",
             f"{ignored} lines not a check request (ignored)", *damaged, "",
             "day".ljust(12) + "".join(version.rjust(width) for version in versions)]
    lines += [day.ljust(12) + "".join(str(counts[(day, version)]).rjust(width) for version in versions)
              for day in days]
    return "\n".join(lines) + "\n"
