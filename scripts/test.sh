#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: the suite, the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, and each fuzz target briefly.
# Tests talk only to simulated controllers on loopback (127.0.0.0/8).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

scripts/build.sh dev
ctest --preset dev -j2

scripts/build.sh asan
ctest --preset asan -j2

scripts/fuzz.sh "${ORVEL_FUZZ_SECONDS:-20}"
