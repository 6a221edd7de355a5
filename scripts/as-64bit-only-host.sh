#!/usr/bin/env bash
# Runs a command as it would run on a host whose kernel starts 64-bit user
# code only: in a mount namespace of its own, Debian's 32-bit Wine loader,
# the 32-bit wineserver and the i386 dynamic loader are covered by a program
# that fails as such a host fails ("Exec format error", exit 126), so every
# dynamic i386 program and every 32-bit Windows program fails to start,
# while wine64 and 64-bit Windows programs run. Nothing outside the
# namespace changes. Needs root (unshare -m).
# Usage: as-64bit-only-host.sh COMMAND [ARGS...]   e.g. make test
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARGS...]" >&2; exit 2; }
if [ "${TM_AS_64BIT_ONLY:-}" != inside ]; then
  exec env TM_AS_64BIT_ONLY=inside unshare -m --propagation private "$0" "$@"
fi
refusal=$(mktemp)
trap 'rm -f "$refusal"' EXIT
printf '#!/bin/sh\necho "$0: Exec format error" >&2\nexit 126\n' > "$refusal"
chmod 755 "$refusal"
for covered in /usr/lib/wine/wine /usr/lib/wine/wineserver32 "$(readlink -f /lib/ld-linux.so.2)"; do
  [ -e "$covered" ] && mount --bind "$refusal" "$covered"
done
"$@"
