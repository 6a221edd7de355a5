#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12, as root.
# Safe to run again: it only installs what is missing.
# A package index that fails to download (a mirror mid-sync) is a warning:
# the install goes on with the indexes at hand, and where the i386 and amd64
# versions of an update then disagree, it is tried once more pinned to the
# release. Only a package that still cannot be installed stops it.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q '^install ok installed$'; }

packages=(g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
          g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
          wine wine64 wine32:i386 nsis cmake ninja-build make googletest python3 sqlite3
          osslsigncode openssl)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  [ "$(id -u)" -eq 0 ] || { echo "run as root to add the i386 architecture" >&2; exit 1; }
  dpkg --add-architecture i386
fi

for p in "${packages[@]}"; do
  have "$p" || need+=("$p")
done
# npm fetches SQLite's amalgamation for the tarnbase.dll stand-in; a Node.js
# installed from elsewhere brings its own npm.
command -v npm >/dev/null 2>&1 || need+=(npm)

[ ${#need[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${need[*]}; run as root to install them" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
if ! apt-get update -qq; then
  echo "warning: apt-get update failed for some package indexes; going on with those at hand" >&2
fi
install() { apt-get install -y -qq --no-install-recommends "$@"; }
install "${need[@]}" && exit 0
echo "warning: the install was refused; trying once more pinned to the release (-t bookworm)" >&2
install -t bookworm "${need[@]}" && exit 0

# Name each package that still cannot be installed.
stuck=()
for p in "${need[@]}"; do
  have "${p%%:*}" || have "$p" || apt-get install -s -qq -t bookworm --no-install-recommends "$p" >/dev/null 2>&1 || stuck+=("$p")
done
if [ ${#stuck[@]} -eq 0 ]; then
  echo "the install was refused, though each package alone could be installed: ${need[*]}" >&2
else
  echo "these packages cannot be installed: ${stuck[*]}" >&2
fi
exit 1
