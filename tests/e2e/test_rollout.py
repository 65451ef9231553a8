"""A release in stages: the release tool publishes it signed to a share of the
offices through nginx, then widens or halts it, by hand or by the advance
command on the server; each office finds its place from its own id, and the
report command counts the installs of each stage."""

import hashlib
import itertools
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import CHECK_PREFIX, KEY_DIR, build_release, events, harness, pinned_get, wait_until
from conftest import RELEASE_VERSION as VERSION


def bucket(office_id):
    return int.from_bytes(hashlib.sha256(f"{office_id}/{VERSION}".encode()).digest()[:4], "big") % 10000


def office_id(inside, share=10, after=0):
    """The first office id from `after` on that is inside (or outside) a share of that many percent."""
    return next(i for i in (f"{n:032x}" for n in itertools.count(after)) if (bucket(i) < share * 100) == inside)


def report_row(root):
    """The release's offices that tried, installed and failed, in the report command's table."""
    table = subprocess.run([sys.executable, str(harness.RELEASE_TOOL), "report", str(root.parent / "nginx" /
                            "reports.log")], capture_output=True, text=True, check=True).stdout
    return next((row[1:4] for row in map(str.split, table.splitlines()) if row[:1] == [VERSION]), None)


# Whether the office's id is in the first 10 % (None: no id can be kept in
# the folder), then each stage's rollout and whether the office installs.
@pytest.mark.parametrize("inside, stages", [
    pytest.param(True, [(10, True)], id="inside-at-10"),
    pytest.param(False, [(10, False), (100, True)], id="outside-at-10-then-widened"),
    pytest.param(True, [(0, False)], id="halted-before-it-installed"),
    pytest.param(None, [(100, True)], id="id-cannot-be-kept"),
])
def test_release_in_stages(office, tmp_path, inside, stages):
    office.install_application("1000")
    kept_id = office.folder / "nirva_updater.id"
    kept_id.mkdir() if inside is None else kept_id.write_text(office_id(inside))
    out = build_release(tmp_path, b"ledger", ["--rollout", stages[0][0]])
    with harness.nginx() as root:
        for stage, (rollout, installs) in enumerate(stages):
            if stage:
                # Widened or halted as a vendor does: the published manifest restaged, the package as it was.
                subprocess.run([sys.executable, str(harness.RELEASE_TOOL), "--restage", str(out / "manifest.json"),
                                "--rollout", str(rollout), "--signing-key", str(KEY_DIR / "release.pem")], check=True)
            harness.publish(root, out, VERSION)
            office.start_updater(executable=harness.SIGNED_UPDATER)
            assert office.wait_for_exit(timeout=120) == 0
            assert office.wait_for_starts(stage + 1)[-1]["version"] == (VERSION if installs else "1.0.0.0")
            run = events(office, "decision")[-1]
            assert (run["result"], run["rollout"]) == ("mandatory" if installs else "outside", str(rollout))
            requests = [r["path"] for r in events(office, "request") if r["run"] == run["run"]]
            assert (requests[0], len(requests)) == (CHECK_PREFIX + "1.0.0.0", 3 if installs else 1)
            wait_until(lambda: report_row(root) == (["1", "1", "0"] if installs else None), 10, what="the table")
        reported = (root.parent / "nginx" / "reports.log").read_text().split("/")[-1].strip()
    # The run placed itself by the id its report names, kept or not.
    used = kept_id.read_text() if kept_id.is_file() else reported
    assert bucket(used) == int(run["bucket"]) and reported in ("", used)


def test_advance_halts_a_stage_from_its_reports_and_the_halt_verifies(office, tmp_path):
    """A signed release at its first stage, 1 %; an office inside installs it, three offices report
    that it failed to start and was rolled back, advance on the server halts it, and another office
    inside the first stage is no longer offered it."""
    out = build_release(tmp_path, b"ledger", ["--stages", "1,10,50,100"])
    first = office_id(True, share=1)
    with harness.nginx() as root:
        harness.publish(root, out, VERSION)
        office.install_application("1000")
        (office.folder / "nirva_updater.id").write_text(first)
        office.start_updater(executable=harness.SIGNED_UPDATER)
        assert office.wait_for_exit(timeout=120) == 0
        assert office.wait_for_starts(1)[-1]["version"] == VERSION
        for n in range(3):
            forged = f"{n:f>32x}"  # ids no helper above gives
            assert pinned_get(f"/api/marlix/report/NIRVA_ACC/1.0.0.0/{VERSION}/rolledback/start/3221225477/{forged}"
                              ) == (204, b"")
        log = root.parent / "nginx" / "reports.log"
        wait_until(lambda: len(log.read_text().splitlines()) == 4, 10, what="four reports")
        decision = subprocess.run([sys.executable, str(harness.RELEASE_TOOL), "advance", "--stages",
                                   str(out / "stages"), "--manifest", str(root / "manifest.json"), "--reports",
                                   str(log), "--halt-at", "3"], capture_output=True, text=True)
        assert decision.returncode == 0, decision.stderr
        assert "4 offices reported: 1 installed, 0 failed, 3 rolled back" in decision.stdout
        assert (root / "manifest.json").read_bytes() == (out / "stages" / "rollout-0.json").read_bytes()

        # Another office, inside the first stage too, starts its application as if nothing were newer.
        for leftover in ("NIRVA", "NIRVA.bak", "nirva.zip"):
            (shutil.rmtree if (office.folder / leftover).is_dir() else Path.unlink)(office.folder / leftover)
        office.install_application("1000")
        second = office_id(True, share=1, after=int(first, 16) + 1)
        (office.folder / "nirva_updater.id").write_text(second)
        office.start_updater(executable=harness.SIGNED_UPDATER)
        assert office.wait_for_exit(timeout=120) == 0
        assert office.wait_for_starts(2)[-1]["version"] == "1.0.0.0"
    run = events(office, "decision")[-1]
    assert (run["result"], run["rollout"], int(run["bucket"])) == ("outside", "0", bucket(second))
    assert [r["path"] for r in events(office, "request") if r["run"] == run["run"]] == [CHECK_PREFIX + "1.0.0.0"]
