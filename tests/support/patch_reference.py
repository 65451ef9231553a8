"""A reference applier of the release tool's patch container, written from its
description (tools/release/release_tool/patches.py) and as strict as the
updater's must be: it refuses, rather than reads or writes outside a buffer,
whatever the header and the control triples say."""

import struct
import zlib

HEADER = struct.Struct("<8sIQQII6Q")
TRIPLE = struct.Struct("<qqq")


class Refused(Exception):
    pass


def _inflate(data: bytes, size: int) -> bytes:
    inflater = zlib.decompressobj(-15)
    try:
        out = inflater.decompress(data, size + 1)
    except zlib.error as error:
        raise Refused(f"stream does not inflate: {error}")
    if len(out) != size or not inflater.eof or inflater.unused_data:
        raise Refused("stream is not its stated length")
    return out


def _streams(old: bytes, patch: bytes) -> tuple[int, int, bytes, bytes, bytes]:
    if len(patch) < HEADER.size:
        raise Refused("shorter than the header")
    magic, version, old_size, new_size, old_crc, new_crc, *lengths = HEADER.unpack_from(patch)
    if (magic, version) != (b"NIRVAPAT", 1):
        raise Refused("not a patch of format 1")
    if old_size != len(old) or zlib.crc32(old) != old_crc:
        raise Refused("made for another old entry")
    compressed, sizes = lengths[:3], lengths[3:]
    if (HEADER.size + sum(compressed) != len(patch) or sizes[0] % TRIPLE.size or new_size != sizes[1] + sizes[2]
            or sizes[0] // TRIPLE.size > new_size + 1):
        raise Refused("lengths do not add up")
    starts = [HEADER.size, HEADER.size + compressed[0], HEADER.size + compressed[0] + compressed[1]]
    control, diff, extra = (_inflate(patch[start:start + length], size)
                            for start, length, size in zip(starts, compressed, sizes))
    return new_size, new_crc, control, diff, extra


def apply_patch(old: bytes, patch: bytes) -> bytes:
    new_size, new_crc, control, diff, extra = _streams(old, patch)
    new = bytearray()
    old_at = diff_at = extra_at = 0
    for add, copy, seek in TRIPLE.iter_unpack(control):
        if (add < 0 or copy < 0 or old_at + add > len(old) or diff_at + add > len(diff)
                or extra_at + copy > len(extra) or len(new) + add + copy > new_size):
            raise Refused("a control triple runs outside a buffer")
        new += bytes((a + b) & 0xFF for a, b in zip(diff[diff_at:diff_at + add], old[old_at:old_at + add]))
        new += extra[extra_at:extra_at + copy]
        diff_at, extra_at, old_at = diff_at + add, extra_at + copy, old_at + add + seek
        if not 0 <= old_at <= len(old):
            raise Refused("a seek leaves the old entry")
    if len(new) != new_size or zlib.crc32(new) != new_crc:
        raise Refused("does not rebuild the new entry")
    return bytes(new)
