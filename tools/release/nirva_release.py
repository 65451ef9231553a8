#!/usr/bin/env python3
"""Build a NIRVA release: the update package nirva.zip and its manifest.json.

The updater does not parse JSON. It finds each field by searching for the
quoted key and takes the text up to the next quotation mark, so this tool only
writes values that such a reader gets back exactly, and proves it by reading
its own output with the same rules before it keeps anything. The work is done
by the release_tool package beside this script.
"""

import sys

from release_tool.cli import main

if __name__ == "__main__":
    sys.exit(main())
