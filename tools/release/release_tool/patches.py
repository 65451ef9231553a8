"""Binary patches from the entries of earlier packages to the new package's.

An office that keeps the previous nirva.zip rebuilds the new one from it; an
entry that changed can then come as a small patch instead of whole: the
updater inflates the old entry, applies the patch, checks the new entry's size
and CRC-32, deflates it with the package's own settings (PACKAGE_DEFLATE) and
checks the compressed size. Any doubt fetches the entry whole, so a missing or
bad patch costs bytes, never the update.

The patch is Debian's bsdiff output (three bzip2 streams) carried over into a
container of our own whose streams are raw deflate, so that the updater needs
only zlib. All numbers are little-endian; the header is 84 bytes:

    offset size
     0      8   magic "NIRVAPAT"
     8      4   format version, 1
    12      8   old size (bytes of the old entry's content)
    20      8   new size
    28      4   old CRC-32
    32      4   new CRC-32
    36      8   control stream, compressed length
    44      8   diff stream, compressed length
    52      8   extra stream, compressed length
    60      8   control stream, uncompressed length (24 bytes per triple)
    68      8   diff stream, uncompressed length
    76      8   extra stream, uncompressed length
    84          the three streams, in this order, each raw deflate; the file
                ends where the extra stream ends

Each control triple is three signed 64-bit numbers (two's complement): add,
copy, seek; there are no more of them than one per byte of new content, and
one more. Starting at old and new position 0, a triple adds the next `add`
bytes of the diff stream to the `add` old bytes at the old position, byte by
byte modulo 256, and writes them at the new position; writes the next `copy`
bytes of the extra stream after them; then moves the old position by `seek`.
A patch is well-formed only when its length is the header's plus the three
compressed lengths, each stream inflates to exactly its uncompressed length,
the new size is the diff and extra lengths together, add and copy are never
negative, every add range lies inside the old content, the old position stays
within 0..old size, no triple reads past the end of the diff or the extra
stream or writes past the new size, and at the end the new position is the
new size. The updater also checks the old entry's size and CRC-32 before it
applies a patch and the new CRC-32 after.
"""

import bz2
import shutil
import struct
import subprocess
import tempfile
import zipfile
import zlib
from dataclasses import dataclass
from pathlib import Path

from .checks import Refusal
from .deflate import PACKAGE_DEFLATE, DeflateSettings

MAGIC = b"NIRVAPAT"
FORMAT_VERSION = 1
HEADER = struct.Struct("<8sIQQII6Q")
TRIPLE = struct.Struct("<qqq")
# The patches folder beside the package, as the updater computes its path: <package url>.patches/<name>.
FOLDER_SUFFIX = ".patches"
# The zlib the updater is built with (Debian's libz-mingw-w64-dev). Its
# recompression must give the package's bytes, and zlib versions may deflate
# differently at the same settings.
UPDATER_ZLIB_VERSION = "1.2.13"
# The updater fetches larger entries whole; bsdiff needs 17 times the old
# entry's size in memory.
MAX_PATCHED_ENTRY = 256 << 20
# A patch must save at least half of the entry's compressed bytes to be kept.
KEEP_BELOW_FRACTION = 0.5
# The streams only need to inflate: raw deflate, as small as zlib makes it.
STREAM_DEFLATE = DeflateSettings(level=9, window_bits=-15, memory_level=9, strategy=zlib.Z_DEFAULT_STRATEGY)
BSDIFF_MAGIC = b"BSDIFF40"


class PatchError(Exception):
    pass


def patch_name(old_crc: int, new_crc: int) -> str:
    return f"{old_crc:08x}-{new_crc:08x}"


def previous_problems(previous: list[Path]) -> list[str]:
    """Why patches cannot be made here from these packages."""
    problems = []
    if zlib.ZLIB_RUNTIME_VERSION != UPDATER_ZLIB_VERSION:
        problems.append(f"previous: this Python's zlib is {zlib.ZLIB_RUNTIME_VERSION}, the updater's "
                        f"{UPDATER_ZLIB_VERSION}; its recompression would not give the package's bytes")
    if shutil.which("bsdiff") is None:
        problems.append("previous: the bsdiff command is not installed (Debian package bsdiff)")
    for path in previous:
        try:
            with zipfile.ZipFile(path):
                pass
        except (OSError, zipfile.BadZipFile) as error:
            problems.append(f"previous: {path} is not a readable zip ({error})")
    return problems


def _sign_magnitude(data: bytes, offset: int) -> int:
    """bsdiff's numbers: 63 bits of magnitude, little-endian, and a sign bit on top."""
    value = int.from_bytes(data[offset:offset + 8], "little")
    return -(value & ~(1 << 63)) if value >> 63 else value


def read_bsdiff(data: bytes) -> tuple[list[tuple[int, int, int]], bytes, bytes, int]:
    """Control triples, diff and extra bytes, and the new size of a BSDIFF40 patch."""
    if len(data) < 32 or not data.startswith(BSDIFF_MAGIC):
        raise PatchError("bsdiff wrote no BSDIFF40 patch")
    control_length, diff_length, new_size = (_sign_magnitude(data, offset) for offset in (8, 16, 24))
    ends = [32, 32 + control_length, 32 + control_length + diff_length, len(data)]
    try:
        control, diff, extra = (bz2.decompress(data[ends[i]:ends[i + 1]]) for i in range(3))
    except (OSError, ValueError) as error:
        raise PatchError(f"bsdiff's patch does not decompress: {error}")
    if len(control) % 24:
        raise PatchError("bsdiff's control block is not whole triples")
    triples = [tuple(_sign_magnitude(control, at + 8 * i) for i in range(3)) for at in range(0, len(control), 24)]
    return triples, diff, extra, new_size


def control_fits(triples: list[tuple[int, int, int]], old_size: int, new_size: int, diff: int, extra: int) -> bool:
    """Whether the triples keep every read and write inside the buffers and streams, as the updater demands;
    bsdiff writes at most one per byte of new content, and one more."""
    if len(triples) > new_size + 1:
        return False
    old = new = diff_used = extra_used = 0
    for add, copy, seek in triples:
        if add < 0 or copy < 0 or old + add > old_size or new + add + copy > new_size:
            return False
        old, new, diff_used, extra_used = old + add + seek, new + add + copy, diff_used + add, extra_used + copy
        if not 0 <= old <= old_size:
            return False
    return (new, diff_used, extra_used) == (new_size, diff, extra)


def make_patch(old: bytes, new: bytes) -> bytes:
    """Our container for a patch from old to new, made with the bsdiff command."""
    with tempfile.TemporaryDirectory() as directory:
        paths = [Path(directory, name) for name in ("old", "new", "patch")]
        paths[0].write_bytes(old)
        paths[1].write_bytes(new)
        result = subprocess.run(["bsdiff", *map(str, paths)], capture_output=True)
        if result.returncode != 0:
            raise PatchError(f"bsdiff failed: {result.stderr.decode(errors='replace').strip()}")
        triples, diff, extra, new_size = read_bsdiff(paths[2].read_bytes())
    if new_size != len(new) or not control_fits(triples, len(old), len(new), len(diff), len(extra)):
        raise PatchError("bsdiff's control triples run outside the buffers")
    return container(old, new, triples, diff, extra)


def container(old: bytes, new: bytes, triples: list[tuple[int, int, int]], diff: bytes, extra: bytes) -> bytes:
    streams = [b"".join(TRIPLE.pack(*triple) for triple in triples), diff, extra]
    compressed = [STREAM_DEFLATE.deflate(stream) for stream in streams]
    header = HEADER.pack(MAGIC, FORMAT_VERSION, len(old), len(new), zlib.crc32(old), zlib.crc32(new),
                         *map(len, compressed), *map(len, streams))
    return header + b"".join(compressed)


@dataclass
class PatchResults:
    kept: list[str]
    skipped: list[str]


def raw_entry(package: Path, info: zipfile.ZipInfo) -> bytes:
    """The entry's compressed bytes as the package holds them."""
    with package.open("rb") as archive:
        archive.seek(info.header_offset + 26)
        name_length, extra_length = struct.unpack("<HH", archive.read(4))
        archive.seek(name_length + extra_length, 1)
        return archive.read(info.compress_size)


def _patch_entry(old: bytes, new: bytes, name: str, info: zipfile.ZipInfo, package: Path) -> tuple[bytes | None, str]:
    """The patch for one changed entry, or None and why there is none."""
    if not old or not new or max(len(old), len(new)) > MAX_PATCHED_ENTRY:
        return None, f"{name}: empty or beyond {MAX_PATCHED_ENTRY >> 20} MiB, fetched whole"
    try:
        patch = make_patch(old, new)
    except PatchError as error:
        return None, f"{name}: {error}"
    if len(patch) >= info.compress_size * KEEP_BELOW_FRACTION:
        return None, f"{name}: {len(patch)} bytes, not under half of the entry's {info.compress_size} bytes"
    if PACKAGE_DEFLATE.deflate(new) != raw_entry(package, info):
        # Every patch would then fail the updater's size check: a build fault, not a lost saving.
        raise Refusal([f"previous: {info.filename} in the new package is not what deflating it with the "
                       "package's settings gives; the updater could not rebuild it from a patch"])
    return patch, f"{name}: {len(patch)} bytes for the entry's {info.compress_size} bytes"


def _changed_entries(old_archive: zipfile.ZipFile, new_entries: dict[str, zipfile.ZipInfo]):
    """(old entry, new entry) for each file both hold with another CRC-32."""
    for old_info in old_archive.infolist():
        info = new_entries.get(old_info.filename)
        if info is not None and not old_info.is_dir() and old_info.CRC != info.CRC:
            yield old_info, info


def write_patches(package: Path, previous: list[Path], folder: Path) -> PatchResults:
    """Patches into folder for every entry of package whose name one of the
    previous packages holds with another CRC-32; one per pair of CRC-32s."""
    shutil.rmtree(folder, ignore_errors=True)  # left by a run that was killed
    folder.mkdir()
    results, tried = PatchResults([], []), set()
    with zipfile.ZipFile(package) as new_archive:
        new_entries = {info.filename: info for info in new_archive.infolist() if not info.is_dir()}
        for path in previous:
            with zipfile.ZipFile(path) as old_archive:
                for old_info, info in _changed_entries(old_archive, new_entries):
                    name = patch_name(old_info.CRC, info.CRC)
                    if name in tried:
                        continue
                    tried.add(name)
                    try:
                        old = old_archive.read(old_info)
                    except (zipfile.BadZipFile, NotImplementedError, zlib.error) as error:
                        raise Refusal([f"previous: {path}: {old_info.filename} cannot be read ({error})"])
                    patch, note = _patch_entry(old, new_archive.read(info), f"{info.filename} ({name})", info, package)
                    if patch is not None:
                        (folder / name).write_bytes(patch)
                    (results.kept if patch is not None else results.skipped).append(note)
    return results
