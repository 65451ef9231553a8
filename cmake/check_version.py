#!/usr/bin/env python3
"""Exits 0 when the argument is a version the release tool takes for a
release (dotted numbers with an optional +build, at most four parts, not
all zero) whose numbers also fit the 16 bits of a version resource's
FILEVERSION; otherwise says why and exits 1."""

import re
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tools" / "release"))
from release_tool.checks import version_problems  # noqa: E402

RESOURCE_NUMBER_MAX = 65535


def problems(version):
    found = version_problems(version)
    if not found and any(int(part) > RESOURCE_NUMBER_MAX for part in re.split(r"[.+]", version)):
        found = [f"version: {version} has a number beyond {RESOURCE_NUMBER_MAX}, the largest a version resource holds"]
    return found


if __name__ == "__main__":
    reasons = problems(sys.argv[1])
    for reason in reasons:
        print(reason.removeprefix("version: "), file=sys.stderr)
    sys.exit(1 if reasons else 0)
