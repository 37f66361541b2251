#!/usr/bin/env bash
# Installs what the builds and tests need on a Debian 12 machine, as root.
# A second run finds everything in place and installs nothing.
set -euo pipefail

packages=(cmake ninja-build g++ clang googletest libgtest-dev libgmock-dev
          g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
          g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
          wine wine64 wine32:i386 fonts-wine xvfb xauth x11-apps xclip imagemagick
          nlohmann-json3-dev python3
          librsvg2-bin icoutils fonts-dejavu-core)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]}; run this script as root to install them" >&2
  exit 1
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
