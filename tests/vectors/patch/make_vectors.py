#!/usr/bin/env python3
"""Writes the patch vectors of this folder: NAME.patch in the release tool's
container, and cases.tsv naming for each the old content it applies to and
either the new content it rebuilds or "refused"; and each new content as the
package deflates it (NAME.deflated), which the updater's recompression must
give byte for byte. One patch is made by the tool (with the bsdiff command)
from edited text; the others are built by hand on a small pair, some damaged
on purpose. Run it again only to change them."""

import random
import struct
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parents[2] / "tools" / "release"))
from release_tool.patches import container, make_patch  # noqa: E402
from release_tool.deflate import PACKAGE_DEFLATE  # noqa: E402

# Where the header holds the two CRC-32s, and the control stream's inflated length.
OLD_CRC, NEW_CRC, CONTROL_LENGTH = 28, 32, 60


def edited_pair():
    rng = random.Random(22)
    lines = [f"{rng.randrange(10**6):06d} invoice {index} {'paid' if index % 3 else 'due'}\r\n"
             for index in range(150)]
    old = "".join(lines).encode()
    for index in rng.sample(range(150), 6):
        lines[index] = lines[index].replace("invoice", "receipt")
    return old, "".join(lines[:120] + ["inserted line\r\n"] + lines[120:]).encode()


def with_field(patch, offset, value):
    patch = bytearray(patch)
    struct.pack_into("<I", patch, offset, value)
    return bytes(patch)


def small_cases(old, new):
    """Hand-made patches from old (100 bytes) to new (120 bytes)."""
    diff = bytes((n - o) & 0xFF for n, o in zip(new, old))
    valid = container(old, new, [(100, 20, -100)], diff, new[100:])
    return {
        "hand_made": (valid, "new_small.bin"),
        "add_past_old": (container(old, new, [(0, 10, 0), (110, 0, 0)], diff + b"\0" * 10, new[100:110]), "refused"),
        "copy_past_new": (container(old, new, [(100, 25, 0)], diff, new[100:]), "refused"),
        "seek_before_old": (container(old, new, [(50, 0, -60), (50, 20, 0)], diff, new[100:]), "refused"),
        "wrong_old_crc": (with_field(valid, OLD_CRC, 0x12345678), "refused"),
        "rebuilds_another_crc": (with_field(valid, NEW_CRC, 0x12345678), "refused"),
        "seek_past_old": (container(old, new, [(50, 0, 51), (50, 20, 0)], diff, new[100:]), "refused"),
        "negative_add": (container(old, new, [(-1, 0, 0), (100, 20, 0)], diff, new[100:]), "refused"),
        "huge_copy": (container(old, new, [(100, 2**63 - 1, 0)], diff, new[100:]), "refused"),
        "huge_seek_back": (container(old, new, [(50, 0, -2**63), (50, 20, 0)], diff, new[100:]), "refused"),
        "add_past_diff": (container(old, new, [(100, 20, -100)], diff[:50], diff[50:] + new[100:]), "refused"),
        "ends_short": (container(old, new, [(100, 10, 0)], diff, new[100:]), "refused"),
        "more_triples_than_bytes": (container(old, new, [(0, 0, 0)] * 121 + [(100, 20, 0)], diff, new[100:]),
                                    "refused"),
        "control_longer_than_stated": (with_field(container(old, new, [(100, 20, -100), (0, 0, 0)], diff, new[100:]),
                                                  CONTROL_LENGTH, 24), "refused"),
    }


def main():
    old, new = edited_pair()
    small_old = bytes(range(156, 256))
    small_new = bytes((byte + 1) & 0xFF for byte in small_old) + b"twenty extra bytes!!"
    files = {"old_edited.bin": old, "new_edited.bin": new, "old_small.bin": small_old, "new_small.bin": small_new}
    made = make_patch(old, new)
    cases = {"bsdiff_edits": (made, "old_edited.bin", "new_edited.bin"),
             "truncated": (made[:-1], "old_edited.bin", "refused"),
             "bad_magic": (b"NIRVAPAX" + made[8:], "old_edited.bin", "refused"),
             "format_version_2": (with_field(made, 8, 2), "old_edited.bin", "refused")}
    cases |= {name: (patch, "old_small.bin", verdict) for name, (patch, verdict) in small_cases(small_old, small_new).items()}
    for old_file in HERE.glob("*.patch"):
        old_file.unlink()
    for name, data in files.items():
        (HERE / name).write_bytes(data)
        if name.startswith("new_"):
            (HERE / name).with_suffix(".deflated").write_bytes(PACKAGE_DEFLATE.deflate(data))
    rows = ["# Patch, the old content it is applied to, and the new content it rebuilds",
            "# or \"refused\". Fields are separated by one tab. Written by make_vectors.py."]
    for name, (patch, old_name, verdict) in cases.items():
        (HERE / f"{name}.patch").write_bytes(patch)
        rows.append(f"{name}\t{old_name}\t{verdict}")
    (HERE / "cases.tsv").write_text("\n".join(rows) + "\n")


if __name__ == "__main__":
    main()
