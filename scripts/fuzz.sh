#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for the given
# number of seconds (default 20) from the seed corpora in fuzz/corpus/<target>.
# New inputs go to a scratch folder, so the committed corpora stay as they are.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-20}"
build="$here/build-fuzz"
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" fuzz
status=0
for target in fuzz_frame fuzz_datagrams fuzz_images fuzz_iptext fuzz_fallback; do
  scratch="$build/corpus-$target"
  mkdir -p "$scratch"
  echo "== $target, $seconds s"
  if ! "$build/bin/$target" -max_total_time="$seconds" -max_len=70000 -print_final_stats=1 \
       -artifact_prefix="$build/$target-" "$scratch" "$here/fuzz/corpus/$target" 2>"$build/$target.log"; then
    status=1
    tail -n 40 "$build/$target.log"
  fi
  grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "$build/$target.log" | tail -n 2 || true
done
exit $status
