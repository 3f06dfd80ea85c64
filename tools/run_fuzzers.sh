#!/bin/sh
# Runs every libFuzzer target of a fuzz build (-DTEXPORT_FUZZ=ON) for SECONDS each (default 60),
# seeded with the examples, the image readers' seeds (fuzz/seeds) and the kept regressions.
# Usage: tools/run_fuzzers.sh [BUILD_DIR] [SECONDS]
# Findings (crash-*, leak-*, timeout-*) are written to BUILD_DIR/fuzz-findings; any finding fails.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-fuzz}" && pwd)
seconds=${2:-60}
findings="$build/fuzz-findings"
mkdir -p "$findings"
status=0
for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="$build/fuzz-corpus/$name"
  mkdir -p "$corpus"
  # Seeds: every example source and seed image, whatever its format; each target takes what it can.
  for seed in "$root"/examples/* "$root"/fuzz/seeds/*; do cp "$seed" "$corpus/" ; done
  for regression in "$root"/tests/regressions/*; do [ -f "$regression" ] && cp "$regression" "$corpus/"; done
  echo "== $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$findings/$name-" "$corpus" 2>"$build/$name.log"; then
    status=1
    tail -n 40 "$build/$name.log"
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$build/$name.log" || true
done
exit $status
