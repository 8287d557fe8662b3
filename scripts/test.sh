#!/usr/bin/env bash
# Installs what is missing, then builds both presets and runs every test: the unit tests on the
# host, and Trimbolt64.exe end to end under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --workflow --preset host
cmake --workflow --preset windows
