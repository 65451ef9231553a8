"""Only what changed is downloaded: the new package is rebuilt from the
previous one, which every update leaves in the office folder, with range
requests for the rest; anything in doubt falls back to the whole package."""

import io
import random
import struct
import sys
import zipfile

import pytest

import harness
from conftest import (NEW_APPLICATION, OLD_APPLICATION, PACKAGE_PATH, entries, offer, package_requests, sha256,
                      wait_until)
from harness import SOURCE_DIR

sys.path.insert(0, str(SOURCE_DIR / "tools" / "release"))
from release_tool.package import write_package  # noqa: E402

TAIL_RANGE = "bytes=-65536"
FILES = 40
FILE_SIZE = 64 * 1024


def content(seed):
    return random.Random(seed).randbytes(FILE_SIZE)


def release(tmp_path, name, application, files):
    """A package as the release tool writes it, with the files given as name -> content."""
    folder = tmp_path / name
    folder.mkdir()
    sources = {"nirva_acc.exe": application}
    for file_name, data in files.items():
        (folder / file_name).write_bytes(data)
        sources[file_name] = folder / file_name
    write_package(dict(sorted(sources.items())), tmp_path / f"{name}.zip")
    return (tmp_path / f"{name}.zip").read_bytes()


OLD_FILES = {f"file{n:02}.bin": content(n) for n in range(FILES)}
CHANGES = {
    "one-changed": lambda files: {**files, "file07.bin": content(1000)},
    "added-removed-renamed": lambda files: {**{name: data for name, data in files.items()
                                               if name not in ("file03.bin", "file30.bin", "file12.bin")},
                                            "a-new.bin": content(2000), "zz-new.bin": content(2001),
                                            "renamed12.bin": files["file12.bin"]},
    "everything-changed": lambda files: {name: content(3000 + n) for n, name in enumerate(files)},
}


def sent(server):
    return sum(request["sent"] for request in package_requests(server))


def assert_installed_exactly(office, new):
    assert office.wait_for_exit(timeout=120) == 0
    assert (office.folder / "NIRVA" / "nirva_acc.exe").read_bytes() == NEW_APPLICATION.read_bytes()
    assert entries(office.folder) == ["NIRVA", "NIRVA.bak", "nirva.zip"]
    assert (office.folder / "nirva.zip").read_bytes() == new


def offer_over_previous(office, server, tmp_path, change=CHANGES["one-changed"], previous=lambda old: old):
    """The changed release offered to an office whose folder keeps the previous
    package (or what previous makes of it; None: nothing)."""
    old = release(tmp_path, "old", OLD_APPLICATION, OLD_FILES)
    new = release(tmp_path, "new", NEW_APPLICATION, change(OLD_FILES))
    office.install_application("1234")
    if previous(old) is not None:
        (office.folder / "nirva.zip").write_bytes(previous(old))
    offer(server, mandatory=True, sha256_text=sha256(new), data=new)
    return old, new


@pytest.mark.parametrize("change", CHANGES.values(), ids=CHANGES.keys())
def test_only_what_changed_is_fetched(office, server, tmp_path, change):
    _, new = offer_over_previous(office, server, tmp_path, change)
    new_files = change(OLD_FILES)

    office.start_updater()

    assert_installed_exactly(office, new)
    changed = sum(len(data) for name, data in new_files.items() if OLD_FILES.get(name) != data)
    if changed == len(new_files) * FILE_SIZE:
        # Its end, then the whole package: about one full download.
        assert sent(server) <= len(new) + 70_000
    else:
        # The changed files (stored almost as they are), the new program, the
        # package's end, and never much more.
        assert changed < sent(server) < changed + NEW_APPLICATION.stat().st_size + 140_000 < len(new) / 4


def lying(old):
    """The previous package with the same names, CRCs and sizes but other bytes
    in the last of the files a rebuild copies."""
    data = bytearray(old)
    start = zipfile.ZipFile(io.BytesIO(old)).getinfo(max(OLD_FILES)).header_offset
    data[start + 30 + sum(struct.unpack_from("<HH", old, start + 26)) + 100] ^= 0xFF
    return bytes(data)


# A zip the reader refuses (its end cut off here) stands for every such
# damage, which the reader's own vectors list.
@pytest.mark.parametrize("previous, options", [
    (lambda old: None, {}),
    (lambda old: old[:-100], {}),
    (lying, {}),
    (lambda old: old, dict(ignore_ranges=True)),
], ids=["no-previous-package", "truncated", "entries-lie", "server-ignores-ranges"])
def test_any_doubt_falls_back_to_the_whole_package(office, server, tmp_path, previous, options):
    _, new = offer_over_previous(office, server, tmp_path, previous=previous)
    server.packages[PACKAGE_PATH].update(options)

    office.start_updater()

    assert_installed_exactly(office, new)
    whole = [request for request in package_requests(server) if request["range"] is None]
    assert len(whole) == 1 and whole[0]["sent"] == len(new)
    if previous is lying:
        # The rebuild was tried, and its result thrown away.
        assert len(package_requests(server)) > 2


def fetch_ranges(server):
    return [request["range"] for request in package_requests(server) if request["range"] != TAIL_RANGE]


def test_rebuild_cut_short_goes_on_from_the_kept_bytes(office, server, tmp_path):
    _, new = offer_over_previous(office, server, tmp_path)
    # The end and the first changed entry's local header come whole (its patch
    # is missing); its data breaks off on its way.
    server.packages[PACKAGE_PATH].update(cut_at=[None, None, 30_000, None])

    office.start_updater()

    assert_installed_exactly(office, new)
    first, then = fetch_ranges(server)[1:3]
    first_missing = int(first.split("=")[1].split("-")[0]) + 30_000
    assert then.startswith(f"bytes={first_missing}-")
    assert sent(server) < len(new) / 4


def test_rebuild_refused_by_its_digest_is_not_tried_again_at_the_next_start(office, server, tmp_path):
    _, new = offer_over_previous(office, server, tmp_path, previous=lying)
    # The whole download that follows the refused rebuild is paced, and waits
    # at 40 % for the power to go.
    server.packages[PACKAGE_PATH]["whole"] = dict(chunk_size=65536, delay=0.05, hold_at=len(new) * 2 // 5)
    partial = office.folder / "nirva.zip.partial"
    office.start_updater()
    wait_until(lambda: any(r["range"] is None for r in package_requests(server))
               and partial.stat().st_size > len(new) // 3, 60, interval=0.05, what="a third of the whole download")
    harness.stop_wine()
    server.release()
    office.wait_for_exit()
    kept = partial.stat().st_size

    server.requests.clear()
    office.start_updater()

    assert_installed_exactly(office, new)
    assert [(r["range"], r["status"]) for r in package_requests(server)] == [(f"bytes={kept}-", 206)]


# Every answer breaks off after 40,000 bytes, the package's end too.
def test_rebuild_that_cannot_get_going_gives_way_to_the_plain_download(office, server, tmp_path):
    _, new = offer_over_previous(office, server, tmp_path, change=lambda files: dict(list(files.items())[:3]))
    server.packages[PACKAGE_PATH]["cut_at"] = 40_000

    office.start_updater()

    assert_installed_exactly(office, new)
    assert [r["range"] for r in package_requests(server)][:2] == [TAIL_RANGE, None]
