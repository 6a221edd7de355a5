#!/usr/bin/env bash
# Tries once whether this host can start a 32-bit Windows program under
# Wine, and writes the answer where the tests that need one read it
# (if-wine-x86.sh): "yes", or "no: <why>". Hosts that run 64-bit code only
# cannot start Debian's 32-bit Wine loader at all ("Exec format error").
# Usage: wine-x86-probe.sh VERDICT WINE PROGRAM.exe   (WINEPREFIX set)
# Exits 0 when the program ran, 77 (skipped) when it could not be started.
set -uo pipefail
verdict=$1 wine=$2 program=$3
mkdir -p "$(dirname "$verdict")"
output=$(timeout 180 "$wine" "$program" 0 2>&1)
status=$?
if [ $status -eq 0 ]; then
  echo yes > "$verdict"
  echo "this host starts 32-bit Windows programs under Wine"
  exit 0
fi
why=$(printf '%s\n' "$output" | grep -v '^$' | head -n 1)
echo "no: this host cannot start a 32-bit Windows program under Wine ($wine $(basename "$program") exited with $status: ${why:-no output})" > "$verdict"
sed "s/^no: /skipped: /" "$verdict"
exit 77
