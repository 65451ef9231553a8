#!/usr/bin/env python3
"""Writes the packages of this folder: one release folder packed by other
zip tools, as vendors with a packaging step of their own make them, and
packages.tsv, what the updater must make of each (the paths it unpacks, or
the rule that refuses the package). Needs the tools (Debian's 7zip, zip,
libarchive-tools; npm's jszip in NODE_PATH); the tests only read the files,
so run it again only to change them. The tools' versions are in the table."""

import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
PERSIAN = "\u06af\u0632\u0627\u0631\u0634\u200c\u0647\u0627/\u0633\u0627\u0644 \u06f1\u06f4\u06f0\u06f3.txt"
FILES = {"nirva_acc.exe": b"MZ" + bytes(range(256)) * 8, "data/ledger.txt": b"ledger line\r\n" * 300,
         PERSIAN: "\u0646\u06cc\u0631\u0648\u0627".encode() * 40}
NODE = """const JSZip = require("jszip"), fs = require("fs"), path = require("path");
const zip = new JSZip();
for (const name of process.argv.slice(2)) zip.file(name, fs.readFileSync(name), {compression: "DEFLATE"});
zip.generateAsync({type: "nodebuffer", platform: "DOS"}).then(data => fs.writeFileSync(process.argv[1], data));
"""


def run(command, folder, **environment):
    subprocess.run(command, cwd=folder, check=True, stdout=subprocess.DEVNULL,
                   env={**os.environ, **environment})


def python_zip(folder, target, streamed):
    with open(target, "wb") as raw:
        # A stream that cannot seek makes zipfile write a data descriptor after each entry.
        sink = raw if not streamed else type("Stream", (io.RawIOBase,), {
            "writable": lambda self: True, "write": lambda self, data: raw.write(data)})()
        with zipfile.ZipFile(sink, "w", zipfile.ZIP_DEFLATED) as archive:
            for name in sorted(FILES):
                archive.write(folder / name, name)


def with_unicode_path_fields(data, stale=False):
    """The package with a Unicode path extra field (0x7075) added to each central directory entry whose
    name is not ASCII, as tools that write names in a code page do; stale: its CRC-32 is of another name."""
    end = data.rindex(b"PK\x05\x06")
    start, = struct.unpack_from("<I", data, end + 16)
    entries, position = [], start
    while position < end:
        name_length, extra_length, comment_length = struct.unpack_from("<HHH", data, position + 28)
        record = bytearray(data[position:position + 46 + name_length + extra_length + comment_length])
        name = bytes(record[46:46 + name_length])
        if any(byte > 0x7F for byte in name):
            crc = zipfile.crc32(name + (b"x" if stale else b""))
            field = struct.pack("<HHBI", 0x7075, 5 + len(name), 1, crc) + name
            record[46 + name_length + extra_length:46 + name_length + extra_length] = field
            struct.pack_into("<H", record, 30, extra_length + len(field))
        entries.append(bytes(record))
        position += 46 + name_length + extra_length + comment_length
    directory = b"".join(entries)
    tail = bytearray(data[end:])
    struct.pack_into("<I", tail, 12, len(directory))
    return data[:start] + directory + bytes(tail)


def main():
    with tempfile.TemporaryDirectory() as directory:
        folder = Path(directory, "release")
        for name, data in FILES.items():
            (folder / name).parent.mkdir(parents=True, exist_ok=True)
            (folder / name).write_bytes(data)
        out = Path(directory, "out")
        out.mkdir()
        names = sorted(FILES)
        tools = {
            "7zip": lambda target: run(["7zz", "a", "-tzip", str(target), "."], folder),
            "infozip": lambda target: run(["zip", "-r", str(target), "."], folder, LC_ALL="C.UTF-8"),
            "bsdtar": lambda target: run(["bsdtar", "--format", "zip", "-cf", str(target), "."], folder),
            "python_zipfile": lambda target: python_zip(folder, target, False),
            "python_zipfile_streamed": lambda target: python_zip(folder, target, True),
            "node_jszip": lambda target: run(["node", "-e", NODE, str(target), *names], folder),
        }
        for name, make in tools.items():
            make(out / f"{name}.zip")
            shutil.copyfile(out / f"{name}.zip", HERE / f"{name}.zip")
        infozip = (out / "infozip.zip").read_bytes()
        (HERE / "infozip_unicode_path_field.zip").write_bytes(with_unicode_path_fields(infozip))
        (HERE / "infozip_stale_unicode_path_field.zip").write_bytes(with_unicode_path_fields(infozip, stale=True))
    print("written; fill in packages.tsv from what the updater should make of each", file=sys.stderr)


if __name__ == "__main__":
    main()
