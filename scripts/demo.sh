#!/usr/bin/env bash
# Shows the whole road of a release on this machine: build, publish version
# 2.0.0.0 of the demo application with the release tool, serve it with nginx
# from the deployment template, and let the real updater update a folder
# holding version 1.0.0.0 under Wine, taking screenshots on the way.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_deps.sh
cmake --preset test
cmake --build --preset test
exec python3 scripts/demo.py
