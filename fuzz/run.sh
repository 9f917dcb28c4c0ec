#!/bin/bash
# Runs every fuzz program of build folder $1 for $2 seconds on a working
# copy of its seed corpus, then prints executions and findings.
set -u
build=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
status=0
for program in "$build"/fuzz/*_fuzz; do
  name=$(basename "$program" _fuzz)
  work="$build/fuzz-work/$name"
  mkdir -p "$work/corpus" "$work/findings"
  cp -n "$here/corpus/$name/"* "$work/corpus/" 2>/dev/null
  "$program" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/findings/" \
    "$work/corpus" >"$work/log" 2>&1
  result=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/log" | grep -o '[0-9]*$')
  findings=$(find "$work/findings" -type f | wc -l)
  echo "$name: ${runs:-0} executions, $findings findings (log $work/log)"
  # A run that fails elsewhere (a clean clone in CI) must say why there.
  if [ "$result" -ne 0 ] || [ "$findings" -ne 0 ]; then
    grep -E -A8 'ERROR: |runtime error|SUMMARY: |Test unit written' "$work/log" | head -40
    for f in "$work/findings"/*; do [ -f "$f" ] && echo "input $f: $(od -An -tx1 -v "$f" | tr -d ' \n' | head -c 2048)"; done
  fi
  [ "$result" -ne 0 ] || [ "$findings" -ne 0 ] && status=1
done
exit $status
