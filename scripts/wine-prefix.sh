#!/usr/bin/env bash
# Makes a Wine prefix for the tests, once; later calls return at once.
# Usage: wine-prefix.sh DIR KIND
#   main   64-bit prefix as Wine sets it up (Windows 7, version 6.1)
#   xp64   64-bit prefix reporting Windows XP x64 (version 5.2)
#   win32  32-bit prefix reporting Windows XP (version 5.1)
# Every prefix draws windows with the null graphics driver, so windows can
# be made and found without a display.
set -euo pipefail
dir=$1
kind=$2
[ -f "$dir/.tm-ready" ] && exit 0

mkdir -p "$(dirname "$dir")"
exec 9>"$dir.lock"
flock 9
[ -f "$dir/.tm-ready" ] && exit 0

export WINEPREFIX=$dir WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$dir"
# A 64-bit prefix is made by the 64-bit loader, which every host can start;
# Debian's wine starts the 32-bit one first, which some hosts cannot.
case $kind in
  main|xp64) arch=win64 wine=/usr/lib/wine/wine64 ;;
  win32) arch=win32 wine=wine ;;
  *) echo "unknown prefix kind: $kind" >&2; exit 2 ;;
esac
WINEARCH=$arch "$wine" wineboot -i >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 ||
  { echo "cannot set up the prefix $dir: $wine reg failed" >&2; exit 1; }
case $kind in
  xp64) "$wine" winecfg /v winxp64 >/dev/null 2>&1 ;;
  win32) "$wine" winecfg /v winxp >/dev/null 2>&1 ;;
esac
wineserver -w
touch "$dir/.tm-ready"
echo "wine prefix ready: $dir ($kind)"
