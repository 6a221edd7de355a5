#!/usr/bin/env bash
# Runs a test that needs a 32-bit Windows program, where this host can start
# one (as host.wine_x86 found); elsewhere reports the test skipped (exit 77)
# with the reason.
# Usage: if-wine-x86.sh VERDICT COMMAND [ARGS...]
verdict=$1
shift
answer=$(cat "$verdict" 2>/dev/null || echo "no: this host was not tried for 32-bit Windows programs (host.wine_x86 did not run)")
if [ "$answer" != yes ]; then
  echo "skipped: ${answer#no: }"
  exit 77
fi
exec "$@"
