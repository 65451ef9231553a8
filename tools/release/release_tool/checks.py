"""The rules the manifest's fields and the release's executable must meet to be read back exactly."""

import json
import re
import sys
from pathlib import Path

from . import signing
from .pe_version import NoVersionResource, read_product_version
from .reader import (INT32_MAX, KEYS, MAX_VERSION_PARTS, NUMBER_KEYS, Manifest, is_newer, parse_version,
                     read_manifest)

APPLICATION_EXE = "nirva_acc.exe"
UPDATER_EXE = "nirva_updater.exe"
URL_PATH_SEARCH_START = 8
VERSION_PATTERN = re.compile(r"[0-9]+(\.[0-9]+)*(\+[0-9]+)?", re.ASCII)
# A JSON number without sign, fraction or leading zero.
WHOLE_NUMBER = re.compile(r"0|[1-9][0-9]*", re.ASCII)
MAX_ROLLOUT = 100
# The largest length a signed 64-bit number holds: any reader can take it.
MAX_SIZE = 2**63 - 1
# The JSON type of each key's value, compared exactly: bool is an int to Python, not to the updater.
JSON_TYPES = ({key: (str, "a string") for key in KEYS} | {"mandatory": (bool, "true or false")}
              | dict.fromkeys(NUMBER_KEYS, (int, "a whole number")))


class Refusal(Exception):
    """Inputs or outputs that would not reach every client intact."""

    # How each problem is introduced to the user.
    heading = "refused"

    def __init__(self, problems: list[str]) -> None:
        super().__init__("\n".join(problems))
        self.problems = problems


def reader_safety_problems(field: str, value: str) -> list[str]:
    problems = []
    if '"' in value:
        problems.append(f'{field}: contains a quotation mark ("); the updater would cut the value there')
    if "\\" in value:
        problems.append(f"{field}: contains a backslash; the updater decodes no escapes")
    return problems


def version_problems(version: str) -> list[str]:
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
    if not is_newer(version, "0"):
        return [f"version: {version} is never newer than any installed version"]
    return []


def url_problems(url: str) -> list[str]:
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


def sha256_problems(sha256: str) -> list[str]:
    if re.fullmatch(r"[0-9a-f]{64}", sha256, re.ASCII):
        return []
    return ["sha256: is not 64 lower-case hexadecimal digits"]


def notes_problems(notes: str) -> list[str]:
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


def date_problems(field: str, value: str) -> list[str]:
    controls = [c for c in value if ord(c) < 0x20]
    return reader_safety_problems(field, value) + ([f"{field}: contains a control character"] if controls else [])


def rollout_problems(rollout: str | None) -> list[str]:
    """None (no rollout: every office) or the percentage of offices, 0 to 100."""
    if rollout is None or (WHOLE_NUMBER.fullmatch(rollout) and int(rollout) <= MAX_ROLLOUT):
        return []
    return [f"rollout: {rollout!r} is not a whole number from 0 to {MAX_ROLLOUT} (the percentage of offices)"]


def size_problems(size: str | None) -> list[str]:
    """None (no size given) or the package's length in bytes."""
    if size is None or (WHOLE_NUMBER.fullmatch(size) and 0 < int(size) <= MAX_SIZE):
        return []
    return [f"size: {size!r} is not a package length in bytes (a whole number from 1 to {MAX_SIZE})"]


def field_problems(manifest: Manifest) -> list[str]:
    return (version_problems(manifest.version) + url_problems(manifest.url) + sha256_problems(manifest.sha256)
            + notes_problems(manifest.notes) + date_problems("releaseDate", manifest.release_date)
            + date_problems("uploadDate", manifest.upload_date) + size_problems(manifest.size)
            + rollout_problems(manifest.rollout))


def notes_from_file(path: Path) -> str:
    """The notes text with every line break as CR LF, the form the Windows
    edit control breaks lines on."""
    try:
        text = path.read_bytes().decode("utf-8")
    except OSError as error:
        raise Refusal([f"notes: cannot read {path}: {error.strerror}"])
    except UnicodeDecodeError as error:
        raise Refusal([f"notes: {path} is not UTF-8 (byte {error.start})"])
    text = text.removeprefix("\ufeff").strip()
    return re.sub(r"\r\n|\r|\n", "\r\n", text)


def _shown(value: str | bool | None) -> str:
    if value is None:
        return "nothing (absent)"
    if isinstance(value, bool):
        return "true" if value else "false"
    return "'" + re.sub(r"\r\n|\r|\n", "\u21b5", value) + "'"


def misread_fields(text: str, intended: Manifest) -> list[str]:
    """Names every field the updater would read differently from `intended`."""
    read_back = read_manifest(text)
    return [f"{key}: the updater reads {_shown(read_back.value(key))} where {_shown(intended.value(key))} is meant"
            for key in KEYS if read_back.value(key) != intended.value(key)]


def check_manifest_text(text: str, public_key: str | None = None) -> list[str]:
    """Problems of an existing manifest: what a JSON parser finds in it
    against what the updater reads, then the field rules, then, given a
    release public key, its signature as the updater checks it."""
    duplicates: list[str] = []

    def unique_pairs(pairs: list[tuple[str, object]]) -> dict[str, object]:
        keys = [key for key, _ in pairs]
        duplicates.extend(key for index, key in enumerate(keys) if key in keys[:index])
        return dict(reversed(pairs))  # the first of equal keys wins, as in the updater's search

    try:
        document = json.loads(text.removeprefix("\ufeff"), strict=False, object_pairs_hook=unique_pairs)
    except json.JSONDecodeError as error:
        return [f"not JSON: {error}"]
    if not isinstance(document, dict):
        return ["not a JSON object"]
    problems = [f"{key}: occurs more than once" for key in dict.fromkeys(duplicates)]
    for key, (expected_type, kind) in JSON_TYPES.items():
        if key not in document:
            if key not in NUMBER_KEYS:
                problems.append(f"{key}: missing")
        elif type(document[key]) is not expected_type:
            problems.append(f"{key}: {json.dumps(document[key], ensure_ascii=False)} is not {kind}")
    if problems:
        return problems
    intended = Manifest.from_keys({key: str(document[key]) if key in NUMBER_KEYS else document[key]
                                   for key in KEYS if key in document})
    problems = misread_fields(text, intended) or field_problems(intended)
    if public_key is not None and not problems:
        problems = signature_problems(read_manifest(text), public_key)
    return problems


def signature_problems(manifest: Manifest, public_key: str) -> list[str]:
    if not manifest.signature:
        return ["signature: missing"]
    if not signing.verify(signing.canonical_message(manifest), manifest.signature, public_key):
        return ["signature: does not verify with the public key over the values the updater reads"]
    return []


def format_parts(parts: tuple[int, ...]) -> str:
    return ".".join(str(part) for part in parts)


def readable_product_version(exe: Path, name: str) -> tuple[str | None, list[str]]:
    """The ProductVersion the updater reads from the executable, or the refusal
    that it has none."""
    try:
        product_version = read_product_version(exe)
    except NoVersionResource as reason:
        return None, [f"{name}: carries no version resource ({reason}); the updater could not read its version"]
    except OSError as error:
        return None, [f"{name}: cannot read {exe}: {error.strerror}"]
    if product_version is None:
        return None, [f"{name}: its version resource has no ProductVersion under the first "
                      "translation; the updater could not read its version"]
    return product_version, []


def product_version_problems(exe: Path, version: str) -> list[str]:
    product_version, problems = readable_product_version(exe, APPLICATION_EXE)
    if product_version is None:
        # Every client would read 0.0.0.0 and be offered this release again at every start.
        return problems
    installed, released = parse_version(product_version), parse_version(version)
    if installed != released:
        return [f"version: {APPLICATION_EXE} says ProductVersion {product_version} "
                f"({format_parts(installed)}) but the release is {version} ({format_parts(released)})"]
    return []


def updater_problems(updater: Path) -> list[str]:
    """A clients' updater replaces itself with the one in a release only when
    it can read that one's version and finds it newer."""
    return readable_product_version(updater, f"updater {updater}")[1]
