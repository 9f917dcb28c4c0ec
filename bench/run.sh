#!/usr/bin/env bash
# Runs every benchmark program of a build; each prints its own ratios.
set -euo pipefail
build=${1:-build-bench}
found=0
for b in "$build"/bench/bench_*; do
  [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  "$b" --benchmark_min_time=0.2
done
[ $found -eq 1 ] || echo "no benchmarks built yet"
