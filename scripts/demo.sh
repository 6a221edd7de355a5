#!/usr/bin/env bash
# Runs the demo installer under Wine: it calls each export of the plug-in,
# and this script shows what the calls left and which processes ended.
# Then the uninstaller it wrote reports to the info-collection stand-in,
# and this script shows the records the stand-in received.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
work=$build/demo
prefix=$build/wine/main
"$root/scripts/wine-prefix.sh" "$prefix" main

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$work"
mkdir -p "$work"
winpath() { echo "Z:${1//\//\\}"; }
processes() { wine "$build/tests/bin/proclist.exe" | tr -d '\r'; }

echo "== plug-in: $build/x86-ansi/tmnsisplug.dll ($(stat -c %s "$build/x86-ansi/tmnsisplug.dll") bytes)"
makensis -V2 -DPLUGIN_DIR="$build/x86-ansi" -DOUT_FILE="$work/demo-setup.exe" "$root/examples/demo.nsi"

# A small tree to delete, with a read-only file and a hidden folder.
mkdir -p "$work/demo-tree/Cfg" "$work/demo-tree/Hotfix/.cache"
echo data > "$work/demo-tree/Cfg/config.ini"
echo data > "$work/demo-tree/Hotfix/kb1.msu"
echo data > "$work/demo-tree/Hotfix/.cache/part.tmp"
chmod a-w "$work/demo-tree/Cfg/config.ini"

# One program alone first, which keeps the prefix's wineserver up for the
# whole demo: several programs started at once against a cold server can
# stall for a minute.
cp "$build/tests/bin/tmwait.exe" "$work/tmanchor.exe"
wine "$work/tmanchor.exe" 600 "$(winpath "$work/anchor.ready")" &
anchor=$!
trap 'kill $anchor 2>/dev/null || true' EXIT
for _ in $(seq 1800); do [ -e "$work/anchor.ready" ] && break; sleep 0.1; done

# Stand-ins for the product: two copies of its helper and its main windows.
cp "$build/tests/bin/tmwait.exe" "$work/VardoHelper.exe"
wine "$work/VardoHelper.exe" 60 & wine "$work/VardoHelper.exe" 60 &
wine "$build/tests/bin/winhost.exe" "$(winpath "$work/windows.txt")" 1 30 &
ready=0
for _ in $(seq 100); do
  if [ "$(processes | grep -c $'\tVardoHelper.exe$')" -eq 2 ] && grep -qx ready "$work/windows.txt" 2>/dev/null; then
    ready=1
    break
  fi
  sleep 0.2
done
[ $ready -eq 1 ] || { echo "the product's stand-ins did not start" >&2; exit 1; }
echo "== running before the installer:"
processes | grep -E $'\t(VardoHelper|winhost)\\.exe$' | sed 's/^/   /'

echo "== the tree to delete:"
(cd "$work" && find demo-tree | sort | sed 's/^/   /')

echo "== wine demo-setup.exe /S"
(cd "$work" && wine demo-setup.exe /S)

# The product's info-collection library: the stand-in, with the product's
# version library beside the uninstaller. "_?=" runs the uninstaller in
# place, so Wine waits for it.
mkdir -p "$work/ovec"
cp "$build/standins/gleanor/gleanor.dll" "$work/ovec/gleanor.dll"
cp "$build/tests/bin/versions/pelvo_2_5/pelvo.dll" "$work/pelvo.dll"
echo "== wine demo-uninstall.exe /S"
(cd "$work" && wine demo-uninstall.exe /S "_?=$(winpath "$work")")
kill $anchor 2>/dev/null || true
wait

echo "== what each call left (demo-report.txt):"
tr -d '\r' < "$work/demo-report.txt" | sed 's/^/   /'
echo "== what the product's windows received:"
sed 's/^/   /' "$work/windows.txt"
echo "== still running afterwards:"
processes | grep -E $'\t(VardoHelper|winhost)\\.exe$' | sed 's/^/   /' || echo "   (none of them)"
echo "== the tree afterwards:"
if [ -e "$work/demo-tree" ]; then (cd "$work" && find demo-tree | sed 's/^/   /'); else echo "   (gone)"; fi
echo "== what the uninstall report left (demo-uninstall-report.txt):"
tr -d '\r' < "$work/demo-uninstall-report.txt" | sed 's/^/   /'
echo "== the records the info-collection stand-in received (ovec/gleanor.log):"
tr -d '\r' < "$work/ovec/gleanor.log" | grep -E '^(write|commit|unload|summary)' | sed 's/^/   /'
