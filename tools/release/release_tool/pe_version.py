"""ProductVersion of a Windows executable, found as the updater's GetFileVersionInfo / VerQueryValue find it."""

import struct
from collections.abc import Iterator
from pathlib import Path

RT_VERSION = 16
VS_VERSION_INFO_ID = 1
RESOURCE_DIRECTORY_INDEX = 2


class NoVersionResource(Exception):
    pass


def _rva_to_offset(sections: list[tuple[int, ...]], rva: int) -> int:
    for virtual_size, virtual_address, raw_size, raw_pointer in sections:
        if virtual_address <= rva < virtual_address + max(virtual_size, raw_size):
            return raw_pointer + rva - virtual_address
    raise NoVersionResource(f"address 0x{rva:x} lies in no section")


def _version_resource_bytes(image: bytes) -> bytes:
    try:
        if image[:2] != b"MZ":
            raise NoVersionResource("not a Windows executable")
        pe = struct.unpack_from("<I", image, 0x3C)[0]
        if image[pe:pe + 4] != b"PE\0\0":
            raise NoVersionResource("not a Windows executable")
        section_count, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
        optional = pe + 24
        magic = struct.unpack_from("<H", image, optional)[0]
        directories = optional + {0x10B: 96, 0x20B: 112}[magic]
        directory_count = struct.unpack_from("<I", image, directories - 4)[0]
        if directory_count <= RESOURCE_DIRECTORY_INDEX:
            raise NoVersionResource("no resource section")
        resource_rva, resource_size = struct.unpack_from("<II", image, directories + 8 * RESOURCE_DIRECTORY_INDEX)
        if not resource_rva or not resource_size:
            raise NoVersionResource("no resource section")
        sections = [struct.unpack_from("<IIII", image, optional + optional_size + 40 * index + 8)
                    for index in range(section_count)]
        root = _rva_to_offset(sections, resource_rva)

        def first_subdirectory(directory: int, wanted: int | None = None) -> int | None:
            named, numbered = struct.unpack_from("<HH", image, directory + 12)
            for index in range(named + numbered):
                name, target = struct.unpack_from("<II", image, directory + 16 + 8 * index)
                if wanted is None or name == wanted:
                    return target
            return None

        level = first_subdirectory(root, RT_VERSION)
        for wanted in (VS_VERSION_INFO_ID, None):
            if level is None or not level & 0x80000000:
                raise NoVersionResource("no version resource")
            level = first_subdirectory(root + (level & 0x7FFFFFFF), wanted)
        if level is None or level & 0x80000000:
            raise NoVersionResource("no version resource")
        data_rva, data_size = struct.unpack_from("<II", image, root + level)
        start = _rva_to_offset(sections, data_rva)
        return image[start:start + data_size]
    except (struct.error, KeyError):
        raise NoVersionResource("not a well-formed Windows executable")


def _align4(offset: int) -> int:
    return (offset + 3) & ~3


def _version_blocks(data: bytes, start: int, end: int) -> Iterator[tuple[str, int, int, int]]:
    """Yields (key, value start, children start, block end) for each block
    of a VS_VERSIONINFO level."""
    position = start
    while position + 6 <= end:
        length, value_length, value_type = struct.unpack_from("<HHH", data, position)
        if length < 6:
            return
        block_end = min(position + length, end)
        key_end = position + 6
        while key_end + 1 < block_end and data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[position + 6:key_end].decode("utf-16-le", errors="replace")
        value_start = _align4(key_end + 2)
        value_size = value_length * 2 if value_type == 1 else value_length
        yield key, value_start, _align4(value_start + value_size), block_end
        position = _align4(block_end)


def _child(data: bytes, start: int, end: int, name: str) -> tuple[int, int, int] | None:
    for key, value_start, children, block_end in _version_blocks(data, start, end):
        if key.lower() == name.lower():
            return value_start, children, block_end
    return None


def read_product_version(path: Path) -> str | None:
    """The first translation's ProductVersion, or None when the resource has
    none there; raises NoVersionResource when there is no version resource."""
    data = _version_resource_bytes(path.read_bytes())
    root = _child(data, 0, len(data), "VS_VERSION_INFO")
    if root is None:
        return None
    var_info = _child(data, root[1], root[2], "VarFileInfo")
    translation = var_info and _child(data, var_info[1], var_info[2], "Translation")
    if not translation or translation[0] + 4 > translation[2]:
        return None
    language, code_page = struct.unpack_from("<HH", data, translation[0])
    string_info = _child(data, root[1], root[2], "StringFileInfo")
    table = string_info and _child(data, string_info[1], string_info[2], f"{language:04x}{code_page:04x}")
    value = table and _child(data, table[1], table[2], "ProductVersion")
    if not value:
        return None
    text = data[value[0]:value[2]].decode("utf-16-le", errors="replace")
    return text.split("\0", 1)[0]
