#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12, as root.
# Safe to run again: it only installs what is missing.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q '^install ok installed$'; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi

for p in g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686 \
         wine wine64 wine32:i386 nsis cmake ninja-build make googletest python3 sqlite3; do
  have "$p" || need+=("$p")
done
# npm fetches SQLite's amalgamation for the tarnbase.dll stand-in; a Node.js
# installed from elsewhere brings its own npm.
command -v npm >/dev/null 2>&1 || need+=(npm)

if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${need[*]}; run as root to install them" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
