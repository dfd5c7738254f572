#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: the suite, the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, and each fuzz target briefly.
# Tests talk only to simulated controllers on loopback (127.0.0.0/8).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
export QT_QPA_PLATFORM=offscreen

"$here/scripts/build.sh" "$here/build"
ctest --test-dir "$here/build" --output-on-failure -j2

"$here/scripts/build.sh" "$here/build-asan" -DORVEL_SANITIZE=ON
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$here/build-asan" --output-on-failure -j2

"$here/scripts/fuzz.sh" "${ORVEL_FUZZ_SECONDS:-20}"
