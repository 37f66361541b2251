#!/usr/bin/env bash
# Installs what the builds and tests need on a Debian 12 machine, as root.
# A second run finds everything in place and installs nothing.
#
# A Debian package index can be inconsistent for hours (an i386 index of the wrong size, say).
# Then the update is retried a few times, everything that can be installed is installed, and
# only the 32-bit Wine side is left out: the script says so on stderr and still exits 0, the test
# command reports the 32-bit Windows tests as skipped and the run command falls back to the 64-bit
# build. Anything else missing is an error (exit 1).
#
# --without-wine32 leaves the 32-bit Wine side alone (the release command builds, it runs nothing
# under Wine).
# --rescue also installs what the rescue medium's build and its boot test need (scripts/rescue.sh,
# scripts/test-rescue.sh); the ordinary test command does without them.
set -uo pipefail

packages=(cmake ninja-build g++ clang googletest libgtest-dev libgmock-dev
          g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
          g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
          wine wine64 fonts-wine xvfb xauth x11-apps xclip imagemagick
          nlohmann-json3-dev python3 libhivex-dev python3-hivex libssl-dev
          librsvg2-bin icoutils fonts-dejavu-core
          osslsigncode openssl zip unzip git
          python3-yaml ansible
          libtsk-dev ntfs-3g ntfs-3g-dev fdisk qemu-utils ewf-tools jq)
# Needs the i386 architecture and its index; may be missing on a machine whose index is broken.
optional=(wine32:i386)
# The rescue medium: the live system's builder, the boot loaders (Debian's signed shim and GRUB
# for UEFI, GRUB for BIOS), the ISO and FAT tools, and qemu with OVMF for its boot test. jq,
# whiptail and ntfs-3g are what the medium's own scripts run (lint and trial runs here).
rescue=(mmdebstrap squashfs-tools xorriso mtools dosfstools grub-common grub-pc-bin
        grub-efi-amd64-bin grub-efi-amd64-signed shim-signed qemu-system-x86 qemu-utils ovmf
        ntfs-3g jq whiptail util-linux fdisk)
with_rescue=0
for arg in "$@"; do
  case "$arg" in
    --without-wine32) optional=() ;;
    --rescue) with_rescue=1 ;;
  esac
done
[ "$with_rescue" -eq 1 ] && packages+=("${rescue[@]}")

is_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing_of() {  # names...
  local p
  for p in "$@"; do is_installed "$p" || echo "$p"; done
}

mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t missing_optional < <(missing_of "${optional[@]}")
[ ${#missing[@]} -eq 0 ] && [ ${#missing_optional[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} ${missing_optional[*]}; run this script as root to install them" >&2
  exit 1
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive

# An update that fails on one index still refreshes the others; apt then uses what it has.
for attempt in 1 2 3; do
  apt-get update -q && break
  echo "install-deps: apt-get update failed (attempt $attempt of 3)" >&2
  [ "$attempt" -lt 3 ] && sleep $((attempt * 10))
done

install() {  # names...
  local attempt
  for attempt in 1 2 3; do
    apt-get install -y -q --no-install-recommends "$@" && return 0
    [ "$attempt" -lt 3 ] && sleep $((attempt * 5))
  done
  return 1
}

if [ ${#missing[@]} -gt 0 ] && ! install "${missing[@]}"; then
  mapfile -t still < <(missing_of "${packages[@]}")
  echo "install-deps: could not install: ${still[*]}" >&2
  exit 1
fi
if [ ${#missing_optional[@]} -gt 0 ] && ! install "${missing_optional[@]}"; then
  echo "install-deps: could not install ${missing_optional[*]} (the package index is probably" \
    "inconsistent); going on without Wine's 32-bit side" >&2
fi
exit 0
