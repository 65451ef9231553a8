"""--check-package against the two tables the updater's own tests read: the
entry names (every row) and the packages of other zip tools."""

import re
import subprocess
import sys
from pathlib import Path

import pytest

REPOSITORY = Path(__file__).resolve().parents[2]
VECTORS = REPOSITORY / "tests" / "vectors"
TOOL = REPOSITORY / "tools" / "release" / "nirva_release.py"
sys.path.insert(0, str(TOOL.parent))

from release_tool.package_check import check_package, names_rules  # noqa: E402


def rows(table, columns):
    for line in (VECTORS / table).read_text(encoding="utf-8").splitlines():
        if line and not line.startswith("#"):
            yield line.split("\t")[:columns]


def name_rows():
    for names, verdict, scope, why in rows("entry_names/names.tsv", 4):
        # The letter-case pairs Windows keeps apart are refused here too, as the folder checks refuse them.
        expected = "collision" if scope == "folding" else verdict
        yield pytest.param([re.sub(r"\\u([0-9A-Fa-f]{4})", lambda unit: chr(int(unit[1], 16)), name)
                            for name in names.split("|")], expected, id=why or names)


@pytest.mark.parametrize("names, verdict", name_rows())
def test_names_meet_the_updaters_rules(names, verdict):
    assert ({rule for _, rule in names_rules(names)} or {"accepted"}) == {verdict}


@pytest.mark.parametrize("package, verdict", [pytest.param(*row[:2], id=row[0])
                                              for row in rows("zip_tools/packages.tsv", 3)])
def test_packages_of_other_tools(package, verdict):
    refusals, _ = check_package(VECTORS / "zip_tools" / f"{package}.zip")
    assert ({refusal.split(": ")[1].split(" ")[0] for refusal in refusals} or {"accepted"}) == {verdict}


@pytest.mark.parametrize("package, returncode, words", [
    ("bsdtar", 0, "./data/ledger.txt: read as data/ledger.txt"),
    ("infozip", 1, "refused: \u06af\u0632\u0627\u0631\u0634\u200c\u0647\u0627/: unflagged"),
    ("../zip/truncated", 1, "not a zip archive"),
])
def test_command_names_what_it_finds(package, returncode, words):
    result = subprocess.run([sys.executable, str(TOOL), "--check-package", VECTORS / "zip_tools" / f"{package}.zip"],
                            capture_output=True, text=True, encoding="utf-8")
    assert (result.returncode, words in result.stdout + result.stderr) == (returncode, True), result.stderr
