#!/usr/bin/env bash
# Installs what is missing, builds, starts simulated controllers on loopback and opens the
# window. The simulated units:
#   127.0.0.2  a fresh ARM unit without serial number, erased flash
#   127.0.0.3  ARM unit 1001 holding a kernel and a PLC program
#   127.0.0.4  XA unit 1002 holding a kernel and a PLC program
# Sample images to send ready in build/samples/.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$here/build"
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" dev
samples="$build/samples"
"$build/bin/orvel-sim" \
  --controller serial=none,platform=arm \
  --controller "serial=1001,platform=arm,kernel=$samples/kernel-arm.bin,program=$samples/program.bin" \
  --controller "serial=1002,platform=xa,kernel=$samples/kernel-xa.bin,program=$samples/program.bin" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null' EXIT
sleep 1
echo "Simulated controllers answer on loopback. In the window pick the loopback adapter"
echo "(127.0.0.1) under \"Network adapter:\", then open \"Orvel NAD:\" to discover them."
echo "Sample kernel and program files: $samples"
"$build/bin/OrvelBinLoader"
