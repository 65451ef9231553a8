"""The installation's own unpacking, seen from outside: a package that must
not be unpacked as it is fails the extraction and leaves the old application
back and running; large packages install intact in the same memory."""

import io
import re
import shutil
import struct
import time
import zipfile
from pathlib import Path

import pytest

import packages
from conftest import (ERROR_CAPTION, EXTRACTION_FAILURE_TEXT, IDOK, NEW_APPLICATION, OLD_APPLICATION, PACKAGE_PATH,
                      manifest)

OLD_RELEASE = {"nirva_acc.exe": OLD_APPLICATION.read_bytes(), "data/ledger.txt": b"the old release's ledger"}
EXTRA = b"an extra file of the release\r\n" * 40
# Offsets of flags, method and uncompressed size in a local header; the
# central directory has each two bytes further on.
FLAGS, METHOD, SIZE = 6, 8, 22
BZIP2 = 12


def package(names=("extra.txt",), stored=False, patch=None):
    """A release 2.0.0.0 with the given extra entries; patch(data, info) may then damage the first of them."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.write(NEW_APPLICATION, "nirva_acc.exe")
        archive.writestr("data/ledger.txt", b"the new release's ledger")
        for name in names:
            archive.writestr(zipfile.ZipInfo(name), EXTRA, zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED)
    data = bytearray(buffer.getvalue())
    if patch:
        with zipfile.ZipFile(io.BytesIO(bytes(data))) as archive:
            patch(data, archive.getinfo(names[0]))
    return bytes(data)


def central_record(data, info):
    """Where the central directory's record of the entry starts."""
    position = struct.unpack_from("<I", data, bytes(data).rindex(b"PK\x05\x06") + 16)[0]
    while struct.unpack_from("<I", data, position + 42)[0] != info.header_offset:
        position += 46 + sum(struct.unpack_from("<HHH", data, position + 28))
    return position


def in_both_headers(offset, fmt, change):
    """A patch that changes one field the same way in the local header and the central directory."""
    def patch(data, info):
        for position in (info.header_offset + offset, central_record(data, info) + offset + 2):
            struct.pack_into(fmt, data, position, change(struct.unpack_from(fmt, data, position)[0]))
    return patch


def flip_stored_byte(data, info):
    data[info.header_offset + 30 + len(info.orig_filename) + 100] ^= 0x20


def rename_in_local_header(data, info):
    start = info.header_offset + 30
    data[start:start + len(info.orig_filename)] = info.orig_filename.replace("extra", "extrb").encode()


BAD_PACKAGES = [
    pytest.param(package(["../outside.txt"]), id="parent-folder"),
    pytest.param(package(["/absolute.txt"]), id="absolute-name"),
    pytest.param(package(["C:/drive.txt"]), id="drive"),
    pytest.param(package(["extra.txt:stream"]), id="colon"),
    pytest.param(package(["CON"]), id="device-con"),
    pytest.param(package(["data/nul.txt"]), id="device-nul-txt"),
    pytest.param(package(["Extra.txt", "extra.TXT"]), id="same-ignoring-case"),
    pytest.param(package(stored=True, patch=flip_stored_byte), id="crc-mismatch"),
    pytest.param(package(patch=in_both_headers(SIZE, "<I", lambda size: size + 1)), id="size-lies"),
    pytest.param(package(stored=True, patch=in_both_headers(METHOD, "<H", lambda _: BZIP2)), id="unknown-method"),
    pytest.param(package(stored=True, patch=in_both_headers(FLAGS, "<H", lambda flags: flags | 1)), id="encrypted"),
    pytest.param(package(patch=rename_in_local_header), id="local-name-differs"),
    pytest.param(package()[:len(package()) // 2], id="truncated"),
]


def files(folder):
    return {path.relative_to(folder).as_posix(): path.read_bytes() for path in folder.rglob("*") if path.is_file()}


def offer(server, data, **options):
    server.check_body = manifest("2.0.0.0", url="https://updates.example" + PACKAGE_PATH, mandatory=True)
    server.packages[PACKAGE_PATH] = dict(data=data, **options)


@pytest.mark.parametrize("data", BAD_PACKAGES)
def test_package_that_cannot_be_unpacked_as_it_is_leaves_the_old_application(office, server, data):
    office.install_application("1234")
    (office.folder / "NIRVA" / "data").mkdir()
    (office.folder / "NIRVA" / "data" / "ledger.txt").write_bytes(OLD_RELEASE["data/ledger.txt"])
    offer(server, data)
    office.start_updater()

    box = office.wait_for_message_box(EXTRACTION_FAILURE_TEXT)
    assert box["title"] == ERROR_CAPTION
    office.press(box, IDOK)
    assert office.wait_for_starts(1)[0]["version"] == "1.2.3.4"
    assert files(office.folder / "NIRVA") == OLD_RELEASE
    # Nothing was left beside the application: no staging folder, no file from above it.
    assert office.entries() == ["NIRVA", "nirva.zip"]


@pytest.fixture(scope="module")
def large_packages(tmp_path_factory):
    """4,000 small files, and 200 MB of text, programs and incompressible data; made once."""
    folder = tmp_path_factory.mktemp("packages")
    contents = {"4000-small-files": packages.small_files(),
                "200-mb": packages.large_files(NEW_APPLICATION.read_bytes())}
    return {name: packages.write_package(folder / f"{name}.zip", NEW_APPLICATION, entries, compresslevel=1)
            for name, entries in contents.items()}


def peak_resident_kib(process):
    """The highest VmHWM of the process until it ends. Wine runs the updater in the
    process the test started, so /proc sees its whole memory."""
    peak = 0
    while process.poll() is None:
        try:
            status = Path(f"/proc/{process.pid}/status").read_text()
        except OSError:
            break
        if match := re.search(r"^VmHWM:\s+(\d+) kB", status, re.M):
            peak = max(peak, int(match[1]))
        time.sleep(0.02)
    return peak


def test_large_packages_install_intact_in_the_same_memory(office, server, large_packages):
    peaks = {}
    for name, path in large_packages.items():
        office.install_application("1234")
        offer(server, path.read_bytes(), chunk_size=1 << 20)
        process = office.start_updater()
        peaks[name] = peak_resident_kib(process)
        assert office.wait_for_exit(timeout=120) == 0, name
        installed = office.folder / "NIRVA"
        with zipfile.ZipFile(path) as archive:
            assert files(installed) == {info.filename: archive.read(info) for info in archive.infolist()}, name
            for info in archive.infolist()[1:40]:
                written = time.mktime(info.date_time + (0, 0, -1))
                assert (installed / info.filename).stat().st_mtime == written, info.filename
        shutil.rmtree(office.folder)
        office.folder.mkdir()
    assert all(peak > 0 for peak in peaks.values()), peaks
    assert abs(peaks["200-mb"] - peaks["4000-small-files"]) <= 2048, peaks
