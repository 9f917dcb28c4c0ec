#!/usr/bin/env bash
# Runs every benchmark program of a build; each prints its own ratios.
# bench_table takes the size of its spooled output in MB (BENCH_SPOOL_MB);
# bench_sessions runs its default 1,000 sessions, 100 at once.
set -euo pipefail
build=${1:-build-bench}
found=0
for b in "$build"/bench/bench_*; do
  [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  case "$(basename "$b")" in
    bench_table|bench_sessions) "$b" ;;
    *) "$b" --benchmark_min_time=0.2 ;;
  esac
done
[ $found -eq 1 ] || echo "no benchmarks built yet"
