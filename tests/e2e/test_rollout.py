"""A release in stages: the release tool publishes it signed to a share of the
offices through nginx, then widens or halts it; each office finds its place
from its own id, and the report command counts the installs of each stage."""

import hashlib
import itertools
import subprocess
import sys

import pytest

from conftest import CHECK_PREFIX, KEY_DIR, build_release, events, harness, wait_until
from conftest import RELEASE_VERSION as VERSION


def bucket(office_id):
    return int.from_bytes(hashlib.sha256(f"{office_id}/{VERSION}".encode()).digest()[:4], "big") % 10000


def office_id(inside_at_10):
    return next(i for i in (f"{n:032x}" for n in itertools.count()) if (bucket(i) < 1000) == inside_at_10)


def report_row(root):
    """The release's offices that tried, installed and failed, in the report command's table."""
    table = subprocess.run([sys.executable, str(harness.RELEASE_TOOL), "report", str(root.parent / "nginx" /
                            "reports.log")], capture_output=True, text=True, check=True).stdout
    return next((row[1:] for row in map(str.split, table.splitlines()) if row[:1] == [VERSION]), None)


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
