"""The release tool's reader against the shared manifest vectors, which the
updater's own reader runs in tests/unit/manifest_vectors_test.cpp."""

import sys
from pathlib import Path

import pytest

REPOSITORY = Path(__file__).resolve().parents[2]
VECTORS = REPOSITORY / "tests" / "vectors" / "manifest"
sys.path.insert(0, str(REPOSITORY / "tools" / "release"))

from release_tool.reader import KEYS, Manifest, read_manifest  # noqa: E402


def expected_record(path):
    """Nine key=value lines in the record's order; a size or rollout line that
    is the key alone says that the key is absent."""
    lines = path.read_bytes().decode("utf-8").split("\n")
    assert lines[-1] == "", f"{path.name} must end with a line feed"
    assert [line.partition("=")[0] for line in lines[:-1]] == list(KEYS), path.name
    record = {key: value if equals else None for key, equals, value in (line.partition("=") for line in lines[:-1])}
    assert record["mandatory"] in ("true", "false"), path.name
    record["mandatory"] = record["mandatory"] == "true"
    return record


def test_every_vector_has_its_expected_reading():
    manifests = {path.stem for path in VECTORS.glob("*.json")}
    readings = {path.stem for path in VECTORS.glob("*.expected")}
    assert manifests, f"no vectors in {VECTORS}"
    assert manifests == readings


@pytest.mark.parametrize("vector", sorted(VECTORS.glob("*.json")), ids=lambda path: path.stem)
def test_reader_gives_expected_record(vector):
    text = vector.read_bytes().decode("utf-8")
    assert read_manifest(text) == Manifest.from_keys(expected_record(vector.with_suffix(".expected")))
