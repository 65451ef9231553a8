"""The release tool end to end: package, manifest, refusals and checks."""

import dataclasses
import hashlib
import json
import os
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

REPOSITORY = Path(__file__).resolve().parents[2]
TOOL = REPOSITORY / "tools" / "release" / "nirva_release.py"
sys.path.insert(0, str(TOOL.parent))
sys.path.insert(0, str(REPOSITORY / "tests" / "support"))

import patch_reference  # noqa: E402
import versioned_exe  # noqa: E402
from release_tool import checks, package, reader  # noqa: E402

URL = "https://updates.example.com/packages/4.1.0.12/nirva.zip"
UPLOAD_DATE = "2024-05-02T08:30:00Z"
PERSIAN_NOTES = "به\u200cروزرسان\u06cc جد\u06ccد\nرفع اشکال چاپ فا\u06a9تور\n\nبهبود سرعت\n"
VERSION = "4.1.0+12"
FOLDER_FILES = {
    "data/rates.db": b"\x00\x01rates" * 1000,
    "data/forms/invoice.frm": b"invoice form",
    "گزارش/readme.txt": "راهنما".encode("utf-8"),
}


def run_tool(*arguments):
    return subprocess.run([sys.executable, str(TOOL), *map(str, arguments)],
                          capture_output=True, text=True, encoding="utf-8")


@pytest.fixture
def release_folder(tmp_path, executables):
    folder = tmp_path / "release"
    (folder / "data").mkdir(parents=True)
    (folder / "nirva_acc.exe").write_bytes(application(executables, VERSION))
    for name, content in FOLDER_FILES.items():
        path = folder / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)
    (folder / "logs").mkdir()
    return folder


@pytest.fixture
def notes_file(tmp_path):
    path = tmp_path / "notes.txt"
    path.write_bytes(PERSIAN_NOTES.encode("utf-8"))
    return path


def build(folder, notes, out, *extra, version=VERSION, url=None):
    url = url or (URL if version == VERSION else URL.replace("4.1.0.12", version))
    return run_tool(folder, "--version", version, "--notes", notes, "--url", url,
                    "--out", out, "--upload-date", UPLOAD_DATE, *extra)


def assert_refused(result, out, *words):
    assert result.returncode == 1, result.stderr
    for word in words:
        assert word in result.stderr
    assert not out.exists() or not any(out.iterdir())


def test_package_holds_the_folder_content_at_its_root_byte_for_byte_reproducible(release_folder, notes_file,
                                                                                 tmp_path):
    first = build(release_folder, notes_file, tmp_path / "first")
    assert first.returncode == 0, first.stderr
    with zipfile.ZipFile(tmp_path / "first" / "nirva.zip") as archive:
        assert archive.namelist() == sorted(
            list(FOLDER_FILES) + ["nirva_acc.exe", "data/", "data/forms/", "logs/", "گزارش/"])
        for name, content in FOLDER_FILES.items():
            assert archive.read(name) == content
    for path in release_folder.rglob("*"):
        os.utime(path, (1_700_000_000, 1_700_000_000))
        path.chmod(0o700 if path.is_dir() else 0o600)
    second = build(release_folder, notes_file, tmp_path / "second")
    assert second.returncode == 0, second.stderr
    for name in ("nirva.zip", "manifest.json"):
        assert (tmp_path / "first" / name).read_bytes() == (tmp_path / "second" / name).read_bytes()


def test_manifest_is_read_back_exactly(release_folder, notes_file, tmp_path):
    out = tmp_path / "out"
    assert build(release_folder, notes_file, out, "--mandatory", "--rollout", "10").returncode == 0
    raw = (out / "manifest.json").read_bytes()
    text = raw.decode("utf-8")
    expected = {
        "version": "4.1.0+12",
        "url": URL,
        "sha256": hashlib.sha256((out / "nirva.zip").read_bytes()).hexdigest(),
        "notes": PERSIAN_NOTES.strip().replace("\n", "\r\n"),
        "releaseDate": "2024-05-02",
        "uploadDate": UPLOAD_DATE,
        "mandatory": True,
        "size": (out / "nirva.zip").stat().st_size,
        "rollout": 10,
    }
    assert reader.read_manifest(text) == reader.Manifest.from_keys(
        expected | {"size": str(expected["size"]), "rollout": "10"})
    assert json.loads(text, strict=False) == expected
    assert not raw.startswith(b"\xef\xbb\xbf")
    checked = run_tool("--check-manifest", out / "manifest.json")
    assert checked.returncode == 0, checked.stderr


@pytest.mark.parametrize("notes, url, words", [
    ('Fixes "quoted" names\n', URL, ("notes", "quotation mark")),
    ("C:\\NIRVA path fix\n", URL, ("notes", "backslash")),
    ("", URL, ("notes: empty",)),
    (" \n\t\r\n", URL, ("notes: empty",)),
    ("ok", "https://updates.example.com\\packages\\nirva.zip", ("url", "backslash")),
    ("ok", 'https://updates.example.com/"nirva".zip', ("url", "quotation mark")),
    ("ok", "http://updates.example.com/packages/nirva.zip", ("url", "https://")),
    ("ok", "https://updates.example.com", ("url", "no path")),
    ("ok", "https://updates.example.com/", ("url", "no path")),
    ("ok", "https:///packages/nirva.zip", ("url", "no host")),
    ("ok", "https://updates.example.com/new release/nirva.zip", ("url", "unescaped")),
], ids=["notes-quote", "notes-backslash", "notes-empty", "notes-blank", "url-backslash", "url-quote",
        "url-http", "url-no-path", "url-slash-only", "url-no-host", "url-space"])
def test_refuses_values_the_updater_would_misread(release_folder, tmp_path, notes, url, words):
    notes_path = tmp_path / "notes.txt"
    notes_path.write_text(notes, encoding="utf-8")
    out = tmp_path / "out"
    assert_refused(build(release_folder, notes_path, out, url=url), out, *words)


@pytest.mark.parametrize("rollout", ["101", "-1", "050", "10.0", "ten", ""])
def test_refuses_a_rollout_that_is_not_a_percentage(release_folder, notes_file, tmp_path, rollout):
    out = tmp_path / "out"
    assert_refused(build(release_folder, notes_file, out, "--rollout", rollout), out, "rollout:")


@pytest.mark.parametrize("version", [
    "", "1.2.3.4.5", "1.2.3.4+5", "1..2", "1.2.", "v1.2", "1.2.3-beta", "1,2,3,4", " 1.2", "1.2+", "+1",
    "2147483648", "1.2.3.99999999999", "0.0.0.0", "0+0", "1.2\"", "1.2\\3", "۱.۲",
])
def test_refuses_versions_not_read_back_exactly(release_folder, notes_file, tmp_path, version):
    out = tmp_path / "out"
    assert_refused(build(release_folder, notes_file, out, version=version), out, "version")


@pytest.mark.parametrize("version", ["7", "4.1.0.12", "01.002.0.10", "2147483647.0.0+2147483647"])
def test_accepts_dotted_versions(release_folder, notes_file, tmp_path, executables, version):
    (release_folder / "nirva_acc.exe").write_bytes(application(executables, version))
    out = tmp_path / "out"
    result = build(release_folder, notes_file, out, version=version)
    assert result.returncode == 0, result.stderr
    assert reader.read_manifest((out / "manifest.json").read_text("utf-8")).version == version


@pytest.mark.parametrize("change, words", [
    (lambda folder: (folder / "nirva_acc.exe").rename(folder / "data" / "nirva_acc.exe"), ("folder", "nirva_acc.exe")),
    (lambda folder: (folder / "DATA").mkdir(), ("folder: DATA/ and data/ differ only in letter case",)),
    (lambda folder: (folder / "logs" / "old").symlink_to(folder / "data"), ("folder: logs/old is a symbolic link",)),
    *[(lambda folder, name=name: (folder / "data" / name).write_bytes(b"x"), (f"folder: data/{name}:",))
      for name in ("..\\..\\nirva_updater.exe", "a:b", "con.txt", "Lpt1", "trailing.", "trailing ", "x" * 196)],
    (lambda folder: (folder / "nirva_updater.exe").write_bytes(b"MZ"), ("folder: holds nirva_updater.exe",)),
], ids=["no-application", "case-only-difference", "symbolic-link", "backslashes", "colon", "device-name",
        "device-name-any-case", "trailing-dot", "trailing-space", "path-too-long", "updater-in-folder"])
def test_refuses_folders_clients_would_not_unpack_intact(release_folder, notes_file, tmp_path, change, words):
    change(release_folder)
    out = tmp_path / "out"
    assert_refused(build(release_folder, notes_file, out), out, *words)


@pytest.mark.parametrize("first, second, same_on_windows", [
    ("s.txt", "\u017f.txt", True),
    ("data/i.dll", "data/\u0131.dll", True),
    ("I.dll", "\u0131.dll", True),
    ("\u03c2/", "\u03c3/", True),
    ("\u00b5.txt", "\u03bc.txt", True),
    ("\u212a.txt", "k.txt", True),
    ("\u00df.txt", "ss.txt", False),
    ("\u0130.txt", "i.txt", False),
    ("\U00010400.txt", "\U00010428.txt", False),
], ids=["long-s", "dotless-i", "dotless-i-capital", "final-sigma", "micro-sign", "kelvin-sign-lower-case-only",
        "sharp-s-is-not-ss", "dotted-capital-i", "beyond-the-basic-plane"])
def test_names_windows_folds_to_one_are_refused(first, second, same_on_windows):
    problems = package.entry_name_problems(sorted([first, second]))
    assert [problem for problem in problems if "letter case" in problem] == (
        [f"folder: {min(first, second)} and {max(first, second)} differ only in letter case"] if same_on_windows else [])


def test_refuses_output_inside_release_folder(release_folder, notes_file):
    out = release_folder / "out"
    assert_refused(build(release_folder, notes_file, out), out, "out:")


def test_output_that_does_not_read_back_leaves_the_previous_release(release_folder, notes_file, tmp_path):
    out = tmp_path / "out"
    assert build(release_folder, notes_file, out).returncode == 0
    previous = {path.name: path.read_bytes() for path in out.iterdir()}
    (release_folder / "added.txt").write_bytes(b"a different package")
    manifest = reader.Manifest(version="4.1.0.12", url=URL, sha256="", notes='the "old" way',
                               release_date="2024-05-01", upload_date=UPLOAD_DATE, mandatory=False)
    with pytest.raises(checks.Refusal) as refusal:
        package.publish(release_folder, manifest, out)
    assert refusal.value.problems == ["notes: the updater reads 'the ' where 'the \"old\" way' is meant"]
    assert {path.name: path.read_bytes() for path in out.iterdir()} == previous


def manifest_with(fragment, *replaced):
    """A manifest the tool would accept, but for `fragment` standing first."""
    fields = {"version": "4.1.0.12", "url": URL, "sha256": "ab" * 32, "releaseDate": "2024-05-01",
              "uploadDate": UPLOAD_DATE, "mandatory": False}
    rest = [f'"{key}": {json.dumps(value)}' for key, value in fields.items() if key not in replaced]
    return "{" + ", ".join([fragment] + rest) + "}"


@pytest.mark.parametrize("text, message", [
    (manifest_with('"notes": "say \\"hi\\""'), "notes:"),
    (manifest_with('"notes": "line one\\nline two"'), "notes:"),
    (manifest_with('"notes": "\\u0646\\u0633\\u062e\\u0647"'), "notes:"),
    (manifest_with('"notes": "one line\nanother"'), "notes:"),
    (manifest_with('"notes": "url", "size": 10'), "url:"),
    (manifest_with('"notes": "ok", "version": 2', "version"), "version:"),
    (manifest_with('"notes": "ok", "mandatory": "true"', "mandatory"), "mandatory:"),
    (manifest_with('"notes": "ok", "release": {"version": "9.0"}'), "version:"),
    (manifest_with('"notes": "ok", "version": "4.1.0.12.1"', "version"), "version:"),
    (manifest_with('"notes": "ok", "url": "https://updates.example.com/"', "url"), "url:"),
    ("<html>502</html>", "not JSON"),
    ('{"version": "1.0", "version": "1.0"}', "version: occurs more than once"),
    ('{"version": "1.0"}', "sha256: missing"),
    (manifest_with('"notes": "ok", "rollout": "10"'), 'rollout: "10" is not a whole number'),
    (manifest_with('"notes": "ok", "rollout": 101'), "rollout: '101'"),
    (manifest_with('"notes": "ok", "rollout": 10.5'), "rollout: 10.5 is not a whole number"),
    (manifest_with('"notes": "ok", "size": true'), "size: true is not a whole number"),
    (manifest_with('"notes": "ok", "size": -5'), "size: the updater reads '5' where '-5' is meant"),
    (manifest_with('"notes": "ok", "size": 0'), "size: '0'"),
], ids=["escaped-quote", "escaped-line-break", "unicode-escape", "bare-line-feed", "key-name-as-value",
        "numeric-version", "string-mandatory", "nested-first", "five-part-version", "url-without-path",
        "not-json", "duplicate-key", "missing-keys", "quoted-rollout", "rollout-over-100", "fractional-rollout",
        "boolean-size", "negative-size", "zero-size"])
def test_check_manifest_names_what_the_updater_would_misread(tmp_path, text, message):
    path = tmp_path / "manifest.json"
    path.write_text(text, encoding="utf-8")
    result = run_tool("--check-manifest", path)
    assert result.returncode == 1
    assert f"refused: {message}" in result.stderr


@pytest.fixture(scope="session")
def executables(tmp_path_factory):
    return versioned_exe.build(tmp_path_factory.mktemp("pe"))


application = versioned_exe.with_product_version


@pytest.mark.parametrize("executable, version, returncode, words", [
    ("1.4.0+7", "1.4.0.7", 0, ()),
    ("1.4.0+7", "1.4", 1, ("1.4.0+7", "1.4.0.0", "version")),
    ("1.4.0+7", "1.4.0.8", 1, ("1.4.0+7", "1.4.0.8", "version")),
    ("first-translation-lacks-it", "1.4.0.7", 1, ("ProductVersion", "first translation")),
    ("unversioned", "1.4.0.8", 1, ("nirva_acc.exe: carries no version resource",)),
])
def test_product_version_must_match_release(release_folder, notes_file, tmp_path, executables,
                                            executable, version, returncode, words):
    content = executables[executable].read_bytes() if executable in executables else application(executables,
                                                                                                    executable)
    (release_folder / "nirva_acc.exe").write_bytes(content)
    out = tmp_path / "out"
    result = build(release_folder, notes_file, out, version=version)
    assert result.returncode == returncode, result.stderr
    for word in words:
        assert word in result.stderr
    assert (out / "nirva.zip").exists() == (returncode == 0)


@pytest.mark.parametrize("versioned", [True, False])
def test_updater_with_a_version_goes_to_the_package_root(release_folder, notes_file, tmp_path, executables,
                                                         versioned):
    updater = tmp_path / "nirva_updater.exe"
    updater.write_bytes(application(executables, "1.0.1.0") if versioned else executables["unversioned"].read_bytes())
    out = tmp_path / "out"
    result = build(release_folder, notes_file, out, "--updater", updater)
    if not versioned:
        assert_refused(result, out, f"updater {updater}: carries no version resource")
        return
    assert result.returncode == 0, result.stderr
    with zipfile.ZipFile(out / "nirva.zip") as archive:
        assert archive.read("nirva_updater.exe") == updater.read_bytes()


def test_signed_manifest_verifies_with_the_printed_public_key_only(release_folder, notes_file, tmp_path):
    keys = {}
    for name in ("release", "other"):
        keys[name] = tmp_path / f"{name}.pem"
        subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256",
                        "-out", keys[name]], check=True, capture_output=True)
    out = tmp_path / "out"
    assert build(release_folder, notes_file, out, "--signing-key", keys["release"]).returncode == 0
    assert '"signature": "' in (out / "manifest.json").read_text(encoding="utf-8")
    for name, returncode in (("release", 0), ("other", 1)):
        public_key = run_tool("--print-public-key", keys[name]).stdout.strip()
        assert len(public_key) == 128
        result = run_tool("--check-manifest", out / "manifest.json", "--public-key", public_key)
        assert result.returncode == returncode, result.stderr
        assert returncode or f"its signature verifies with the public key {public_key}" in result.stdout
    assert "signed, but the signature was not checked" in run_tool("--check-manifest", out / "manifest.json").stdout


@pytest.mark.parametrize("rollout, signed, change, refusal", [
    ("50", True, None, None),
    ("0", False, None, None),
    ("20", False, (b'"rollout": 10', b'"rollout": 101'), None),
    ("101", True, None, "rollout: '101'"),
    ("50", None, None, "give --signing-key"),
    ("50", True, (b'"mandatory": true', b'"mandatory": false'), "signature: does not verify"),
    ("50", "other", None, "signature: does not verify"),
], ids=["widened-signed-again", "halted-unsigned", "mends-a-bad-rollout", "not-a-percentage",
        "signed-without-the-key", "changed-since-signed", "another-key"])
def test_restage_changes_only_the_rollout(release_folder, notes_file, tmp_path, rollout, signed, change, refusal):
    keys = {name: tmp_path / f"{name}.pem" for name in ("release", "other")}
    for key in keys.values():
        subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", key],
                       check=True, capture_output=True)
    key = keys["release"]
    out = tmp_path / "out"
    signing = ["--signing-key", key] if signed is not False else []
    assert build(release_folder, notes_file, out, "--rollout", "10", "--mandatory", *signing).returncode == 0
    if change:
        (out / "manifest.json").write_bytes((out / "manifest.json").read_bytes().replace(*change))
    before = {path.name: path.read_bytes() for path in out.iterdir()}
    restage_key = {True: signing, "other": ["--signing-key", keys["other"]]}.get(signed, [])
    result = run_tool("--restage", out / "manifest.json", "--rollout", rollout, *restage_key)
    after = {path.name: path.read_bytes() for path in out.iterdir()}
    assert (result.returncode, refusal is None or refusal in result.stderr) == (1 if refusal else 0, True)
    assert after["nirva.zip"] == before["nirva.zip"] and (after == before) == bool(refusal)
    if not refusal:
        old, new = (reader.read_manifest(files["manifest.json"].decode()) for files in (before, after))
        assert dataclasses.replace(old, rollout=rollout, signature=new.signature) == new
        public_key = run_tool("--print-public-key", key).stdout.strip()
        assert run_tool("--check-manifest", out / "manifest.json", *(["--public-key", public_key] if signed else [])
                        ).returncode == 0


def test_signing_key_that_is_not_p256_is_refused(release_folder, notes_file, tmp_path):
    key = tmp_path / "rsa.pem"
    subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-out", key], check=True, capture_output=True)
    out = tmp_path / "out"
    assert_refused(build(release_folder, notes_file, out, "--signing-key", key), out, "not an ECDSA P-256")


def ledger(changed=b""):
    """Text that deflates well and that bsdiff patches in a few bytes when a line changes."""
    return b"".join(b"%06d rate %d\r\n" % (index * 7919 % 999983, index) for index in range(4000)) + changed


def entries(package_path):
    with zipfile.ZipFile(package_path) as archive:
        return {info.filename: (info, archive.read(info)) for info in archive.infolist()}


def test_patches_rebuild_each_changed_entry_and_leave_package_and_manifest_as_they_were(release_folder, notes_file,
                                                                                       tmp_path):
    (release_folder / "data" / "rates.db").write_bytes(ledger())
    assert build(release_folder, notes_file, tmp_path / "old").returncode == 0
    (release_folder / "data" / "rates.db").write_bytes(ledger().replace(b"rate 17", b"RATE 17"))
    (release_folder / "data" / "forms" / "invoice.frm").write_bytes(os.urandom(4000))
    (release_folder / "added.txt").write_bytes(b"not in the old package")

    result = build(release_folder, notes_file, tmp_path / "new", "--previous", tmp_path / "old" / "nirva.zip")
    assert result.returncode == 0, result.stderr
    assert build(release_folder, notes_file, tmp_path / "plain").returncode == 0
    for name in ("nirva.zip", "manifest.json"):
        assert (tmp_path / "new" / name).read_bytes() == (tmp_path / "plain" / name).read_bytes()
    old, new = entries(tmp_path / "old" / "nirva.zip"), entries(tmp_path / "new" / "nirva.zip")
    patch_names = {f"{old[name][0].CRC:08x}-{new[name][0].CRC:08x}": name for name in ("data/rates.db",)}
    patches = {path.name: path.read_bytes() for path in (tmp_path / "new" / "nirva.zip.patches").iterdir()}
    assert set(patches) == set(patch_names)
    for patch_name, entry in patch_names.items():
        assert patch_reference.apply_patch(old[entry][1], patches[patch_name]) == new[entry][1]
        assert len(patches[patch_name]) < new[entry][0].compress_size / 10


@pytest.mark.parametrize("case, message", [
    ("zlib-other-than-the-updaters", "zlib is 1.3.1, the updater's 1.2.13"),
    ("previous-not-a-zip", "is not a readable zip"),
    ("package-deflate-not-the-contract", "is not what deflating it with the package's settings gives"),
])
def test_patches_are_refused_when_the_updater_could_not_use_them(release_folder, notes_file, tmp_path, monkeypatch,
                                                                 capsys, case, message):
    from release_tool import cli, deflate, patches
    (release_folder / "data" / "rates.db").write_bytes(ledger())
    assert build(release_folder, notes_file, tmp_path / "old").returncode == 0
    previous = tmp_path / "old" / ("manifest.json" if case == "previous-not-a-zip" else "nirva.zip")
    if case == "zlib-other-than-the-updaters":
        monkeypatch.setattr(patches.zlib, "ZLIB_RUNTIME_VERSION", "1.3.1")
    if case == "package-deflate-not-the-contract":
        monkeypatch.setattr(patches, "PACKAGE_DEFLATE", dataclasses.replace(deflate.PACKAGE_DEFLATE, level=9))
    (release_folder / "data" / "rates.db").write_bytes(ledger(b"one more line\r\n"))
    out = tmp_path / "out"
    returncode = cli.main([str(release_folder), "--version", VERSION, "--notes", str(notes_file), "--url", URL,
                           "--out", str(out), "--previous", str(previous)])
    assert returncode == 1
    assert message in capsys.readouterr().err
    assert not out.exists() or not any(out.iterdir())


@pytest.mark.parametrize("triples, fits", [
    ([(100, 20, -100)], True),
    ([(0, 0, 50), (100, 20, -150)], False),
    ([(50, 0, -60), (50, 20, 10)], False),
    ([(100, 25, 0)], False),
    ([(100, 10, 0)], False),
    ([(100, 30, 0), (0, -10, 0)], False),
], ids=["fits", "add-past-old", "seek-before-old", "copy-past-new", "extra-left-over", "negative-copy"])
def test_control_triples_from_bsdiff_are_kept_only_inside_the_buffers(triples, fits):
    from release_tool import patches
    assert patches.control_fits(triples, old_size=100, new_size=120, diff=100, extra=20) == fits
