#!/usr/bin/env python3
"""Checks that the updater imports nothing a Windows 7 SP1 lacks.

    check_imports.py EXECUTABLE TABLE    compare its imports with the table
    check_imports.py --list EXECUTABLE   print its imports as table rows
    ... --without TEXT                   and fail when the executable holds
                                         TEXT (as ASCII or UTF-16): a test
                                         switch's name, which a release must lack

Windows refuses to start a program that imports a function its DLL does not
export, so every function the release executable imports, statically or
delay-loaded, must be one whose documented minimum supported client is
Windows 7 or earlier. TABLE (tab-separated: DLL, function, binding, minimum
client, documentation) holds those checked so far. A binding is "static"
(loaded with the program: kernel32 and the C runtime only), "delay" (loaded
from the system directory before its first use) or "run time" (newer than
Windows 7, looked up with GetProcAddress and never imported).

GNU ld leaves the delay-import directory of the PE header empty, and
objdump -p then lists no delay imports; the descriptors are found by
scanning the image, and every slot of the import address table must belong
to an import found, or the check fails rather than miss one.
"""

import argparse
import struct
import sys
from pathlib import Path

WINDOWS_7_OR_EARLIER = ("Windows NT", "Windows 2000", "Windows XP", "Windows Vista", "Windows 7")
NOT_DOCUMENTED = "not documented"
BINDINGS = ("static", "delay", "run time")
IMPORT_DIRECTORY, IAT_DIRECTORY, DELAY_IMPORT_DIRECTORY = 1, 12, 13
ORDINAL_FLAG = 1 << 63


class Image:
    """A PE32+ file, read by relative virtual address."""

    def __init__(self, data):
        self.data = data
        header = struct.unpack_from("<I", data, 0x3C)[0]
        if data[header:header + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        sections, optional_size = struct.unpack_from("<H12xH", data, header + 6)
        optional = header + 24
        if struct.unpack_from("<H", data, optional)[0] != 0x20B:
            raise ValueError("not a 64-bit (PE32+) executable")
        self.directories = [struct.unpack_from("<II", data, optional + 112 + 8 * i) for i in range(16)]
        self.sections = []
        for index in range(sections):
            entry = optional + optional_size + 40 * index
            virtual_size, address, raw_size, raw_offset = struct.unpack_from("<IIII", data, entry + 8)
            self.sections.append((address, min(virtual_size, raw_size), raw_offset))

    def offset(self, rva):
        for address, size, raw_offset in self.sections:
            if address <= rva < address + size:
                return raw_offset + rva - address
        raise ValueError(f"address {rva:#x} is outside the file")

    def string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def word(self, rva):
        return struct.unpack_from("<Q", self.data, self.offset(rva))[0]

    def names(self, table_rva):
        """The functions of a lookup table, ordinals as "#N", up to its terminating zero."""
        names, rva = [], table_rva
        while (entry := self.word(rva)) != 0:
            names.append(f"#{entry & 0xFFFF}" if entry & ORDINAL_FLAG else self.string((entry & 0x7FFFFFFF) + 2))
            rva += 8
        return names


def static_imports(image):
    """(dll, names, address table) of each descriptor of the import directory."""
    found, rva = [], image.directories[IMPORT_DIRECTORY][0]
    while rva:
        lookup, _, _, name, address_table = struct.unpack_from("<5I", image.data, image.offset(rva))
        if name == 0 and address_table == 0:
            break
        found.append((image.string(name), image.names(lookup or address_table), address_table))
        rva += 20
    return found


def delay_descriptor(image, rva):
    """(dll, names, address table) if a delay-import descriptor (RVA-based, unbound) is at rva."""
    attributes, name, module, address_table, lookup, bound, unload, stamp = struct.unpack_from(
        "<8I", image.data, image.offset(rva))
    if attributes != 1 or (bound, unload, stamp) != (0, 0, 0) or 0 in (name, module, address_table, lookup):
        return None
    try:
        dll = image.string(name)
        image.offset(module)
        return (dll, image.names(lookup), address_table) if dll.lower().endswith(".dll") else None
    except (ValueError, UnicodeDecodeError):
        return None


def delay_imports(image):
    rva, size = image.directories[DELAY_IMPORT_DIRECTORY]
    if size:
        candidates = range(rva, rva + size - 32, 32)
    else:
        candidates = (address + step for address, length, _ in image.sections for step in range(0, length - 31, 4))
    return [found for candidate in candidates if (found := delay_descriptor(image, candidate))]


def read_imports(data):
    """Every import as (dll, function, binding); fails if an address slot belongs to none found."""
    image = Image(data)
    imports, claimed = [], set()
    for binding, found in (("static", static_imports(image)), ("delay", delay_imports(image))):
        for dll, names, address_table in found:
            imports += [(dll.lower(), name, binding) for name in names]
            claimed.update(address_table + 8 * i for i in range(len(names) + 1))
    start, size = image.directories[IAT_DIRECTORY]
    unclaimed = [rva for rva in range(start, start + size - 7, 8) if rva not in claimed and image.word(rva)]
    if unclaimed:
        raise ValueError(f"{len(unclaimed)} import address slots, from {unclaimed[0]:#x}, belong to no import "
                         "found: this reader cannot list every import of this file")
    return sorted(set(imports))


def read_table(path):
    """{(dll, function): (binding, minimum client)} of the table's rows."""
    rows = {}
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if not line.strip() or line.startswith("#"):
            continue
        fields = line.split("\t")
        if len(fields) != 5 or fields[2] not in BINDINGS:
            raise ValueError(f"{path}:{number}: expected DLL, function, {'/'.join(BINDINGS)}, "
                             "minimum client and documentation, tab-separated")
        rows[(fields[0].lower(), fields[1])] = (fields[2], fields[3])
    return rows


def problems(imports, rows, table_name):
    """What stops the check, one message each."""
    found = []
    for dll, function, binding in imports:
        row = rows.get((dll, function))
        what = f"{dll} {function} ({binding} import)"
        if row is None:
            found.append(f"{what} is not in {table_name}: check on its Microsoft documentation page that its "
                         "minimum supported client is Windows 7 or earlier, then add a row naming that page; "
                         "a newer function must be looked up at run time (GetProcAddress) instead")
        elif row[0] == "run time":
            found.append(f"{what}: {table_name} keeps it for a run-time lookup, as its minimum client is "
                         f"{row[1]}; imported, it stops the program from starting on older Windows")
        elif row[0] != binding:
            found.append(f"{what}: {table_name} has it as a {row[0]} import. Only kernel32 and the C runtime "
                         "load with the program; any other DLL would be looked for in the office folder first, "
                         "so link it through cmake/DelayLoad.cmake and load it in src/common/system_libraries.cpp")
        elif not row[1].startswith(WINDOWS_7_OR_EARLIER + (NOT_DOCUMENTED,)):
            found.append(f"{what}: {table_name} gives its minimum client as {row[1]}, newer than Windows 7")
    return found


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--list", action="store_true", help="print the imports as table rows and stop")
    parser.add_argument("executable", type=Path)
    parser.add_argument("table", type=Path, nargs="?")
    parser.add_argument("--without", action="append", default=[], metavar="TEXT",
                        help="fail when the executable holds TEXT, in ASCII or UTF-16")
    arguments = parser.parse_args(argv)
    try:
        data = arguments.executable.read_bytes()
        imports = read_imports(data)
        if arguments.list or arguments.table is None:
            print("\n".join(f"{dll}\t{function}\t{binding}" for dll, function, binding in imports))
            return 0
        rows = read_table(arguments.table)
    except (OSError, ValueError) as error:
        print(f"check_imports: {arguments.executable}: {error}", file=sys.stderr)
        return 2
    found = problems(imports, rows, arguments.table.name)
    found += [f"{arguments.executable.name} holds {text!r}: it has a test switch a release must not have"
              for text in arguments.without if text.encode("ascii") in data or text.encode("utf-16-le") in data]
    for message in found:
        print(message, file=sys.stderr)
    imported = {(dll, function) for dll, function, _ in imports}
    gone = sorted(key for key, row in rows.items() if row[0] != "run time" and key not in imported)
    for dll, function in gone:
        print(f"note: {dll} {function} is no longer imported; its row can go")
    if not found:
        undocumented = sum(rows[(dll, function)][1] == NOT_DOCUMENTED for dll, function, _ in imports)
        print(f"{len(imports)} imports of {arguments.executable.name}, all in {arguments.table.name} for "
              f"Windows 7 or earlier ({undocumented} of them with no documented minimum client)")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
