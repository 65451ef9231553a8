"""The release tool's version reading against the shared version vectors,
which the updater's unit tests read as well."""

import sys
from pathlib import Path

import pytest

REPOSITORY = Path(__file__).resolve().parents[2]
VECTORS = REPOSITORY / "tests" / "vectors" / "version"
sys.path.insert(0, str(REPOSITORY / "tools" / "release"))

from release_tool.reader import is_newer, parse_version  # noqa: E402


def vectors(name, field_count):
    """Each line's fields; a version text may be empty or hold any white space
    but tab and line feed, so lines split on line feeds alone."""
    lines = (VECTORS / name).read_bytes().decode("utf-8").removesuffix("\n").split("\n")
    rows = [line.split("\t") for line in lines if not line.startswith("#")]
    assert rows and all(len(row) == field_count for row in rows), f"{name}: not {field_count} tab-separated fields"
    return rows


@pytest.mark.parametrize("text, parts", vectors("parse.tsv", 2), ids=repr)
def test_parse_gives_the_updaters_parts(text, parts):
    assert parse_version(text) == tuple(int(part) for part in parts.split(" "))


@pytest.mark.parametrize("latest, installed, verdict", vectors("newer.tsv", 3), ids=repr)
def test_newer_as_the_updater_decides(latest, installed, verdict):
    assert verdict in ("newer", "not-newer")
    assert is_newer(latest, installed) == (verdict == "newer")
