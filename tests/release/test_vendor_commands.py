"""The vendor's commands: keys, publish into a served folder, verify over TLS."""

import re
import shlex
import socket
import stat
import subprocess
import sys
import zipfile

import pytest

from test_release_tool import REPOSITORY, application, executables, ledger, run_tool  # noqa: F401

sys.path.insert(0, str(REPOSITORY / "tests" / "support"))
import test_server  # noqa: E402

PIN_SCRIPT = REPOSITORY / "scripts" / "pin.sh"
BASE_URL = "https://updates.example.com"


def pin_of(path):
    return subprocess.run(["bash", str(PIN_SCRIPT), str(path)], capture_output=True, text=True, check=True).stdout.strip()


@pytest.fixture(scope="module")
def keys(tmp_path_factory):
    """A key folder made by the command, and what it printed."""
    folder = tmp_path_factory.mktemp("keys") / "keys"
    result = run_tool("keys", folder, "--host", "updates.example.com", "--port", "8443")
    assert result.returncode == 0, result.stderr
    printed = dict(re.findall(r"^(pin|backup pin|release public key|release backup public key) +(\S+)$",
                              result.stdout, re.M))
    return folder, printed, next(line for line in result.stdout.splitlines() if line.startswith("cmake "))


def test_keys_give_the_pins_of_pin_sh_and_a_line_the_build_accepts(keys, tmp_path):
    folder, printed, line = keys
    subprocess.run(["openssl", "req", "-in", folder / "server.csr", "-noout", "-pubkey", "-out", tmp_path / "csr.pub"],
                   check=True)
    assert pin_of(folder / "server.crt") == pin_of(tmp_path / "csr.pub") == printed["pin"]
    assert pin_of(folder / "backup.crt") == printed["backup pin"]
    for name, printed_key in (("release.pem", "release public key"), ("release-backup.pem", "release backup public key")):
        assert run_tool("--print-public-key", folder / name).stdout.strip() == printed[printed_key]
        assert stat.S_IMODE((folder / name).stat().st_mode) == 0o600
    assert {stat.S_IMODE((folder / name).stat().st_mode) for name in ("server.key", "backup.key")} == {0o600}
    # The printed line, configured (not built) in a folder of its own.
    build = tmp_path / "build"
    configured = subprocess.run([*shlex.split(line), "-B", str(build)], cwd=REPOSITORY, capture_output=True, text=True)
    assert configured.returncode == 0, configured.stderr
    deployment = (build / "generated" / "deployment" / "nirva_deployment.cpp").read_text()
    for value in printed.values():
        assert "0x" + ",0x".join(re.findall("..", value)) in deployment
    # The updater's version obeys a release's rules, and fits its version resource.
    refused = subprocess.run(["cmake", "-B", str(build), "-DNIRVA_UPDATER_VERSION=1.0.0.70000"], cwd=REPOSITORY,
                             capture_output=True, text=True)
    assert refused.returncode != 0 and "NIRVA_UPDATER_VERSION: 1.0.0.70000 has a number beyond" in refused.stderr


def test_keys_never_overwrite_a_key(tmp_path):
    (tmp_path / "keys").mkdir()
    (tmp_path / "keys" / "release.pem").write_text("the vendor's own")
    result = run_tool("keys", tmp_path / "keys", "--host", "updates.example.com")
    assert result.returncode == 1 and "release.pem exists" in result.stderr
    assert [path.name for path in (tmp_path / "keys").iterdir()] == ["release.pem"]
    assert (tmp_path / "keys" / "release.pem").read_text() == "the vendor's own"


class Vendor:
    """A served folder, the release key, and a release folder per version."""

    def __init__(self, base, executables, key):
        self.base, self.executables, self.key = base, executables, key
        self.root = base / "root"
        self.root.mkdir()
        (base / "notes.txt").write_text("notes\n")

    def arguments(self, version, *options):
        folder = self.base / f"release-{version}"
        (folder / "data").mkdir(parents=True, exist_ok=True)
        (folder / "nirva_acc.exe").write_bytes(application(self.executables, version))
        (folder / "data" / "rates.db").write_bytes(ledger(version.encode()))
        return [str(item) for item in (folder, "--version", version, "--notes", self.base / "notes.txt", *options)]

    def publish(self, version, *options):
        return run_tool("publish", *self.arguments(version, "--root", self.root, "--base-url", BASE_URL, *options))


@pytest.fixture
def vendor(tmp_path, executables, keys):  # noqa: F811
    return Vendor(tmp_path, executables, keys[0] / "release.pem")


def tree(folder):
    return {path.relative_to(folder).as_posix(): path.read_bytes() if path.is_file() else None
            for path in sorted(folder.rglob("*"))}


def test_publish_writes_the_served_layout_with_patches_from_the_newest_earlier_releases(vendor):
    root = vendor.root
    for version, stages in (("1.0.0.0", "1,100"), ("1.1.0.0", None), ("2.0.0.0", "1,50,100")):
        result = vendor.publish(version, "--signing-key", vendor.key, "--patch-from", "1",
                                *(["--stages", stages] if stages else []))
        assert result.returncode == 0, result.stderr
    manifest = (root / "manifest.json").read_text()
    assert f'"url": "{BASE_URL}/packages/2.0.0.0/nirva.zip"' in manifest and '"version": "2.0.0.0"' in manifest
    assert run_tool("--check-manifest", root / "manifest.json").returncode == 0
    old, new = (zipfile.ZipFile(root / "packages" / version / "nirva.zip") for version in ("1.1.0.0", "2.0.0.0"))
    # From 1.1.0.0 alone, the newest earlier release.
    assert {path.name for path in (root / "packages/2.0.0.0/nirva.zip.patches").iterdir()} == {
        f"{old.getinfo(name).CRC:08x}-{new.getinfo(name).CRC:08x}" for name in ("data/rates.db", "nirva_acc.exe")}
    assert sorted(path.name for path in root.iterdir()) == ["manifest.json", "packages", "stages"]
    # The release's stages, in place of 1.0.0.0's; the manifest is the first.
    assert sorted(path.name for path in (root / "stages").iterdir()) == [
        "rollout-0.json", "rollout-1.json", "rollout-100.json", "rollout-50.json", "stages.txt"]
    assert (root / "stages" / "rollout-1.json").read_bytes() == (root / "manifest.json").read_bytes()
    assert " bytes for the entry's " in result.stdout


def test_the_manifest_is_replaced_only_once_the_release_is_in_place(vendor, monkeypatch, capsys):
    from release_tool import cli, commands
    root = vendor.root
    assert vendor.publish("1.0.0.0").returncode == 0
    # What appeared after the checks, as from a second publisher.
    (root / "packages" / "2.0.0.0").mkdir()
    (root / "packages" / "2.0.0.0" / "nirva.zip").write_bytes(b"theirs")
    before = tree(root)
    monkeypatch.setattr(commands, "served_problems", lambda *_: [])
    assert cli.main(["publish", *vendor.arguments("2.0.0.0", "--root", root, "--base-url", BASE_URL)]) == 1
    assert "nothing was published" in capsys.readouterr().err
    assert tree(root) == before


@pytest.mark.parametrize("first, then, refusal", [
    (("2.0.0.0",), ("2.0.0.0",), "packages/2.0.0.0 exists"),
    (("2.0.0.0",), ("1.5.0.0",), "1.5.0.0 is not newer than 2.0.0.0"),
    (("1.0.0.0", "--signing-key", "{key}"), ("2.0.0.0",), "manifest.json is signed"),
    (("1.0.0.0",), ("2.0.0.0", "--dry-run"), None),
    (("1.0.0.0", "old", "--out", "{root}"), ("2.0.0.0", "old", "--out", "{root}", "--previous", "{root}/nirva.zip"),
     "previous: "),
    (("1.0.0.0", "old", "--out", "{root}", "--signing-key", "{key}"), ("2.0.0.0", "old", "--out", "{root}"),
     "manifest.json is signed"),
    ((), ("2.0.0.0", "old", "--out", "{root}", "--url", f"{BASE_URL}/packages/1.0.0.0/nirva.zip"),
     "url: its path names version 1.0.0.0, not the release's 2.0.0.0"),
], ids=["version-published", "older-version", "unsigned-over-signed", "dry-run", "old-command-out-over-previous",
        "old-command-unsigned-over-signed", "old-command-url-of-another-version"])
def test_published_work_is_never_lost(vendor, first, then, refusal):
    root = vendor.root

    def run(version=None, *options):
        if version is None:
            return None
        options = [str(option).format(root=root, key=vendor.key) for option in options]
        if "old" not in options:
            return vendor.publish(version, *options)
        options.remove("old")
        url = [] if "--url" in options else ["--url", f"{BASE_URL}/packages/{version}/nirva.zip"]
        return run_tool(*vendor.arguments(version, *options, *url))
    result = run(*first)
    assert result is None or result.returncode == 0, result.stderr
    before = tree(root)
    result = run(*then)
    assert tree(root) == before
    if refusal is None:
        assert result.returncode == 0 and "would write " + str(root / "packages/2.0.0.0/nirva.zip") in result.stdout
        assert "dry run: nothing was written" in result.stdout
    else:
        assert result.returncode == 1 and refusal in result.stderr, result.stderr


@pytest.fixture(scope="module")
def served(tmp_path_factory, executables, keys):  # noqa: F811
    """Release 2.0.0.0, published over 1.0.0.0 with patches, as a TLS server with the keys' server key serves it."""
    vendor = Vendor(tmp_path_factory.mktemp("served"), executables, keys[0] / "release.pem")
    for version in ("1.0.0.0", "2.0.0.0"):
        assert vendor.publish(version, "--signing-key", vendor.key).returncode == 0
    folder = vendor.root / "packages" / "2.0.0.0" / "nirva.zip.patches"
    if not (folder / "index").exists():  # as the release tool writes it
        (folder / "index").write_bytes(b"".join(b"%s %d\n" % (path.name.encode(), path.stat().st_size)
                                                for path in sorted(folder.iterdir())))
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    server = test_server.start(port, str(keys[0] / "server.crt"), str(keys[0] / "server.key"))
    yield server, vendor.root, keys[1]
    server.stop()


PACKAGE = "/packages/2.0.0.0/nirva.zip"
INDEX = PACKAGE + ".patches/index"


def first_patch(files):
    return next(path for path in files if ".patches/" in path and not path.endswith("/index"))


FAULTS = {
    "served-as-published": (lambda files: None, None),
    "another-server-key": (lambda files: "pin", "its key's pin is"),
    "check-redirected": (lambda files: files.update(check_status=302), "status 302"),
    "unsigned": (lambda files: files.update(check=re.sub(rb'  "signature": "[^"]*",\n', b"", files["check"])),
                 "manifest: signature: missing"),
    "package-byte-changed": (lambda files: files[PACKAGE].__setitem__(100, files[PACKAGE][100] ^ 1),
                             "/packages/2.0.0.0/nirva.zip: its sha256 is"),
    "package-cut-short": (lambda files: files.update({PACKAGE: files[PACKAGE][:-1]}), "Content-Length"),
    "index-unsorted": (lambda files: files.update({INDEX: b"".join(sorted(files[INDEX].splitlines(True))[::-1])}),
                       "not sorted"),
    "patch-cut-short": (lambda files: files.update({first_patch(files): files[first_patch(files)][:-1]}),
                        "where the index names"),
    "patch-header-of-another-pair": (lambda files: files[first_patch(files)].__setitem__(32, files[first_patch(
        files)][32] ^ 1), "its header names"),
}


@pytest.mark.parametrize("fault, cause", FAULTS.values(), ids=FAULTS.keys())
def test_verify_fetches_as_an_office_and_names_the_cause(served, fault, cause):
    server, root, printed = served
    files = {"/" + path.relative_to(root).as_posix(): bytearray(path.read_bytes())
             for path in root.rglob("*") if path.is_file() and path.name != "manifest.json"}
    files |= {"check": (root / "manifest.json").read_bytes(), "check_status": 200}
    pins = ["0" * 64] if fault(files) == "pin" else [printed["pin"], printed["backup pin"]]
    server.check_body, server.check_status = files.pop("check"), files.pop("check_status")
    server.packages = {path: {"data": bytes(data)} for path, data in files.items()}
    result = run_tool("verify", "--url", f"https://127.0.0.1:{server.port}", *(f"--pin={pin}" for pin in pins),
                      "--public-key", printed["release public key"])
    if cause is None:
        assert result.returncode == 0, result.stderr
        assert "patches: 2 named by " + INDEX in result.stdout and "signature verifies" in result.stdout
    else:
        assert result.returncode == 1 and "verify failed: " in result.stderr and cause in result.stderr, result.stderr
