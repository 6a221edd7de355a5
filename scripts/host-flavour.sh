#!/usr/bin/env bash
# Names the flavour of the plug-in this host can run, for the demo and the
# benchmarks: x86-ansi where it can start 32-bit Windows programs under
# Wine, else amd64-unicode. Decided once per build folder, by trying one
# (the same answer the test host.wine_x86 finds and writes).
# Usage: host-flavour.sh BUILD
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
verdict=$build/wine/wine-x86.txt
if [ ! -f "$verdict" ]; then
  "$root/scripts/wine-prefix.sh" "$build/wine/main" main >&2
  WINEPREFIX=$build/wine/main WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    "$root/scripts/wine-x86-probe.sh" "$verdict" wine "$build/tests/bin/tmwait.exe" >/dev/null || true
fi
if [ "$(cat "$verdict")" = yes ]; then echo x86-ansi; else echo amd64-unicode; fi
