#!/usr/bin/env bash
# Builds, then pictures the main window connected to a simulated ARM unit into
# docs/screenshot.png, and the station window with 8 simulated units in flight into
# docs/station.png. orvel-screenshot runs the simulator in-process on loopback with a
# made-up adapter table, so the picture needs no controller and sends nothing beyond
# 127.0.0.0/8; xvfb-run gives it a display.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$here/build"
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" dev
mkdir -p "$here/docs"
xvfb-run -a "$build/bin/orvel-screenshot" "$here/docs/screenshot.png"
xvfb-run -a "$build/bin/orvel-screenshot" --station "$here/docs/station.png"
echo "wrote $here/docs/screenshot.png and $here/docs/station.png"
