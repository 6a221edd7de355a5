#!/usr/bin/env bash
# Runs the demo installer under Wine: it calls each export of the plug-in,
# and this script shows what the calls left, which processes ended and
# what the download cleanup did to a small product installed for it.
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

# A small product: its install folder in the registry, its configuration
# file naming the three download folders and holding the hotfix ledger,
# downloads, download leftovers, and a directory link out of "Hotfix".
product=$work/Vardo
mkdir -p "$product/Cfg" "$product/Hotfix" "$product/HotfixDownloads" "$product/Orvik/Download/VardoTools" \
  "$product/SoftDownloads" "$product/Driver/Download/nic" "$product/DriverDownloads" "$work/outside-folder"
printf '%s\r\n' "[VulMain]" "DownPath=$(winpath "$product/HotfixDownloads")" \
  "[SoftMain]" "SoftDownDir=$(winpath "$product/SoftDownloads")" \
  "[DrvMain]" "DrvDownDir=$(winpath "$product/DriverDownloads")" \
  "[DownFiles]" "1=KB5001.msu" "2=KB5002.msu" "3=KB5003.msu" "[InstedRet]" "1=1" "2=0" "3=1" \
  > "$product/Cfg/config.ini"
for f in HotfixDownloads/KB5001.msu HotfixDownloads/KB5002.msu HotfixDownloads/KB5003.msu Hotfix/scan.dat \
         Orvik/Download/VardoTools/setup.exe SoftDownloads/player.exe SoftDownloads/player.exe.tmp \
         SoftDownloads/tool.zip_kti Driver/Download/nic/driver.zip DriverDownloads/gpu.exe \
         DriverDownloads/gpu.exe.nfo; do
  echo data > "$product/$f"
done
echo keep > "$work/outside-folder/keep.txt"
ln -s "$work/outside-folder" "$product/Hotfix/link"

# One program alone first, which keeps the prefix's wineserver up for the
# whole demo: several programs started at once against a cold server can
# stall for a minute.
cp "$build/tests/bin/tmwait.exe" "$work/tmanchor.exe"
wine "$work/tmanchor.exe" 600 "$(winpath "$work/anchor.ready")" &
anchor=$!
key='HKLM\SOFTWARE\Vardo'
trap 'kill $anchor 2>/dev/null || true; wine reg delete "$key" /f /reg:32 >/dev/null 2>&1 || true' EXIT
for _ in $(seq 1800); do [ -e "$work/anchor.ready" ] && break; sleep 0.1; done
wine reg add "$key" /v "Install Path" /d "$(winpath "$product")" /f /reg:32 >/dev/null

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

echo "== the product before the installer ($product):"
(cd "$product" && find . -mindepth 1 | sort | sed 's/^/   /')
echo "== its download ledger before:"
tr -d '\r' < "$product/Cfg/config.ini" | sed -n '/^\[DownFiles\]/,$p' | sed 's/^/   /'

echo "== wine demo-setup.exe /S"
# The folder walk of the cleanup traces every entry on standard output.
(cd "$work" && wine demo-setup.exe /S > "$work/cleanup-trace.txt")
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
echo "== the product afterwards (what stayed):"
(cd "$product" && find . -mindepth 1 | sort | sed 's/^/   /')
echo "== the folder behind the link in \"Hotfix\":"
(cd "$work" && find outside-folder | sed 's/^/   /')
echo "== its download ledger afterwards:"
tr -d '\r' < "$product/Cfg/config.ini" | sed -n '/^\[DownFiles\]/,$p' | sed 's/^/   /'
echo "== the cleanup's trace lines on standard output: $(wc -l < "$work/cleanup-trace.txt") (the first three:)"
head -n 3 "$work/cleanup-trace.txt" | sed 's/^/   /'
