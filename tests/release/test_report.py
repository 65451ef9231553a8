"""The report command on synthetic report logs, as nginx writes them."""

import gzip
import subprocess
import sys
from pathlib import Path

import pytest

REPOSITORY = Path(__file__).resolve().parents[2]
TOOL = REPOSITORY / "tools" / "release" / "nirva_release.py"
sys.path.insert(0, str(TOOL.parent))

from release_tool.report import parse_line, read_reports  # noqa: E402

A, B, C = "0123456789abcdef" * 2, "fedcba9876543210" * 2, "00000000000000000000000000000001"


def line(minute, path, method="GET"):
    return f"2026-12-01T08:{minute:02d}:00+00:00 {method} /api/marlix/report/NIRVA_ACC/{path}\n"


@pytest.mark.parametrize("text, well_formed", [
    (line(0, f"1.0.0.0/2.0.0.0/installed/none/0/{A}"), True),
    (line(0, f"1.0.0.0/4.1.0+12/failed/download/12002/{A}"), True),
    (line(0, f"0.0.0.0/none/checkfailed/check/404/{A}"), True),
    (line(0, f"1.0.0.0/2.0.0.0/failed/access/5/{A}"), True),
    (line(0, f"1.0.0.0/2.0.0.0/failed/rollback/32/{A}"), True),
    (line(0, f"1.0.0.0/2.0.0.0/checkfailed/check/404/{A}"), False),
    (line(0, f"1.0.0.0/none/failed/download/404/{A}"), False),
    (line(0, f"1.0.0.0/2.0.0.0/installed/swap/5/{A}"), False),
    (line(0, f"1.0.0.0/2.0.0.0/failed/none/0/{A}"), False),
    (line(0, f"1.0.0.0/2.0.0.0/failed/elsewhere/0/{A}"), False),
    (line(0, f"1.0.0.0/2.0.0.0/rolledforward/swap/0/{A}"), False),
    (line(0, f"1.0.0.0/2.0.0.0/rolledback/start/3221225477/{A}"), True),
    (line(0, f"1.0.0.0/2.0.0.0/rolledback/none/0/{A}"), False),
    (line(0, f"1.0.0.0/2.0.0.0/rolledback/swap/0/{A}"), False),
    (line(0, f"1.0.0.0/2.0.0.0/failed/swap/0x20/{A}"), False),
    (line(0, f"1.0.0.0/2.0.0.0/failed/swap/4294967296/{A}"), False),
    (line(0, f"1.0.0.0/2.0.0.0/failed/swap/5/{A.upper()}"), False),
    (line(0, f"1.0.0.0/2.0.0.0/failed/swap/5/{A[:-1]}"), False),
    (line(0, f"1.0.0.0/2.0.0.0/failed/swap/5/{A}/extra"), False),
    (line(0, f"1.0.0.0/2.0.0.0/failed/swap/5/{A}?cause=disk"), True),
    (line(0, f"1.0.0.0/2.0.0.0/failed/swap/5/{A}?cause=a b"), False),
    (line(0, f"1.0.0.0/2.0.0.0/installed/none/0/{A}").replace(" GET", " 2001:db8::7 GET"), True),
    (line(0, f"1.0.0.0/2.0.0.0/installed/none/0/{A}").replace(" GET", " somebody GET"), False),
    (line(0, f"1.0.0.0/2.0.0.0/installed/none/0/{A}", method="POST"), False),
    (line(0, f"1.0/../2.0.0.0/installed/none/0/{A}"), False),
    (f"2026-12-01T08:00:00 GET /api/marlix/report/NIRVA_ACC/1.0.0.0/2.0.0.0/installed/none/0/{A}\n", False),
    ("2026-12-01T08:00:00+00:00 GET /api/marlix/check/NIRVA_ACC/1.0.0.0\n", False),
], ids=["installed", "failed-build-version", "check-failed", "folder-not-writable", "rollback-left-to-the-next-start",
        "check-failed-naming-a-release",
        "failure-naming-no-release", "installed-at-a-step", "failed-at-no-step", "unknown-step", "unknown-outcome",
        "rolled-back-at-start", "rolled-back-at-no-step", "rolled-back-elsewhere",
        "hexadecimal-code", "code-beyond-32-bits", "upper-case-office-id", "short-office-id", "extra-part",
        "query", "query-with-a-space", "client-address", "not-an-address", "not-get", "dotted-segment", "time-without-zone", "check-path"])
def test_only_well_formed_report_lines_count(text, well_formed):
    assert (parse_line(text) is not None) == well_formed


# Log files (the live log, then rotated copies, oldest last), each with its lines.
SCENARIOS = {
    "a-later-success-counts-as-installed": (
        {"reports.log": [line(30, f"1.0.0.0/2.0.0.0/installed/none/0/{A}")],
         "reports.log.1": [line(20, f"1.0.0.0/2.0.0.0/failed/download/12002/{A}")]},
        {"2.0.0.0": (1, 1, 0, 0, {("download", None, 12002): [A]})}),
    "a-failure-after-a-success-counts-as-failed": (
        {"reports.log": [line(10, f"1.0.0.0/2.0.0.0/installed/none/0/{A}"),
                         line(40, f"1.0.0.0/2.0.0.0/failed/selfupdate/5/{A}")]},
        {"2.0.0.0": (1, 0, 1, 0, {("selfupdate", None, 5): [A]})}),
    "offices-count-once-per-release": (
        {"reports.log": [line(1, f"1.0.0.0/2.0.0.0/failed/verify/0/{B}"),
                         line(2, f"1.0.0.0/2.0.0.0/failed/verify/0/{B}"),
                         line(3, f"1.0.0.0/2.0.0.0/failed/download/404/{C}"),
                         line(4, f"2.0.0.0/2.1.0.0/installed/none/0/{B}"),
                         line(5, f"1.0.0.0/2.1.0.0/rolledback/start/5/{C}?cause=start")],
         "reports.log.2.gz": [line(0, f"1.0.0.0/2.0.0.0/installed/none/0/{A}"), "garbage\n"]},
        {"2.0.0.0": (3, 1, 2, 0, {("verify", None, 0): [B, B], ("download", None, 404): [C]}),
         "2.1.0.0": (2, 1, 0, 1, {("start", "start", 5): [C]})}),
    "failed-checks-stand-apart": (
        {"reports.log": [line(5, f"1.0.0.0/none/checkfailed/check/12029/{A}"),
                         line(6, f"1.0.0.0/none/checkfailed/check/12029/{B}")]},
        {"none": (2, 0, 2, 0, {("check", None, 12029): [A, B]})}),
    "failures-by-cause": (
        {"reports.log": [line(5, f"1.0.0.0/none/checkfailed/check/0/{A}?cause=signature"),
                         line(6, f"1.0.0.0/none/checkfailed/check/0/{B}?cause=answer")]},
        {"none": (2, 0, 2, 0, {("check", "signature", 0): [A], ("check", "answer", 0): [B]})}),
}


def write_logs(folder, files):
    for name, lines in files.items():
        data = "".join(lines).encode()
        (folder / name).write_bytes(gzip.compress(data) if name.endswith(".gz") else data)
    return folder / "reports.log"


@pytest.mark.parametrize("files, expected", SCENARIOS.values(), ids=SCENARIOS.keys())
def test_releases_count_offices_by_their_latest_report(tmp_path, files, expected):
    log = read_reports([write_logs(tmp_path, files)])
    assert log.lines == sum(len(lines) for lines in files.values())
    assert {outcome.release: (outcome.tried, outcome.installed, outcome.failed, outcome.rolled_back,
                              dict(outcome.failures))
            for outcome in log.releases} == expected


def test_command_prints_the_table_and_writes_a_self_contained_page(tmp_path):
    files, _ = SCENARIOS["offices-count-once-per-release"]
    with gzip.open(tmp_path / "reports.log.3.gz", "wb") as damaged:
        damaged.write(b"2026-12-01T08:00:00+00:00 GET /api/marlix/check/NIRVA_ACC/1.0.0.0\n" * 100)
    (tmp_path / "reports.log.3.gz").write_bytes((tmp_path / "reports.log.3.gz").read_bytes()[:-12])
    page, journal = tmp_path / "report.html", tmp_path / "advance.log"
    journal.write_text("2026-12-01T08:02:00Z release=2.1.0.0 stage=1->1 decision=hold\n"
                       "2026-12-01T08:05:00Z release=2.1.0.0 stage=1->10 decision=widen\n"
                       "2026-12-01T08:05:00Z release=2.1.0.0 stage=ten->10 decision=widen\n")
    result = subprocess.run([sys.executable, str(TOOL), "report", write_logs(tmp_path, files), "--html", page,
                             "--journal", journal], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    rows = [line.split() for line in result.stdout.splitlines()]
    assert ["2.0.0.0", "3", "1", "2", "0", "66.7", "%"] in rows and ["2.1.0.0", "2", "1", "0", "1", "50.0", "%"] in rows
    assert ["verify", "0", "2", "reports", "from", "1", "office"] in rows
    assert "reports.log.3.gz: unreadable after line" in result.stdout
    html = page.read_text(encoding="utf-8")
    # Per release the counts and the installs over time; per stage of 2.1.0.0 its share (B installed at 08:04).
    assert html.count("<svg") == 4 and html.count("<polyline") == 2
    assert "<tr><td>1 % from 2026-12-01 08:02</td><td>1</td><td>0</td>" in html
    assert "<tr><td>10 % from 2026-12-01 08:05</td><td>1</td><td>1</td><td>100.0 %</td>" in html
    assert html.count("offices whose latest report failed") == 2 and "failed attempts, by step, cause and code" in html
    assert not any(word in html.lower() for word in ("<script", "src=", "href=", "url(", "@import", "http"))


def test_checks_count_requests_per_installed_version_and_day(tmp_path):
    log = tmp_path / "checks.log"
    log.write_text("".join(f"2026-12-0{day}T08:00:00+00:00 198.51.100.{n} GET /api/marlix/check/NIRVA_ACC/{version} 200\n"
                           for day, version, count in ((1, "4.1.0.11", 3), (2, "4.1.0.11", 1), (2, "4.1.0.12", 2))
                           for n in range(count)) + "2026-12-02T08:00:00+00:00 GET /api/marlix/check/x 200\n")
    result = subprocess.run([sys.executable, str(TOOL), "report", "--checks", log], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    rows = [line.split() for line in result.stdout.splitlines()]
    assert rows[rows.index(["day", "4.1.0.11", "4.1.0.12"]) + 1:] == [["2026-12-01", "3", "0"],
                                                                     ["2026-12-02", "1", "2"]]
    assert "1 lines not a check request" in result.stdout
