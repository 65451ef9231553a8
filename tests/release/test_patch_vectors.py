"""The patch vectors, which the updater's patch applier reads too, against the
reference applier: each patch rebuilds its new content or is refused."""

import sys
from pathlib import Path

import pytest

REPOSITORY = Path(__file__).resolve().parents[2]
VECTORS = REPOSITORY / "tests" / "vectors" / "patch"
sys.path.insert(0, str(REPOSITORY / "tests" / "support"))

from patch_reference import Refused, apply_patch  # noqa: E402

CASES = [line.split("\t") for line in (VECTORS / "cases.tsv").read_text().splitlines() if not line.startswith("#")]


@pytest.mark.parametrize("name, old, verdict", CASES, ids=[name for name, _, _ in CASES])
def test_patch_rebuilds_its_new_content_or_is_refused(name, old, verdict):
    patch, old_content = (VECTORS / f"{name}.patch").read_bytes(), (VECTORS / old).read_bytes()
    if verdict == "refused":
        with pytest.raises(Refused):
            apply_patch(old_content, patch)
    else:
        assert apply_patch(old_content, patch) == (VECTORS / verdict).read_bytes()
