#!/usr/bin/env bash
# Installs what is missing, checks the layout of the C++ files, builds (warnings are errors)
# and runs every test: the suite, the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, and each fuzz target briefly; packs the .deb, lists it and has
# lintian check it.
# Tests talk only to simulated controllers on loopback (127.0.0.0/8).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# The layout: every tracked C++ file as .clang-format writes it.
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror

scripts/build.sh dev
ctest --preset dev -j2

# The .deb of that build, and what it holds.
deb="$(cd build && cpack -G DEB | sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p')"
dpkg-deb -c "$deb"
dpkg-deb -f "$deb" Depends
# Debian's checks: an error or a warning fails the run.
lintian --fail-on error,warning "$deb"

scripts/build.sh asan
ctest --preset asan -j2

scripts/fuzz.sh "${ORVEL_FUZZ_SECONDS:-20}"
