"""Binary patches in the rebuild: each changed entry comes as a patch from
<package url>.patches/, applied to the previous package's entry and deflated
again; a patch that is missing, cut off or rebuilds another content costs
only that entry's bytes by range, never the whole package."""

import io
import random
import sys
import zipfile
import zlib

import pytest

import harness
import packages
from conftest import (NEW_APPLICATION, OLD_APPLICATION, PACKAGE_PATH, events, offer, package_requests,
                      sha256, wait_until)

sys.path.insert(0, str(harness.SOURCE_DIR / "tools" / "release"))
from release_tool.patches import make_patch  # noqa: E402

ENGINE = "bin/engine.dll"
PATCHES = PACKAGE_PATH + ".patches/"


def build(base, name, files, version, *options):
    for path, data in files.items():
        (base / name / path).parent.mkdir(parents=True, exist_ok=True)
        (base / name / path).write_bytes(data)
    packages.release_tool(base / name, version, f"https://updates.example/releases/{version}/nirva.zip",
                          base / f"{name}-out", *options)
    return base / f"{name}-out" / "nirva.zip"


@pytest.fixture(scope="module")
def release(tmp_path_factory):
    """Release 2.0.0.0 over 1.2.3.4: the program, a library and a ledger changed, a form added, rates kept."""
    rng, base = random.Random(22), tmp_path_factory.mktemp("releases")
    ledger = b"".join(b"%06d rate %d\r\n" % (n * 7919 % 999983, n) for n in range(4000))
    # Code compresses to about half: random bytes beside repeated instructions.
    engine = b"".join(rng.randbytes(24) + b"mov eax, [ebp+8]; call 0x401000\n" for _ in range(18_000))
    old = {ENGINE: engine, "data/ledger.txt": ledger, "data/rates.bin": rng.randbytes(100_000),
           "nirva_acc.exe": OLD_APPLICATION.read_bytes()}
    new = {**old, ENGINE: packages.rebuilt(old[ENGINE], rng),
           "data/ledger.txt": ledger.replace(b"rate 17\r", b"RATE 17\r"),
           "data/new-form.txt": b"form field\r\n" * 300, "nirva_acc.exe": NEW_APPLICATION.read_bytes()}
    old_package = build(base, "old", old, "1.2.3.4")
    new_package = build(base, "new", new, "2.0.0.0", "--previous", old_package)
    old_zip, new_zip = zipfile.ZipFile(old_package), zipfile.ZipFile(new_package)
    patches = {path.name: path.read_bytes() for path in (base / "new-out" / "nirva.zip.patches").iterdir()}
    engine = f"{old_zip.getinfo(ENGINE).CRC:08x}-{new_zip.getinfo(ENGINE).CRC:08x}"
    assert len(patches) == 3 and engine in patches
    return dict(files=new, old=old_package.read_bytes(), new=new_package.read_bytes(), old_zip=old_zip,
                new_zip=new_zip, patches=patches, engine=engine, old_engine=old[ENGINE])


def serve(office, server, release, patch=None, package=None):
    """The new release (or the package given) offered to an office that keeps
    the old package; the engine's patch as the server has it, or as given."""
    office.install_application("1234")
    (office.folder / "nirva.zip").write_bytes(release["old"])
    package = package or release["new"]
    offer(server, mandatory=True, sha256_text=sha256(package), data=package)
    for name, data in release["patches"].items():
        server.packages[PATCHES + name] = {"data": data}
    if patch is not None:
        server.packages[PATCHES + release["engine"]] = patch
    return package


def assert_installed_from_ranges_and_patches(office, server, release, package=None):
    assert office.wait_for_exit(timeout=120) == 0
    nirva = office.folder / "NIRVA"
    installed = {path.relative_to(nirva).as_posix(): path.read_bytes() for path in nirva.rglob("*") if path.is_file()}
    assert installed == release["files"]
    assert (office.folder / "nirva.zip").read_bytes() == (package or release["new"])
    assert all(request["range"] for request in package_requests(server)), "the whole package was downloaded"


def engine_data(package):
    """Where the engine's data lies in the package: first and last byte."""
    info = zipfile.ZipFile(io.BytesIO(package)).getinfo(ENGINE)
    start = info.header_offset + 30 + len(ENGINE)
    return start, start + info.compress_size - 1


def test_changed_entries_come_as_patches(office, server, release):
    serve(office, server, release)

    office.start_updater()

    assert_installed_from_ranges_and_patches(office, server, release)
    assert sorted((r["path"][len(PATCHES):], r["status"]) for r in server.requests if r["path"].startswith(PATCHES)) \
        == [(name, 200) for name in sorted(release["patches"])]
    old_entries = {(info.filename, info.CRC) for info in release["old_zip"].infolist()}
    # What the rebuild without patches fetches: every entry that changed or is new, whole.
    file_level = sum(info.compress_size + 30 + len(info.filename) for info in release["new_zip"].infolist()
                     if (info.filename, info.CRC) not in old_entries)
    # The package's end, which every rebuild asks for first, aside.
    assert sum(r["sent"] for r in server.requests if r["range"] != "bytes=-65536") < file_level / 20
    # The support log tells the bytes that came as patches from those copied.
    download, = events(office, "download")
    assert int(download["patches"]) == sum(r["sent"] for r in server.requests if r["path"].startswith(PATCHES)) > 0
    assert int(download["copied"]) > 0


def lying(release):
    """A patch that names the engine's CRC-32s but rebuilds a content one byte off."""
    patch = bytearray(make_patch(release["old_engine"], release["files"][ENGINE][:-1] + b"?"))
    patch[32:36] = zlib.crc32(release["files"][ENGINE]).to_bytes(4, "little")
    return {"patch": {"data": bytes(patch)}}


def deflated_otherwise(release):
    """The package with the engine deflated at another level than the package's
    settings: its patch rebuilds the content, whose recompression then differs."""
    package = io.BytesIO()
    with zipfile.ZipFile(package, "w") as target:
        for info in release["new_zip"].infolist():
            target.writestr(info, release["new_zip"].read(info), compresslevel=9 if info.filename == ENGINE else 6)
    return {"package": package.getvalue()}


FAULTS = {
    "rebuilds-another-content": lying,
    "missing": lambda release: {"patch": {"data": b"not found", "status": 404}},
    "cut-off": lambda release: {"patch": {"data": release["patches"][release["engine"]], "cut_at": 40}},
    "package-deflated-otherwise": deflated_otherwise,
}


@pytest.mark.parametrize("fault", FAULTS.values(), ids=FAULTS.keys())
def test_a_patch_that_fails_costs_only_its_entry_by_range(office, server, release, fault):
    package = serve(office, server, release, **fault(release))

    office.start_updater()

    assert_installed_from_ranges_and_patches(office, server, release, package)
    first, last = engine_data(package)
    assert f"bytes={first}-{last}" in [request["range"] for request in package_requests(server)]


@pytest.mark.parametrize("cut", ["inside-a-patch", "after-the-patched-entries"])
def test_rebuild_with_patches_cut_short_goes_on_at_the_next_start(office, server, release, cut):
    serve(office, server, release)
    if cut == "inside-a-patch":
        server.packages[PATCHES + release["engine"]]["hold_at"] = 100
        written = engine_data(release["new"])[0]
    else:
        # The form's range, after the package's end and the engine's and the ledger's headers.
        server.packages[PACKAGE_PATH]["hold_at"] = [None, None, None, 50, None]
        written = release["new_zip"].getinfo("data/new-form.txt").header_offset
    partial = office.folder / "nirva.zip.partial"
    office.start_updater()
    wait_until(lambda: partial.exists() and partial.stat().st_size >= written and server.requests[-1]["sent"] > 0,
               60, interval=0.05, what="the rebuild held on its way")
    harness.stop_wine()
    server.release()
    office.wait_for_exit()
    kept = partial.stat().st_size
    assert (office.folder / "nirva.zip").read_bytes() == release["old"]
    server.requests.clear()

    office.start_updater()

    assert_installed_from_ranges_and_patches(office, server, release)
    assert min(int(r["range"][6:].split("-")[0]) for r in package_requests(server)[1:]) >= kept >= written
    engine_asked = any(request["path"] == PATCHES + release["engine"] for request in server.requests)
    assert engine_asked == (cut == "inside-a-patch")
