"""--check-package: a package made by any zip tool, read as the updater reads
it (src/archive: the central directory, the entry names, the local headers),
naming each entry the updater would refuse, with the rule in the words of
tests/vectors/entry_names/names.tsv, and each it would read otherwise than
its name says (a "." folder dropped, a name from the Unicode path field)."""

import struct
import zlib
from dataclasses import dataclass
from pathlib import Path

from .checks import APPLICATION_EXE
from .package import RESERVED_NAMES, case_collisions

END_SIGNATURE, DIRECTORY_SIGNATURE, LOCAL_SIGNATURE, ZIP64_LOCATOR = (b"PK\x05\x06", b"PK\x01\x02", b"PK\x03\x04",
                                                                      b"PK\x06\x07")
UTF8_FLAG, DESCRIPTOR_FLAG, ENCRYPTED_FLAGS = 0x0800, 0x0008, 0x0041
UNICODE_PATH_TAG = 0x7075
REFUSED_CHARACTERS = set('<>"|?*')


@dataclass
class Entry:
    name: bytes
    flags: int
    method: int
    crc: int
    compressed: int
    size: int
    start: int
    unicode_path: bytes | None


def _unicode_path(extra: bytes, name: bytes) -> bytes | None:
    """The Unicode path extra field's name when its version is 1 and its CRC-32 is the name's."""
    position = 0
    while position + 4 <= len(extra):
        tag, size = struct.unpack_from("<HH", extra, position)
        data = extra[position + 4:position + 4 + size]
        if len(data) < size:
            break
        if tag == UNICODE_PATH_TAG and size >= 5 and data[0] == 1 and \
                struct.unpack_from("<I", data, 1)[0] == zlib.crc32(name):
            return data[5:]
        position += 4 + size
    return None


def read_directory(data: bytes) -> tuple[list[Entry], int] | str:
    """The entries and where the central directory starts, or why the updater refuses the archive."""
    try:
        return _read_directory(data)
    except struct.error:
        return "the central directory is damaged (it runs past the archive's end)"


def _read_directory(data: bytes) -> tuple[list[Entry], int] | str:
    end = data.rfind(END_SIGNATURE, max(0, len(data) - 22 - 0xFFFF))
    while end >= 0 and (end + 22 > len(data) or end + 22 + struct.unpack_from("<H", data, end + 20)[0] != len(data)):
        end = data.rfind(END_SIGNATURE, max(0, len(data) - 22 - 0xFFFF), end)
    if end < 0:
        return "not a zip archive (no end record)"
    disk, directory_disk, here, count, size, start = struct.unpack_from("<HHHHII", data, end + 4)
    if data[end - 20:end - 16] == ZIP64_LOCATOR or 0xFFFF in (count,) or 0xFFFFFFFF in (size, start):
        return "zip64: the updater reads archives under 4 GiB of the classic format only"
    if disk or directory_disk or here != count or start + size != end:
        return "not a single-disk archive whose central directory ends at its end record"
    entries, position = [], start
    for _ in range(count):
        if data[position:position + 4] != DIRECTORY_SIGNATURE:
            return "the central directory is damaged"
        flags, method, crc, compressed, length = (struct.unpack_from("<HH", data, position + 8)
                                                  + struct.unpack_from("<III", data, position + 16))
        name_length, extra_length, comment_length, disk_start = struct.unpack_from("<HHHH", data, position + 28)
        local, = struct.unpack_from("<I", data, position + 42)
        name = data[position + 46:position + 46 + name_length]
        extra = data[position + 46 + name_length:position + 46 + name_length + extra_length]
        if disk_start or 0xFFFFFFFF in (compressed, length, local):
            return f"{name!r}: zip64 or another disk"
        entries.append(Entry(name, flags, method, crc, compressed, length, local, _unicode_path(extra, name)))
        position += 46 + name_length + extra_length + comment_length
    if position != end:
        return "the central directory is damaged"
    return entries, start


def name_text(entry: Entry) -> tuple[str | None, str | None]:
    """(the name as the updater reads it, None) or (None, the rule that refuses it)."""
    flagged = bool(entry.flags & UTF8_FLAG)
    raw = entry.unicode_path if not flagged and entry.unicode_path is not None else entry.name
    if not flagged and entry.unicode_path is None and any(byte > 0x7F for byte in raw):
        return None, "unflagged"
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError:
        return None, "undecodable"
    return (text, None) if not any(0xD800 <= ord(c) <= 0xDFFF for c in text) else (None, "undecodable")


def without_dot_folders(name: str) -> str:
    """"./a" is "a", "a/./b" is "a/b"; a folder of "." folders only ("./") is the staging folder, ""."""
    folder = name.endswith("/")
    parts = (name[:-1] if folder else name).split("/")
    kept = [part for index, part in enumerate(parts) if part != "." or (index == len(parts) - 1 and not folder)]
    return "/".join(kept) + ("/" if folder and kept else "")


def _component_rule(component: str, first: bool) -> str | None:
    if not component:
        return "empty"
    if component in (".", ".."):
        return "dotfolder" if component == "." else "parent"
    if first and len(component) >= 2 and component[0].isascii() and component[0].isalpha() and component[1] == ":":
        return "drive"
    if ":" in component:
        return "stream"
    if any(ord(c) < 0x20 for c in component):
        return "control"
    if REFUSED_CHARACTERS & set(component):
        return "character"
    if component[-1] in ". ":
        return "trailing"
    if component.split(".")[0].rstrip(" ").upper() in RESERVED_NAMES:
        return "device"
    return None


def name_rule(name: str) -> str | None:
    """The first rule of one name the updater refuses it by, or None."""
    if not name:
        return "empty"
    if name.startswith("/"):
        return "absolute"
    if "\\" in name:
        return "backslash"
    plain = without_dot_folders(name)
    if not plain:
        return None
    for index, component in enumerate(plain.removesuffix("/").split("/")):
        if rule := _component_rule(component, index == 0):
            return rule
    return None


def names_rules(names: list[str]) -> list[tuple[str, str]]:
    """(name, rule) for every name the updater would refuse, then the pairs
    Windows would take for one name (folded both ways, as the folder checks
    fold them), and a file where a folder must be."""
    problems = [(name, rule) for name in names if (rule := name_rule(name))]
    if problems:
        return problems
    plain = [without_dot_folders(name) for name in names if without_dot_folders(name)]
    paths: dict[str, bool] = {}
    for name in plain:
        path = name.removesuffix("/")
        for index in range(len(path)):
            if path[index] == "/":
                if paths.setdefault(path[:index], True) is False:
                    return [(name, "collision")]
        if paths.get(path) is not None and not (paths[path] and name.endswith("/")):
            return [(name, "collision")]
        paths[path] = name.endswith("/")
    expanded = sorted(set(paths))
    return [(f"{first} and {second}", "collision") for first, second in case_collisions(expanded)]


def check_package(path: Path) -> tuple[list[str], list[str]]:
    """(refusals, notes): each entry the updater would refuse, with the rule,
    and each it reads otherwise than the name's own bytes say."""
    try:
        data = path.read_bytes()
    except OSError as error:
        return [f"{path}: cannot be read ({error.strerror})"], []
    directory = read_directory(data)
    if isinstance(directory, str):
        return [f"{path}: {directory}"], []
    entries, directory_start = directory
    refusals, notes, names = [], [], []
    for entry in sorted(entries, key=lambda entry: entry.start):
        shown = entry.name.decode("utf-8", errors="backslashreplace")
        text, rule = name_text(entry)
        if rule:
            refusals.append(f"{shown}: {rule} (a name that is not ASCII needs the UTF-8 flag, or a Unicode "
                            "path field whose CRC-32 matches)" if rule == "unflagged" else f"{shown}: {rule}")
            continue
        names.append(text)
        if text != shown or without_dot_folders(text) != text:
            notes.append(f"{shown}: read as {without_dot_folders(text) or './ (the package root itself)'}")
        if entry.method not in (0, 8):
            refusals.append(f"{text}: method {entry.method} (only stored and deflated entries are unpacked)")
        if entry.flags & ENCRYPTED_FLAGS:
            refusals.append(f"{text}: encrypted")
        if not _local_header_agrees(data, entry):
            refusals.append(f"{text}: its local header does not say what the central directory says")
    refusals += [f"{name}: {rule}" for name, rule in names_rules(names)]
    ends = sorted(entry.start for entry in entries)
    if ends and ends[0] != 0 or any(entry.start >= directory_start for entry in entries):
        refusals.append("the entries do not lie one after another from the archive's start")
    if not refusals and APPLICATION_EXE not in [without_dot_folders(name) for name in names]:
        refusals.append(f"no {APPLICATION_EXE} at the package root")
    return refusals, notes


def _local_header_agrees(data: bytes, entry: Entry) -> bool:
    header = data[entry.start:entry.start + 30]
    if len(header) < 30 or header[:4] != LOCAL_SIGNATURE:
        return False
    flags, method = struct.unpack_from("<HH", header, 6)
    crc, compressed, size, name_length = struct.unpack_from("<IIIH", header, 14)
    # Each may be left zero for a data descriptor after the data.
    sizes_agree = all(found == meant or (entry.flags & DESCRIPTOR_FLAG and found == 0)
                      for found, meant in ((crc, entry.crc), (compressed, entry.compressed), (size, entry.size)))
    return (flags, method) == (entry.flags, entry.method) and sizes_agree and \
        data[entry.start + 30:entry.start + 30 + name_length] == entry.name
