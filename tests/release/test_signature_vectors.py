"""The release tool's message and signature check against the shared vectors,
which the updater runs in tests/unit/release_signature_test.cpp and
signature_check_test.cpp."""

import sys
from pathlib import Path

import pytest

REPOSITORY = Path(__file__).resolve().parents[2]
VECTORS = REPOSITORY / "tests" / "vectors" / "release_signature"
sys.path.insert(0, str(REPOSITORY / "tools" / "release"))

from release_tool import signing  # noqa: E402
from release_tool.reader import read_manifest  # noqa: E402

CASES = [line.split("\t") for line in (VECTORS / "cases.tsv").read_text().splitlines() if not line.startswith("#")]


@pytest.mark.parametrize("name, verdict", CASES, ids=[name for name, _ in CASES])
def test_message_and_signature_as_the_updater_reads_them(name, verdict):
    manifest = read_manifest((VECTORS / f"{name}.json").read_bytes().decode("utf-8"))
    message = signing.canonical_message(manifest)
    assert message.hex() == (VECTORS / f"{name}.message").read_text().strip()
    assert signing.verify(message, manifest.signature, (VECTORS / "key.hex").read_text().strip()) == (verdict == "valid")
