"""The release tool's entry name checks against the table the updater's own
rules run in tests/unit/entry_name_test.cpp: the tool must refuse every
package the updater would refuse, and accept the rest."""

import re
import sys
from pathlib import Path

import pytest

REPOSITORY = Path(__file__).resolve().parents[2]
TABLE = REPOSITORY / "tests" / "vectors" / "entry_names" / "names.tsv"
sys.path.insert(0, str(REPOSITORY / "tools" / "release"))

from release_tool.package import entry_name_problems  # noqa: E402


def rows():
    """(names, verdict) of the rows that a release folder can hold."""
    for line in TABLE.read_text(encoding="utf-8").splitlines():
        if line and not line.startswith("#"):
            names, verdict, scope, why = line.split("\t")
            if scope == "both":
                yield pytest.param([re.sub(r"\\u([0-9A-Fa-f]{4})", lambda unit: chr(int(unit[1], 16)), name)
                                    for name in names.split("|")], verdict, id=why or names)


@pytest.mark.parametrize("names, verdict", rows())
def test_tool_refuses_exactly_what_the_updater_refuses(names, verdict):
    assert (entry_name_problems(sorted(names)) == []) == (verdict == "accepted")
