#!/usr/bin/env bash
# Runs the whole end-to-end set several times, each time after stopping the
# wineserver of every prefix of the build, as CI starts: proof that no case
# needs a warm server. Prints one line per run and the count of green runs.
# Usage: cold-e2e-runs.sh [BUILD] [RUNS]
set -uo pipefail
build=$(cd "${1:-build}" && pwd)
runs=${2:-10}
green=0
for run in $(seq "$runs"); do
  for prefix in "$build"/wine/*/; do
    WINEPREFIX=$prefix wineserver -k 2>/dev/null
  done
  for prefix in "$build"/wine/*/; do
    WINEPREFIX=$prefix wineserver -w 2>/dev/null
  done
  started=$(date +%s)
  if ctest --test-dir "$build" -R '^e2e\.' --output-on-failure > "$build/cold-run-$run.log" 2>&1; then
    green=$((green + 1))
    echo "run $run: green ($(( $(date +%s) - started )) s)"
  else
    echo "run $run: FAILED ($(( $(date +%s) - started )) s), see $build/cold-run-$run.log"
    grep -E '^ *[0-9]+ - ' "$build/cold-run-$run.log" | sed 's/^/   /'
  fi
done
echo "$green of $runs runs green"
[ "$green" -eq "$runs" ]
