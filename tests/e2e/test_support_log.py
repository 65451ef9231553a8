"""The support log and the outcome reports, seen from outside: the lines a run
leaves in the office folder, and the one report nginx logs and the release
tool's report command counts."""

import contextlib
import os
import subprocess
import sys

import pytest

from conftest import (CHECK_PREFIX, IDOK, INSTALLATION_FAILURE_TEXT, events, expect_server_failure, harness, manifest,
                      offer, package, sha256, wait_until)

VERSION = "2.0.0.0"
PACKAGE_PATH = f"/packages/{VERSION}/nirva.zip"
REPORT_PREFIX = "/api/marlix/report/NIRVA_ACC/"
LIMIT = 256 * 1024


def reported(nginx):
    """The reports nginx logged, once there is one."""
    log = nginx.parent / "nginx" / "reports.log"
    wait_until(lambda: log.exists() and log.read_text(), 30, what="the report")
    return [line.split(" ")[-1].removeprefix(REPORT_PREFIX) for line in log.read_text().splitlines()]


def office_id(office):
    return (office.folder / "nirva_updater.id").read_text()


def wait_for_report(office):
    """The run's own word that its report went."""
    return wait_until(lambda: events(office, "report"), 30, what="the report in the log")[-1]


# The served package (None: none), whether the digest is the package's, and
# what each package request was answered; then what the run must say.
@pytest.mark.parametrize("served, digest_matches, answers, outcome, step, cause, code", [
    pytest.param("release", True, ["200"], "installed", "none", "none", 0, id="installed"),
    pytest.param(None, True, ["404"] * 3, "failed", "download", "status", 404, id="package-404"),
    pytest.param("release", False, ["200"] * 3, "failed", "download", "digest", 0, id="digest-mismatch"),
    pytest.param("nested", True, ["200"], "failed", "verify", "release", 0, id="package-without-the-program"),
])
def test_each_ending_is_logged_with_its_cause_and_reported_once(office, served, digest_matches, answers, outcome,
                                                                 step, cause, code):
    data = package(folder="NIRVA/" if served == "nested" else "")
    with harness.nginx() as root:
        if served:
            (root / PACKAGE_PATH[1:]).parent.mkdir(parents=True)
            (root / PACKAGE_PATH[1:]).write_bytes(data)
        digest = sha256(data if digest_matches else b"another package")
        (root / "manifest.json").write_bytes(manifest(VERSION, url="https://u" + PACKAGE_PATH, mandatory=True,
                                                      sha256=digest))
        office.install_application("1234")
        office.start_updater()
        if step == "verify":
            office.press(office.wait_for_message_box(INSTALLATION_FAILURE_TEXT), IDOK)
        assert wait_for_report(office)["result"] == "sent"
        sent = reported(root)
        table = subprocess.run([sys.executable, str(harness.RELEASE_TOOL), "report",
                                str(root.parent / "nginx" / "reports.log")], capture_output=True, text=True, check=True)
    assert sent == [f"1.2.3.4/{VERSION}/{outcome}/{step}/{code}/{office_id(office)}"]
    (ended,) = events(office, "outcome")
    assert (ended["result"], ended["step"], ended["cause"]) == (outcome, step, cause)
    assert [(r["path"], r["status"]) for r in events(office, "request")] == [
        (CHECK_PREFIX + "1.2.3.4", "200"), *[(PACKAGE_PATH, answer) for answer in answers],
        (REPORT_PREFIX + sent[0], "204")]
    assert int(events(office, "download")[0]["network"]) == len(data) * answers.count("200")
    installed = outcome == "installed"
    rows = [line.split() for line in table.stdout.splitlines()]
    assert [row[:4] for row in rows if row[:1] == [VERSION]] == [[VERSION, "1", str(int(installed)),
                                                                  str(int(not installed))]]
    assert installed or [step, str(code), "1", "report", "from", "1", "office"] in rows


# The first start's check fails; the next one reaches the server, which
# offers nothing newer, and reports the first one's cause.
@pytest.mark.parametrize("reachable, cause", [(False, "unreachable"), (True, "status")], ids=["down", "check-404"])
def test_a_failed_check_is_reported_by_the_next_start_that_reaches_the_server(office, reachable, cause):
    office.install_application("1234")
    with harness.nginx() if reachable else contextlib.nullcontext():
        office.start_updater()
        expect_server_failure(office)
    (failed,) = events(office, "outcome")
    assert (failed["result"], failed["step"], failed["cause"]) == ("checkfailed", "check", cause)
    code = failed["status"] if reachable else failed["error"]
    with harness.nginx() as root:
        (root / "manifest.json").write_bytes(manifest("1.2.3.4"))
        office.start_updater()
        assert office.wait_for_exit() == 0
        assert reported(root) == [f"1.2.3.4/none/checkfailed/check/{code}/{office_id(office)}"]
    assert int(code) != 0
    office.wait_for_starts(1)
    sent = events(office, "report")[-1]
    assert (sent["result"], sent["run"] != failed["run"]) == ("sent", True)
    assert not (office.folder / "nirva_updater.report").exists()


# A log at its bound becomes the previous part, in place of the older one;
# a log that cannot be written is left as it is. Neither stops the update.
@pytest.mark.parametrize("state", ["at-its-bound", "read-only"])
def test_the_log_is_bounded_and_never_stops_the_update(office, server, state):
    log, previous = office.folder / "nirva_updater.log", office.folder / "nirva_updater.log.1"
    old = b"x" * (LIMIT - 100) + b"\r\n"
    log.write_bytes(old)
    previous.write_bytes(b"an older part\r\n")
    if state == "read-only":
        log.chmod(0o444)
        # Wine run by root writes whatever the mode says; the file system refuses.
        if os.geteuid() == 0:
            subprocess.run(["chattr", "+i", str(log)], check=True)
    office.install_application("1234")
    offer(server, mandatory=True, sha256_text=sha256(package()))
    try:
        office.start_updater()
        assert office.wait_for_exit() == 0
        assert office.wait_for_starts(1)[0]["version"] == VERSION
        assert server.requests[-1]["path"].startswith(REPORT_PREFIX)
    finally:
        if state == "read-only" and os.geteuid() == 0:
            subprocess.run(["chattr", "-i", str(log)], check=True)
    if state == "read-only":
        assert (log.read_bytes(), previous.read_bytes()) == (old, b"an older part\r\n")
        return
    # The run's first line went in before the bound was passed; the rest after.
    assert previous.read_bytes().startswith(old) and len(events(office, "start", previous.name)) == 1
    assert events(office, "start") == [] and events(office, "outcome")[0]["result"] == "installed"
    assert LIMIT <= previous.stat().st_size < LIMIT + 1024 and log.stat().st_size < LIMIT
