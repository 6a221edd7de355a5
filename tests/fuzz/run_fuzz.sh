#!/usr/bin/env bash
# make fuzz: runs the fuzz driver for SECONDS, spread evenly over its
# targets, as a 64-bit program and, where this host starts 32-bit ones, as
# a 32-bit one at the same time. An input that faults or breaks an
# invariant ends its target's share and is kept in the corpus,
# tests/fuzz/corpus/<corpus>/<target>-<machine>-<seed>-<n>.hex; then this fails.
# Usage: run_fuzz.sh BUILD SECONDS [SEED]
set -uo pipefail
build=$(cd "$1" && pwd)
seconds=$2
seed=${3:-$(date +%s)}
root=$(cd "$(dirname "$0")/../.." && pwd)
corpus=$root/tests/fuzz/corpus
export WINEPREFIX=$build/wine/main WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$root/scripts/wine-prefix.sh" "$WINEPREFIX" main || exit 1
machines=amd64
[ "$("$root/scripts/host-flavour.sh" "$build")" = x86-ansi ] && machines="x86 amd64"
# One program to its end first, so that the two runs meet a started wineserver.
targets=$(/usr/lib/wine/wine64 "$build/amd64/tests/bin/fuzz_parsers.exe" --list | tr -d '\r')
each=$((seconds / $(echo $targets | wc -w)))
[ "$each" -ge 1 ] || each=1
echo "fuzz: $each s for each target, seed $seed, machines: $machines"

run() {
  local wine=/usr/lib/wine/wine64 program=$build/amd64/tests/bin/fuzz_parsers.exe status=0
  [ "$1" = x86 ] && wine=wine program=$build/tests/bin/fuzz_parsers.exe
  for target in $targets; do
    "$wine" "$program" "$corpus" "$corpus" --target "$target" --seconds "$each" --seed "$seed" || status=1
  done
  return $status
}
pids=()
for machine in $machines; do
  run "$machine" &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
[ $status -eq 0 ] || echo "fuzz: inputs were kept under $corpus: mend what they show, and keep them as tests"
exit $status
