"""How the updater reads a manifest and a version number, rule for rule. It parses no JSON: it
finds each field by searching for the quoted key and takes the text up to the next quotation mark."""

import re
from dataclasses import dataclass
from typing import Any

INT32_MIN, INT32_MAX = -2147483648, 2147483647
MAX_VERSION_PARTS = 4

VALUE_START = re.compile(r'["tfn0-9]', re.ASCII)
SCANNED_NUMBER = re.compile(r"[+-]?[0-9]+", re.ASCII)
DIGITS = re.compile(r"[0-9]+", re.ASCII)
# What swscanf's %d skips in the C locale.
SCAN_SPACE = " \t\n\v\f\r"


@dataclass(frozen=True)
class Manifest:
    version: str
    url: str
    sha256: str
    notes: str
    release_date: str
    upload_date: str
    mandatory: bool
    # The package's length in bytes and the percentage of offices offered the
    # release, as the text the updater reads (see manifest_number_value); None
    # when the key is absent, which is not the same as present and empty.
    size: str | None = None
    rollout: str | None = None
    # Not one of the signed values: the signature over them (see signing.py).
    signature: str = ""

    def value(self, key: str) -> str | bool | None:
        return getattr(self, KEYS.get(key, key))

    @classmethod
    def from_keys(cls, values: dict[str, Any]) -> "Manifest":
        return cls(**{KEYS.get(key, key): value for key, value in values.items()})


# Each JSON key with the Manifest attribute it fills, in the order the
# updater's record holds them.
KEYS = {"version": "version", "url": "url", "sha256": "sha256", "notes": "notes",
        "releaseDate": "release_date", "uploadDate": "upload_date", "mandatory": "mandatory",
        "size": "size", "rollout": "rollout"}
# The keys whose values are JSON numbers.
NUMBER_KEYS = ("size", "rollout")


def _value_start(text: str, key: str) -> int | None:
    """Where the updater takes the key's value to start: the first value
    character after the colon that follows the quoted key, or the end of the
    text when there is none; None when the quoted key does not occur."""
    key_position = text.find('"' + key + '"')
    if key_position < 0:
        return None
    colon = text.find(":", key_position)
    start = VALUE_START.search(text, colon) if colon >= 0 else None
    return len(text) if start is None else start.start()


def _value_at(text: str, position: int) -> str:
    if position >= len(text):
        return ""
    if text[position] == '"':
        closing = text.find('"', position + 1)
        return text[position + 1:] if closing < 0 else text[position + 1:closing]
    if text.startswith("true", position):
        return "true"
    if text.startswith("false", position):
        return "false"
    return ""


def manifest_value(text: str, key: str) -> str:
    position = _value_start(text, key)
    return "" if position is None else _value_at(text, position)


def manifest_number_value(text: str, key: str) -> str | None:
    """For size and rollout: a value that starts with a digit is the run of
    ASCII digits there; any other value reads as for every key, so that a
    quoted number or a wrong type is seen rather than hidden; None when the
    key does not occur."""
    position = _value_start(text, key)
    if position is None:
        return None
    digits = DIGITS.match(text, position)
    return digits.group() if digits else _value_at(text, position)


def read_manifest(text: str) -> Manifest:
    values: dict[str, str | bool | None] = {
        key: manifest_number_value(text, key) if key in NUMBER_KEYS else manifest_value(text, key) for key in KEYS}
    values["mandatory"] = values["mandatory"] == "true"
    return Manifest.from_keys(values | {"signature": manifest_value(text, "signature")})


def parse_version(text: str) -> tuple[int, ...]:
    """The four parts the updater reads: "+" taken as ".", then swscanf with
    "%lld.%lld.%lld.%lld", each part saturating at the 32-bit limits rather
    than wrapping, parts it does not reach staying 0."""
    text = text.replace("+", ".")
    parts = [0] * MAX_VERSION_PARTS
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
        parts[index] = min(max(int(match.group()), INT32_MIN), INT32_MAX)
        position = match.end()
    return tuple(parts)


def is_newer(latest: str, installed: str) -> bool:
    """Whether the updater offers `latest` over `installed`: part by part,
    leftmost first."""
    return parse_version(latest) > parse_version(installed)
