#!/usr/bin/env bash
# Installs what is missing, builds and runs every test. Tests talk only to simulated
# controllers on loopback (127.0.0.0/8).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/build.sh" "$here/build"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$here/build" --output-on-failure -j2
