#!/usr/bin/env bash
# Configures and builds one preset of CMakePresets.json: dev (the default, into build/),
# asan, fuzz or release. Installs nothing, so that the edit-build loop stays quick:
# scripts/install-deps.sh does that, and demo.sh and test.sh call it first.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-dev}"
cmake --preset "$preset"
cmake --build --preset "$preset"
