"""Stages signed at release time, and the update server's advance command
choosing among them from synthetic report logs, as nginx writes them."""

import datetime
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

REPOSITORY = Path(__file__).resolve().parents[2]
TOOL = REPOSITORY / "tools" / "release" / "nirva_release.py"
sys.path.insert(0, str(TOOL.parent))
sys.path.insert(0, str(REPOSITORY / "tests" / "support"))

import versioned_exe  # noqa: E402
from release_tool import advance, checks, reader, signing  # noqa: E402
from release_tool.stages import parse_stages, write_stages  # noqa: E402

VERSION = "4.1.0.12"
STAGES = [1, 10, 50, 100]
T0 = datetime.datetime(2026, 12, 1, 8, 0, tzinfo=datetime.timezone.utc)


def run_tool(*arguments):
    return subprocess.run([sys.executable, str(TOOL), *map(str, arguments)], capture_output=True, text=True)


@pytest.fixture(scope="module")
def release(tmp_path_factory):
    """A release built with --stages, signed; the key and the output folder."""
    folder = tmp_path_factory.mktemp("release")
    executables = versioned_exe.build(folder)
    (folder / "app").mkdir()
    (folder / "app" / "nirva_acc.exe").write_bytes(versioned_exe.with_product_version(executables, VERSION))
    (folder / "notes.txt").write_text("notes\n")
    key = folder / "release.pem"
    subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", key],
                   check=True, capture_output=True)

    def build(out, *extra):
        return run_tool(folder / "app", "--version", VERSION, "--notes", folder / "notes.txt", "--url",
                        f"https://updates.example.com/packages/{VERSION}/nirva.zip", "--out", out, *extra)
    result = build(folder / "out", "--stages", ",".join(map(str, STAGES)), "--signing-key", key)
    assert result.returncode == 0, result.stderr
    return key, folder / "out", build


def test_every_stage_is_signed_and_the_manifest_is_the_first(release):
    key, out, _ = release
    public_key = run_tool("--print-public-key", key).stdout.strip()
    files = {path.name: path.read_bytes() for path in (out / "stages").glob("*.json")}
    assert sorted(files) == sorted(f"rollout-{n}.json" for n in [0, *STAGES])
    assert (out / "manifest.json").read_bytes() == files["rollout-1.json"]
    for name, data in files.items():
        assert checks.check_manifest_text(data.decode(), public_key) == [], name
        assert f'"rollout": {name[8:-5]},' in data.decode()


@pytest.mark.parametrize("stages", ["0,50,100", "10,50", "50,10,100", "10,10,100", "1,10,101", "1,,100", "01,100",
                                    "ten,100"])
def test_stages_must_rise_to_100(stages):
    with pytest.raises(checks.Refusal):
        parse_stages(stages)


@pytest.mark.parametrize("stages, returncode", [("10,50,100", 0), ("10,50", 1)])
def test_unsigned_stages_are_written_and_a_refusal_leaves_nothing(release, tmp_path, stages, returncode):
    result = release[2](tmp_path / "out", "--stages", stages)
    assert result.returncode == returncode, result.stderr
    assert sorted(p.name for p in (tmp_path / "out").glob("stages/*.json")) == (
        sorted(f"rollout-{n}.json" for n in [0, *stages.split(",")]) if returncode == 0 else [])


def test_a_stage_whose_signature_does_not_verify_is_not_kept(release, tmp_path, monkeypatch):
    key, out, _ = release
    manifest = reader.read_manifest((out / "manifest.json").read_text())
    monkeypatch.setattr(signing, "sign", lambda message, private_key: manifest.signature)
    with pytest.raises(checks.Refusal, match="rollout-0.json: signature: does not verify"):
        write_stages(manifest, STAGES, key, tmp_path / "stages")
    assert list((tmp_path / "stages").iterdir()) == []


def report(hours, outcome, office, version=VERSION, address="203.0.113.7"):
    step = {"installed": "none", "rolledback": "start"}.get(outcome, "verify")
    time = (T0 + datetime.timedelta(hours=hours)).isoformat()
    return f"{time} {address} GET /api/marlix/report/NIRVA_ACC/4.1.0.11/{version}/{outcome}/{step}/0/{office:032x}\n"


def offices(count, outcome="installed", first=0, hours=1.0, **options):
    return [report(hours, outcome, first + n, address=f"198.51.100.{n % 200}", **options) for n in range(count)]


@pytest.fixture
def server(release, tmp_path):
    """A served folder holding the release at its first stage, the stage files beside it."""
    root = tmp_path / "www"
    root.mkdir()
    shutil.copytree(release[1] / "stages", tmp_path / "stages")
    shutil.copyfile(release[1] / "manifest.json", root / "manifest.json")
    (tmp_path / "reports.log").write_text("")
    return tmp_path


def run_advance(server, hours, rules=advance.Rules()):
    return advance.advance(server / "stages", server / "www" / "manifest.json", [server / "reports.log"], rules,
                           T0 + datetime.timedelta(hours=hours))


def live_stage(server):
    published = (server / "www" / "manifest.json").read_bytes()
    return next(n for n in [0, *STAGES] if (server / "stages" / f"rollout-{n}.json").read_bytes() == published)


# Reports written after a first run saw stage 1 at T0; the second run's hour, its rules; what it publishes.
SCENARIOS = {
    "halts-at-3-rollbacks-of-15": (offices(12) + offices(3, "rolledback", 100), 2, dict(min_reports=10), 0),
    "not-under-n-reports": (offices(19), 30, {}, 1),
    "widens-after-the-hold": (offices(20), 25, {}, 10),
    "not-before-the-hold": (offices(20), 23, {}, 1),
    "only-reports-on-the-live-stage-widen": (offices(20, hours=-1), 25, {}, 1),
    "other-releases-and-broken-lines-ignored": (
        offices(20) + offices(30, "failed", 100, version="4.1.0.13") + ["garbage\n", report(1, "failed", 7)[:-20]
                                                                         + "\n"], 25, {}, 10),
    "a-later-success-counts": (offices(20, "failed", hours=0.5) + offices(20), 25, {}, 10),
    "halts-at-m-failures-whatever-the-share": (offices(400) + offices(10, "failed", 1000), 25, {}, 0),
    "forged-successes-from-one-address-are-capped": (
        [report(1, "installed", n) for n in range(1000)], 25, {}, 1),
    "a-share-of-failures-from-one-address-still-halts": (
        [report(1, "installed", n) for n in range(1000)] + offices(2, "failed", 5000), 25, dict(min_reports=10), 0),
}


@pytest.mark.parametrize("lines, hours, rules, published", SCENARIOS.values(), ids=SCENARIOS.keys())
def test_advance_halts_widens_or_holds(server, lines, hours, rules, published):
    assert run_advance(server, 0).decision.action == advance.HOLD
    (server / "reports.log").write_text("".join(lines))
    outcome = run_advance(server, hours, advance.Rules(**rules))
    assert live_stage(server) == published
    # Again on the same reports: the same decision, nothing published twice.
    again = run_advance(server, hours)
    assert live_stage(server) == published and again.decision.to == published
    journal = advance.read_journal(server / "www" / "advance.log")
    assert [entry["stage"] for entry in journal] == ["1->1", f"1->{published}", f"{published}->{published}"]
    assert journal[1]["decision"] == outcome.decision.action


def test_a_halted_release_is_never_widened(server):
    (server / "reports.log").write_text("".join(offices(12) + offices(3, "rolledback", 100)))
    run_advance(server, 0, advance.Rules(min_reports=10))
    assert live_stage(server) == 0
    (server / "reports.log").write_text("".join(offices(500, first=1000, hours=30)))
    assert run_advance(server, 100).decision.action == advance.HALTED and live_stage(server) == 0
    # A person publishes a stage again by hand: advance leaves it to them.
    shutil.copyfile(server / "stages" / "rollout-10.json", server / "www" / "manifest.json")
    assert [run_advance(server, hours).decision.action for hours in (200, 300)] == [advance.LEFT] * 2
    assert live_stage(server) == 10


@pytest.mark.parametrize("damage, words", [
    (lambda s: (s / "stages" / "rollout-0.json").unlink(), "not a complete stage folder"),
    (lambda s: (s / "stages" / "rollout-50.json").write_bytes(
        (s / "stages" / "rollout-50.json").read_bytes().replace(b"4.1.0.12", b"4.1.0.13")), "is not of release"),
    (lambda s: shutil.copyfile(s / "stages" / "rollout-10.json", s / "stages" / "rollout-50.json"), "its rollout is 10"),
    (lambda s: (s / "www" / "manifest.json").write_bytes(b'{"version": "4.1.0.12"}'), "none of the stage files"),
    (lambda s: (s / "reports.log").unlink(), "not a readable file"),
], ids=["stage-file-missing", "stage-of-another-release", "stage-of-another-share", "manifest-none-of-the-stages",
        "no-log"])
def test_wrong_inputs_leave_the_manifest_untouched(server, damage, words):
    (server / "reports.log").write_text("".join(offices(30, "failed")))
    damage(server)
    before = (server / "www" / "manifest.json").read_bytes()
    result = run_tool("advance", "--stages", server / "stages", "--manifest", server / "www" / "manifest.json",
                      "--reports", server / "reports.log")
    assert (result.returncode, words in result.stderr) == (1, True), result.stderr
    assert (server / "www" / "manifest.json").read_bytes() == before
    assert run_tool("advance", "--stages", server / "stages").returncode == 2
