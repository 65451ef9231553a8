#!/usr/bin/env python3
"""Build a NIRVA release, nirva.zip and manifest.json (see --help), with the release_tool package beside it."""

import sys

from release_tool.cli import main

if __name__ == "__main__":
    sys.exit(main())
