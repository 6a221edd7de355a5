#!/usr/bin/env bash
# Runs the demo installer under Wine: it calls each export of the plug-in
# once, and this script shows what each call did: the stack and $R0 it left,
# the processes it ended, the trees and downloads it deleted, the beacon
# request as a loopback page counter saw it, the rows of the offline cache,
# and the records the info-collection stand-in received. Nothing leaves this
# machine: the installers load the copy of the plug-in whose beacon goes to
# 127.0.0.1.
# It runs the flavour this host can run: the x86-ansi plug-in in an ANSI
# installer, or, where 32-bit Windows programs cannot start, the
# amd64-unicode plug-in in a 64-bit installer with the 64-bit helpers and
# stand-ins; the first line says which.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
work=$build/demo
prefix=$build/wine/main
"$root/scripts/wine-prefix.sh" "$prefix" main >/dev/null
target=$("$root/scripts/host-flavour.sh" "$build")
if [ "$target" = amd64-unicode ]; then
  echo "== flavour: amd64-unicode (this host cannot start 32-bit Windows programs): a 64-bit installer"
  wine=/usr/lib/wine/wine64 part=$build/amd64
else
  echo "== flavour: x86-ansi: an ANSI installer"
  wine=wine part=$build
fi
plugin_dir=$build/$target-loopback
bin=$part/tests/bin
standins=$part/standins

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY
rm -rf "$work"
mkdir -p "$work"
winpath() { echo "Z:${1//\//\\}"; }
processes() { "$wine" "$bin/proclist.exe" | tr -d '\r'; }
indent() { sed 's/^/   /'; }
data=$prefix/drive_c/ProgramData/Tolmen/Lumbra
product=$work/Vardo

echo "== plug-in: $plugin_dir/tmnsisplug.dll ($(stat -c %s "$plugin_dir/tmnsisplug.dll") bytes)"
echo "   the copy built for tests and this demo: its beacon goes to 127.0.0.1, never to the internet"
echo "   (the shipped build/$target/tmnsisplug.dll names the hosts set at build time)"
makensis -V2 -DTARGET="$target" -DPLUGIN_DIR="$plugin_dir" -DOUT_FILE="$work/demo-setup.exe" "$root/examples/demo.nsi"
makensis -V2 -DTARGET="$target" -DPLUGIN_DIR="$plugin_dir" -DOUT_FILE="$work/demo-report.exe" -DREPORT_ONLY \
  "$root/examples/demo.nsi"

# A small tree to delete, with a read-only file and a hidden folder.
mkdir -p "$work/demo-tree/Cfg" "$work/demo-tree/Hotfix/.cache"
echo data > "$work/demo-tree/Cfg/config.ini"
echo data > "$work/demo-tree/Hotfix/kb1.msu"
echo data > "$work/demo-tree/Hotfix/.cache/part.tmp"
chmod a-w "$work/demo-tree/Cfg/config.ini"

# One program alone first, which keeps the prefix's wineserver up for the
# whole demo: several programs started at once against a cold server can
# stall for a minute.
cp "$bin/tmwait.exe" "$work/tmanchor.exe"
"$wine" "$work/tmanchor.exe" 600 "$(winpath "$work/anchor.ready")" &
anchor=$!
counter=
cleanup() {
  [ -n "$counter" ] && kill "$counter" 2>/dev/null || true
  # The product's key and the data folder go; the data folder's files are
  # kept in the demo's folder.
  "$wine" reg delete 'HKLM\SOFTWARE\Vardo' /f /reg:32 >/dev/null 2>&1 || true
  if [ -d "$data" ]; then cp -r "$data" "$work/data-folder"; rm -rf "$data"; fi
  kill $anchor 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 1800); do [ -e "$work/anchor.ready" ] && break; sleep 0.1; done

# The page counter on 127.0.0.1: port 80, where the beacon goes directly,
# unless port 80 is taken; then a free port, named as the product's proxy.
"$root/scripts/counter_server.py" "$work/counter.port" "$work/counter-requests.txt" &
counter=$!
for _ in $(seq 100); do [ -s "$work/counter.port" ] && break; sleep 0.1; done
port=$(cat "$work/counter.port")
if [ "$port" = 80 ]; then
  proxy=$'Mode=0'
  echo "== the page counter listens on 127.0.0.1:80; the product connects directly"
else
  proxy=$'Mode=2\r\nHost=127.0.0.1\r\nPort='$port
  echo "== port 80 is taken: the page counter listens on 127.0.0.1:$port, named as the product's proxy"
fi

# The product, installed into the prefix: its registry key, its version
# library, its info-collection library (the stand-in), its download folders
# with a ledger, and its database library (the stand-in) beside the installers.
mkdir -p "$product/Cfg" "$product/Hotfix" "$product/Orvik/Download" "$product/Driver/Download" "$product/ovec"
printf '[Proxy]\r\n%s\r\n[DownFiles]\r\n1=kb5001.msu\r\n[InstedRet]\r\n1=1\r\n' "$proxy" > "$product/Cfg/config.ini"
echo data > "$product/Hotfix/kb5001.msu"
echo data > "$product/Orvik/Download/tool-setup.exe"
echo data > "$product/Orvik/Download/tool-setup.exe.tmp"
echo data > "$product/Driver/Download/driver.zip"
cp "$bin/versions/pelvo_2_5/pelvo.dll" "$product/pelvo.dll"
cp "$standins/gleanor/gleanor.dll" "$product/ovec/gleanor.dll"
cp "$standins/tarnbase.dll" "$work/tarnbase.dll"
"$wine" reg delete 'HKLM\SOFTWARE\Vardo' /f /reg:32 >/dev/null 2>&1 || true
"$wine" reg add 'HKLM\SOFTWARE\Vardo' /v "Install Path" /d "$(winpath "$product")" /f /reg:32 >/dev/null
"$wine" reg add 'HKLM\SOFTWARE\Vardo\Coop' /v OEMID /d 7 /f /reg:32 >/dev/null
"$wine" reg add 'HKLM\SOFTWARE\Vardo\Coop' /v PreOEMID /d 5 /f /reg:32 >/dev/null
"$wine" reg add 'HKLM\SOFTWARE\Vardo\Coop' /v InstallType /t REG_DWORD /d 1 /f /reg:32 >/dev/null
rm -rf "$data"

# Stand-ins for the product: two copies of its helper and its main windows.
cp "$bin/tmwait.exe" "$work/VardoHelper.exe"
"$wine" "$work/VardoHelper.exe" 60 & "$wine" "$work/VardoHelper.exe" 60 &
"$wine" "$bin/winhost.exe" "$(winpath "$work/windows.txt")" 1 30 &
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
processes | grep -E $'\t(VardoHelper|winhost)\\.exe$' | indent

echo "== the tree to delete, and the product's download folders:"
(cd "$work" && find demo-tree | sort | indent)
(cd "$product" && find Hotfix Orvik Driver | sort | indent)
echo "== the product's configuration file, with its download ledger (Vardo/Cfg/config.ini):"
tr -d '\r' < "$product/Cfg/config.ini" | indent

echo "== wine demo-setup.exe /S"
# The cleanup's folder walk writes a trace line per entry; only their count is shown.
(cd "$work" && "$wine" demo-setup.exe /S) > "$work/demo-setup.out"
echo "   (the folder walk wrote $(grep -c . "$work/demo-setup.out" || true) trace lines)"

# "_?=" runs the uninstaller in place, so Wine waits for it.
echo "== wine demo-uninstall.exe /S"
(cd "$work" && "$wine" demo-uninstall.exe /S "_?=$(winpath "$work")")

# The counter goes away: the next install report is refused at once, and
# stored in the offline cache.
kill "$counter"
wait "$counter" 2>/dev/null || true
counter=
echo "== the page counter stopped; wine demo-report.exe /S (ReportInstall alone)"
(cd "$work" && "$wine" demo-report.exe /S)
kill $anchor 2>/dev/null || true
wait $anchor 2>/dev/null || true

echo "== what each call left (demo-report.txt):"
tr -d '\r' < "$work/demo-report.txt" | indent
echo "== what the product's windows received:"
indent < "$work/windows.txt"
echo "== still running afterwards:"
processes | grep -E $'\t(VardoHelper|winhost)\\.exe$' | indent || echo "   (none of them)"
echo "== the tree afterwards:"
if [ -e "$work/demo-tree" ]; then (cd "$work" && find demo-tree | indent); else echo "   (gone)"; fi
echo "== the product's download folders afterwards:"
(cd "$product" && { find Hotfix Orvik Driver 2>/dev/null || true; } | sort | indent)
echo "== the configuration file afterwards: the ledger lost the entry whose download went"
tr -d '\r' < "$product/Cfg/config.ini" | indent
echo "== the beacon request as the page counter saw it:"
tr -d '\r' < "$work/counter-requests.txt" | indent
echo "== the rows of feed.cache (the report sent with the counter stopped):"
sqlite3 -header "$data/feed.cache" 'select CommitTime, ID, URL, RefererURL from statistic3' | indent
for log in "$data"/*_statistic.log; do
  echo "== the statistic log, named after the installer ($(basename "$log")):"
  iconv -f UTF-16 -t UTF-8 "$log" | tr -d '\r' | indent
done
echo "== what the uninstall report left (demo-uninstall-report.txt):"
tr -d '\r' < "$work/demo-uninstall-report.txt" | indent
echo "== the records the info-collection stand-in received (Vardo/ovec/gleanor.log):"
tr -d '\r' < "$product/ovec/gleanor.log" | grep -E '^(write|commit|unload|summary)' | indent
echo "== (the data folder's files are kept in $work/data-folder)"
