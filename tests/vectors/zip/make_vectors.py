#!/usr/bin/env python3
"""Writes the zip vectors of this folder: archives made by Python's zipfile
and by the release tool, some of them damaged on purpose, each with NAME.tsv
listing what the updater's central-directory reader must find (name, CRC-32,
compressed and uncompressed size, method, start and end of the entry's bytes)
or the single word "refused". Run it again only to change the vectors."""

import io
import struct
import sys
import tempfile
import zipfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parents[2] / "tools" / "release"))
from release_tool.package import write_package  # noqa: E402

CONTENT = {"readme.txt": b"stored text\r\n" * 3, "data/ledger.bin": bytes(range(256)) * 40,
           "\u06af\u0632\u0627\u0631\u0634.txt": "\u0646\u06cc\u0631\u0648\u0627".encode() * 50}


def python_zip(comment=b""):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        archive.writestr("readme.txt", CONTENT["readme.txt"], compress_type=zipfile.ZIP_STORED)
        archive.writestr("data/", b"")
        for name in list(CONTENT)[1:]:
            archive.writestr(name, CONTENT[name], compress_type=zipfile.ZIP_DEFLATED)
        archive.comment = comment
    return buffer.getvalue()


def release_tool_zip():
    with tempfile.TemporaryDirectory() as directory:
        folder = Path(directory, "release")
        sources = {}
        for name, data in CONTENT.items():
            (folder / name).parent.mkdir(parents=True, exist_ok=True)
            (folder / name).write_bytes(data)
            sources[name] = folder / name
        sources["data/"] = None
        write_package(dict(sorted(sources.items())), Path(directory, "nirva.zip"))
        return Path(directory, "nirva.zip").read_bytes()


def patched(data, position_of, fmt, value):
    data = bytearray(data)
    struct.pack_into(fmt, data, position_of(data), value)
    return bytes(data)


def end(data):
    return data.rindex(b"PK\x05\x06")


def directory_entry(index):
    def position(data):
        at = data.index(b"PK\x01\x02")
        for _ in range(index):
            at = data.index(b"PK\x01\x02", at + 4)
        return at
    return position


def listing(data):
    with zipfile.ZipFile(io.BytesIO(data)) as archive:
        infos = sorted(archive.infolist(), key=lambda info: info.header_offset)
        directory_start = struct.unpack_from("<I", data, end(data) + 16)[0]
        ends = [info.header_offset for info in infos[1:]] + [directory_start]
        return "".join(f"{info.orig_filename}\t{info.CRC}\t{info.compress_size}\t{info.file_size}\t"
                       f"{info.compress_type}\t{info.header_offset}\t{stop}\n" for info, stop in zip(infos, ends))


def main():
    good = python_zip()
    vectors = {
        "python_zipfile": (good, True),
        "release_tool": (release_tool_zip(), True),
        "comment_after_end_record": (python_zip(b"a comment holding PK\x05\x06 and more"), True),
        "zip64_size_marker": (patched(good, lambda d: directory_entry(1)(d) + 20, "<I", 0xFFFFFFFF), False),
        "directory_runs_past_end_record": (patched(good, lambda d: end(d) + 12, "<I",
                                                   struct.unpack_from("<I", good, end(good) + 12)[0] + 1), False),
        "overlapping_entries": (patched(good, lambda d: directory_entry(2)(d) + 42, "<I", 0), False),
        "encrypted_entry": (patched(good, lambda d: directory_entry(0)(d) + 8, "<H", 1), False),
        "second_disk": (patched(good, lambda d: end(d) + 4, "<H", 1), False),
        "truncated": (good[:-10], False),
        "not_a_zip": (b"<html>502 Bad Gateway</html>\n" * 4, False),
    }
    for name, (data, readable) in vectors.items():
        (HERE / f"{name}.zip").write_bytes(data)
        # zipfile itself takes the signature in that comment for the end record.
        listed = good if name == "comment_after_end_record" else data
        (HERE / f"{name}.tsv").write_text(listing(listed) if readable else "refused\n", encoding="utf-8")


if __name__ == "__main__":
    main()
