#!/usr/bin/env python3
"""Build a NIRVA release: the update package nirva.zip and its manifest.json.

The updater does not parse JSON. It finds each field by searching for the
quoted key and takes the text up to the next quotation mark, so this tool only
writes values that such a reader gets back exactly, and proves it by reading
its own output with the same rules before it keeps anything.
"""

import argparse
import datetime
import hashlib
import json
import os
import re
import struct
import sys
import zipfile
from pathlib import Path

APPLICATION_EXE = "nirva_acc.exe"
PACKAGE_NAME = "nirva.zip"
MANIFEST_NAME = "manifest.json"

# The order in which the updater's record holds the fields.
FIELDS = ("version", "url", "sha256", "notes", "releaseDate", "uploadDate", "mandatory")

# Notes go last: a notes text equal to a key's name (say, just "url") would
# otherwise stand before that key and catch the updater's search for it.
WRITE_ORDER = ("version", "url", "sha256", "releaseDate", "uploadDate", "mandatory", "notes")

INT32_MAX = 2147483647
MAX_VERSION_PARTS = 4
URL_PATH_SEARCH_START = 8
ZIP_TIMESTAMP = (1980, 1, 1, 0, 0, 0)
MSDOS_DIRECTORY_ATTRIBUTE = 0x10
MSDOS_ARCHIVE_ATTRIBUTE = 0x20
RELEASE_DATE_FORMAT = "%Y-%m-%d"
UPLOAD_DATE_FORMAT = "%Y-%m-%dT%H:%M:%SZ"

VERSION_PATTERN = re.compile(r"[0-9]+(\.[0-9]+)*(\+[0-9]+)?", re.ASCII)
VALUE_START = re.compile(r'["tfn0-9]', re.ASCII)
SCANNED_NUMBER = re.compile(r"[+-]?[0-9]+", re.ASCII)
# What swscanf's %d skips in the C locale.
SCAN_SPACE = " \t\n\v\f\r"


class Refusal(Exception):
    """Inputs or outputs that would not reach every client intact."""

    def __init__(self, problems):
        super().__init__("\n".join(problems))
        self.problems = list(problems)


# ---------------------------------------------------------------------------
# The updater's manifest reader, rule for rule.

def manifest_value(text, key):
    needle = '"' + key + '"'
    key_position = text.find(needle)
    if key_position < 0:
        return ""
    colon = text.find(":", key_position)
    if colon < 0:
        return ""
    start = VALUE_START.search(text, colon)
    if start is None:
        return ""
    position = start.start()
    if text[position] == '"':
        closing = text.find('"', position + 1)
        return text[position + 1:] if closing < 0 else text[position + 1:closing]
    if text.startswith("true", position):
        return "true"
    if text.startswith("false", position):
        return "false"
    return ""


def read_manifest(text):
    record = {key: manifest_value(text, key) for key in FIELDS[:-1]}
    record["mandatory"] = manifest_value(text, "mandatory") == "true"
    return record


# ---------------------------------------------------------------------------
# Version numbers as the updater compares them: "+" read as ".", then
# swscanf with "%d.%d.%d.%d", parts it does not reach staying 0.

def parse_version(text):
    text = text.replace("+", ".")
    parts = [0, 0, 0, 0]
    position = 0
    for index in range(MAX_VERSION_PARTS):
        if index > 0:
            if not text.startswith(".", position):
                break
            position += 1
        while position < len(text) and text[position] in SCAN_SPACE:
            position += 1
        match = SCANNED_NUMBER.match(text, position)
        if match is None:
            break
        parts[index] = int(match.group())
        position = match.end()
    return tuple(parts)


def format_parts(parts):
    return ".".join(str(part) for part in parts)


# ---------------------------------------------------------------------------
# Field rules.

def reader_safety_problems(field, value):
    problems = []
    if '"' in value:
        problems.append(f'{field}: contains a quotation mark ("); the updater would cut the value there')
    if "\\" in value:
        problems.append(f"{field}: contains a backslash; the updater decodes no escapes")
    return problems


def version_problems(version):
    problems = reader_safety_problems("version", version)
    if problems:
        return problems
    if not VERSION_PATTERN.fullmatch(version):
        return [f"version: {version!r} is not dotted numbers with an optional +build "
                "(such as 4.1.0.12 or 4.1.0+12)"]
    parts = re.split(r"[.+]", version)
    if len(parts) > MAX_VERSION_PARTS:
        return [f"version: {version} has {len(parts)} parts counting the build number; "
                f"the updater reads only {MAX_VERSION_PARTS}"]
    too_large = [part for part in parts if int(part) > INT32_MAX]
    if too_large:
        return [f"version: part {too_large[0]} is beyond {INT32_MAX}, the largest the updater reads"]
    if not any(int(part) for part in parts):
        return [f"version: {version} is never newer than any installed version"]
    return []


def url_problems(url):
    problems = reader_safety_problems("url", url)
    if problems:
        return problems
    if not url.startswith("https://"):
        return [f"url: {url!r} does not start with https://"]
    unfit = sorted({c for c in url if not ("!" <= c <= "~") or c == "#"})
    if unfit:
        return [f"url: contains {', '.join(repr(c) for c in unfit)}; "
                "the updater sends the path unescaped (percent-encode it)"]
    path_start = url.find("/", URL_PATH_SEARCH_START)
    if path_start == URL_PATH_SEARCH_START:
        return [f"url: {url} has no host"]
    if path_start < 0 or url[path_start:] == "/":
        return [f"url: {url} has no path after the host; "
                "the updater requests only the path, from its own server"]
    return []


def sha256_problems(sha256):
    if re.fullmatch(r"[0-9a-f]{64}", sha256, re.ASCII):
        return []
    return ["sha256: is not 64 lower-case hexadecimal digits"]


def notes_problems(notes):
    problems = reader_safety_problems("notes", notes)
    if not notes.strip():
        problems.append("notes: empty")
    unpaired = re.sub(r"\r\n", "", notes)
    if "\r" in unpaired or "\n" in unpaired:
        problems.append("notes: has a line break that is not CR LF; the notes box would not break the line")
    controls = sorted({f"U+{ord(c):04X}" for c in unpaired if ord(c) < 0x20 and c not in "\t\r\n"})
    if controls:
        problems.append(f"notes: contains control characters {', '.join(controls)}")
    return problems


def date_problems(field, value):
    controls = [c for c in value if ord(c) < 0x20]
    return reader_safety_problems(field, value) + ([f"{field}: contains a control character"] if controls else [])


def field_problems(fields):
    problems = version_problems(fields["version"])
    problems += url_problems(fields["url"])
    problems += sha256_problems(fields["sha256"])
    problems += notes_problems(fields["notes"])
    problems += date_problems("releaseDate", fields["releaseDate"])
    problems += date_problems("uploadDate", fields["uploadDate"])
    return problems


def notes_from_file(path):
    """The notes text with every line break as CR LF, the form the Windows
    edit control breaks lines on."""
    try:
        raw = Path(path).read_bytes()
    except OSError as error:
        raise Refusal([f"notes: cannot read {path}: {error.strerror}"])
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as error:
        raise Refusal([f"notes: {path} is not UTF-8 (byte {error.start})"])
    text = text.removeprefix("\ufeff").strip()
    return re.sub(r"\r\n|\r|\n", "\r\n", text)


# ---------------------------------------------------------------------------
# The manifest text.

def render_manifest(fields):
    lines = []
    for key in WRITE_ORDER:
        value = fields[key]
        rendered = ("true" if value else "false") if key == "mandatory" else f'"{value}"'
        lines.append(f'  "{key}": {rendered}')
    return "{\n" + ",\n".join(lines) + "\n}\n"


def _shown(value):
    if isinstance(value, bool):
        return "true" if value else "false"
    return "'" + re.sub(r"\r\n|\r|\n", "\u21b5", value) + "'"


def misread_fields(text, intended):
    """Names every field the updater would read differently from `intended`."""
    read_back = read_manifest(text)
    problems = []
    for key in FIELDS:
        if read_back[key] != intended[key]:
            problems.append(f"{key}: the updater reads {_shown(read_back[key])} "
                            f"where {_shown(intended[key])} is meant")
    return problems


def check_manifest_text(text):
    """Problems of an existing manifest: what a JSON parser finds in it
    against what the updater reads, then the field rules."""
    def unique_pairs(pairs):
        seen = {}
        for key, value in pairs:
            if key in seen:
                duplicates.append(key)
            else:
                seen[key] = value
        return seen

    duplicates = []
    try:
        document = json.loads(text.removeprefix("\ufeff"), strict=False, object_pairs_hook=unique_pairs)
    except json.JSONDecodeError as error:
        return [f"not JSON: {error}"]
    if not isinstance(document, dict):
        return ["not a JSON object"]
    problems = [f"{key}: occurs more than once" for key in dict.fromkeys(duplicates)]
    intended = {}
    for key in FIELDS:
        expected_type = bool if key == "mandatory" else str
        if key not in document:
            problems.append(f"{key}: missing")
        elif not isinstance(document[key], expected_type):
            kind = "true or false" if expected_type is bool else "a string"
            problems.append(f"{key}: {json.dumps(document[key], ensure_ascii=False)} is not {kind}")
        else:
            intended[key] = document[key]
    if problems:
        return problems
    misread = misread_fields(text, intended)
    if misread:
        return misread
    return field_problems(intended)


# ---------------------------------------------------------------------------
# The version resource of nirva_acc.exe, found the way the updater's
# GetFileVersionInfo / VerQueryValue calls find it.

RT_VERSION = 16
VS_VERSION_INFO_ID = 1
RESOURCE_DIRECTORY_INDEX = 2


class NoVersionResource(Exception):
    pass


def _rva_to_offset(sections, rva):
    for virtual_size, virtual_address, raw_size, raw_pointer in sections:
        if virtual_address <= rva < virtual_address + max(virtual_size, raw_size):
            return raw_pointer + rva - virtual_address
    raise NoVersionResource(f"address 0x{rva:x} lies in no section")


def _version_resource_bytes(image):
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

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", image, directory + 12)
            for index in range(named + numbered):
                yield struct.unpack_from("<II", image, directory + 16 + 8 * index)

        def first_subdirectory(directory, wanted=None):
            for name, target in entries(directory):
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


def _align4(offset):
    return (offset + 3) & ~3


def _version_blocks(data, start, end):
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


def _child(data, start, end, name):
    for key, value_start, children, block_end in _version_blocks(data, start, end):
        if key.lower() == name.lower():
            return value_start, children, block_end
    return None


def read_product_version(path):
    """The first translation's ProductVersion, or None when the resource has
    none there; raises NoVersionResource when there is no version resource."""
    data = _version_resource_bytes(Path(path).read_bytes())
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


def product_version_problems(exe, version):
    try:
        product_version = read_product_version(exe)
    except NoVersionResource as reason:
        print(f"note: {APPLICATION_EXE} carries no version resource ({reason}); its version is not checked. "
              "The updater cannot read the installed version of such a release and will offer "
              "an update again on every start.", file=sys.stderr)
        return []
    if product_version is None:
        return [f"{APPLICATION_EXE}: its version resource has no ProductVersion under the first "
                "translation; the updater could not read the installed version"]
    installed, released = parse_version(product_version), parse_version(version)
    if installed != released:
        return [f"version: {APPLICATION_EXE} says ProductVersion {product_version} "
                f"({format_parts(installed)}) but the release is {version} ({format_parts(released)})"]
    return []


# ---------------------------------------------------------------------------
# The package.

def release_entries(folder):
    """Relative paths of every directory and file, sorted, in zip form."""
    entries = []
    problems = []
    for current, directories, files in os.walk(folder):
        for name in directories + files:
            path = Path(current, name)
            relative = path.relative_to(folder).as_posix()
            if path.is_symlink():
                problems.append(f"folder: {relative} is a symbolic link")
            elif path.is_dir():
                entries.append(relative + "/")
            elif path.is_file():
                entries.append(relative)
            else:
                problems.append(f"folder: {relative} is not a regular file")
    entries.sort()
    # Windows folds case: two names that differ only in case would overwrite each other.
    seen = {}
    for entry in entries:
        other = seen.setdefault(entry.lower(), entry)
        if other != entry:
            problems.append(f"folder: {other} and {entry} differ only in letter case")
    if problems:
        raise Refusal(sorted(problems))
    return entries


def write_package(folder, entries, target):
    # Only the content and names reach the archive: fixed order, time stamp
    # and MS-DOS attributes (it is unpacked on Windows), no extra fields.
    with zipfile.ZipFile(target, "w") as archive:
        for entry in entries:
            info = zipfile.ZipInfo(entry, ZIP_TIMESTAMP)
            info.create_system = 0
            if entry.endswith("/"):
                info.external_attr = MSDOS_DIRECTORY_ATTRIBUTE
                archive.writestr(info, b"")
                continue
            info.external_attr = MSDOS_ARCHIVE_ATTRIBUTE
            info.compress_type = zipfile.ZIP_DEFLATED
            source_path = Path(folder, entry)
            info.file_size = source_path.stat().st_size
            with open(source_path, "rb") as source, archive.open(info, "w") as destination:
                while chunk := source.read(1 << 20):
                    destination.write(chunk)


def file_sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as source:
        while chunk := source.read(1 << 20):
            digest.update(chunk)
    return digest.hexdigest()


def verify_output(package, manifest, fields, entries):
    problems = []
    with zipfile.ZipFile(package) as archive:
        if archive.namelist() != entries or archive.testzip() is not None:
            problems.append(f"{PACKAGE_NAME}: does not read back as written")
    raw = Path(manifest).read_bytes()
    if raw.startswith(b"\xef\xbb\xbf"):
        problems.append(f"{MANIFEST_NAME}: starts with a byte-order mark")
    return problems + misread_fields(raw.decode("utf-8"), fields)


def publish(folder, fields, out_dir):
    out_dir.mkdir(parents=True, exist_ok=True)
    entries = release_entries(folder)
    package = out_dir / PACKAGE_NAME
    manifest = out_dir / MANIFEST_NAME
    package_part = out_dir / (PACKAGE_NAME + ".part")
    manifest_part = out_dir / (MANIFEST_NAME + ".part")
    try:
        write_package(folder, entries, package_part)
        fields = dict(fields, sha256=file_sha256(package_part))
        manifest_part.write_bytes(render_manifest(fields).encode("utf-8"))
        problems = verify_output(package_part, manifest_part, fields, entries)
        if problems:
            raise Refusal(problems)
        os.replace(package_part, package)
        os.replace(manifest_part, manifest)
    finally:
        package_part.unlink(missing_ok=True)
        manifest_part.unlink(missing_ok=True)
    return fields, package, manifest


# ---------------------------------------------------------------------------
# Command line.

DESCRIPTION = """\
Builds nirva.zip (the release folder's content at the archive root) and
manifest.json for it, refusing anything the updater would not read back exactly.
nirva.zip is the same bytes for the same folder content (sorted entries, fixed
time stamps and attributes), given the same Python and zlib.

The updater reads the manifest by searching for each quoted key and taking the
text up to the next quotation mark, without decoding escapes. So no value may
hold a quotation mark or a backslash, Persian text is written as plain UTF-8,
and the tool reads its own manifest back with those rules before keeping it.

Line breaks in the notes: every line break of the notes file (LF, CR or CR LF)
is written as a raw CR LF inside the notes string, because the updater shows
the notes as they are and the Windows edit control breaks lines only on CR LF.
A JSON escape such as \\n would be shown as a backslash and an n. Raw line
breaks make the manifest invalid strict JSON; the updater does not mind, and
lenient parsers (Python's json with strict=False) accept it. Leading and
trailing white space and a UTF-8 byte-order mark are dropped from the notes.

Versions are dotted numbers with an optional +build (4.1.0.12, 4.1.0+12), at
most four numbers counting the build, each at most 2147483647: the updater
reads "+" as "." and exactly four signed 32-bit parts; all zeros is refused,
as it is never newer. When nirva_acc.exe carries a version resource, its
ProductVersion must be the same version (compared as the updater compares
them), or clients would update forever or never. An exe without a version
resource is accepted with a note.

The url must be https:// with a path after the host. The updater requests only
that path, from its own update server; the host in the url is not contacted.

Dates: releaseDate is YYYY-MM-DD (default: the upload day); uploadDate is
YYYY-MM-DDTHH:MM:SSZ in UTC (default: now).

With --check-manifest FILE, reads an existing manifest both as JSON and as the
updater does, and names every field the updater would misread or the rules
above refuse.

Exit status: 0 done, 1 refused (nothing new is left in the output folder),
2 bad usage."""


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        prog="nirva_release.py", description=DESCRIPTION,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("folder", nargs="?", type=Path,
                        help=f"release folder; {APPLICATION_EXE} must be at its root")
    parser.add_argument("--version", help="release version, such as 4.1.0.12 or 4.1.0+12")
    parser.add_argument("--notes", type=Path, help="UTF-8 file with the release notes")
    parser.add_argument("--url", help="public https:// url of nirva.zip")
    parser.add_argument("--out", type=Path, help="output folder for nirva.zip and manifest.json")
    parser.add_argument("--mandatory", action="store_true",
                        help="clients must install this release (default: optional)")
    parser.add_argument("--release-date", type=lambda text: _date(text, RELEASE_DATE_FORMAT),
                        help="YYYY-MM-DD")
    parser.add_argument("--upload-date", type=lambda text: _date(text, UPLOAD_DATE_FORMAT),
                        help="YYYY-MM-DDTHH:MM:SSZ, UTC")
    parser.add_argument("--check-manifest", type=Path, metavar="FILE",
                        help="check an existing manifest instead of building a release")
    arguments = parser.parse_args(argv)
    if arguments.check_manifest is None:
        missing = [name for name in ("folder", "version", "notes", "url", "out")
                   if getattr(arguments, name) is None]
        if missing:
            parser.error("missing " + ", ".join(missing))
    return arguments


def _date(text, pattern):
    try:
        datetime.datetime.strptime(text, pattern)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} does not match {pattern}")
    return text


def check_manifest_command(path):
    try:
        text = path.read_bytes().decode("utf-8")
    except OSError as error:
        raise Refusal([f"cannot read {path}: {error.strerror}"])
    except UnicodeDecodeError as error:
        raise Refusal([f"{path} is not UTF-8 (byte {error.start})"])
    problems = check_manifest_text(text)
    if problems:
        raise Refusal(problems)
    print(f"{path}: every field reads back exactly")


def release_command(arguments):
    folder = arguments.folder
    if not folder.is_dir():
        raise Refusal([f"folder: {folder} is not a folder"])
    exe = folder / APPLICATION_EXE
    problems = []
    if not exe.is_file():
        problems.append(f"folder: {folder} has no {APPLICATION_EXE} at its root")
    out_dir = arguments.out.resolve()
    if out_dir.is_relative_to(folder.resolve()):
        problems.append(f"out: {arguments.out} lies inside the release folder")
    version_refusals = version_problems(arguments.version)
    problems += version_refusals + url_problems(arguments.url)
    try:
        notes = notes_from_file(arguments.notes)
        problems += notes_problems(notes)
    except Refusal as refusal:
        problems += refusal.problems
    if exe.is_file() and not version_refusals:
        problems += product_version_problems(exe, arguments.version)
    if problems:
        raise Refusal(problems)
    upload_date = arguments.upload_date or datetime.datetime.now(datetime.timezone.utc).strftime(UPLOAD_DATE_FORMAT)
    fields = {
        "version": arguments.version,
        "url": arguments.url,
        "notes": notes,
        "releaseDate": arguments.release_date or upload_date[:10],
        "uploadDate": upload_date,
        "mandatory": arguments.mandatory,
    }
    fields, package, manifest = publish(folder, fields, out_dir)
    print(f"{package} ({package.stat().st_size} bytes, sha256 {fields['sha256']})")
    print(f"{manifest} (version {fields['version']}, "
          f"{'mandatory' if fields['mandatory'] else 'optional'}, uploaded {fields['uploadDate']})")


def main(argv=None):
    # Persian paths must not stop a run whose output goes to a narrow code page.
    sys.stdout.reconfigure(errors="backslashreplace")
    arguments = parse_arguments(argv)
    try:
        if arguments.check_manifest is not None:
            check_manifest_command(arguments.check_manifest)
        else:
            release_command(arguments)
    except Refusal as refusal:
        for problem in refusal.problems:
            print(f"refused: {problem}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
