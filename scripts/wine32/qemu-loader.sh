#!/usr/bin/env bash
# Wine's 32-bit loader for a machine that cannot execute 32-bit x86 code (some virtual machines
# lack it): the loader runs under qemu's user-mode emulation.
#
#   qemu-loader.sh DIR
#
# Prints the folder of a 32-bit Wine loader (made below DIR) that runs under a fitting qemu.
# setup.sh exports it as LK_WINE32_LOADER: can-run.sh then says yes, and wine-prefix.sh,
# wine-run.sh and the end-to-end runner start every 32-bit program through it (32-bit prefixes
# included). Exit 1 when no fitting qemu can be had.
#
# Why not the system's qemu: qemu 7.2 (Debian 12) cannot run 32-bit Wine 8 reliably.
# - It treats MAP_FIXED_NOREPLACE as a hint and maps elsewhere when asked for an occupied range,
#   so Wine's reservation of the address space falls apart into some 30000 mappings of 64 KiB:
#   every process start costs about a minute of CPU.
# - It hands a page fault to the SIGSEGV handler with trap number -1, which Wine takes for an
#   illegal instruction: services, the device manager and new threads crash ("Got unexpected
#   trap -1", "qemu: uncaught target signal 11").
# qemu 8 and later do both right. Where no such qemu is installed, a private copy of Debian's
# qemu-user from the backports of this release is unpacked into a cache folder (apt-get download
# with private package lists; nothing is installed and no binfmt entry is changed). LK_QEMU_I386
# names a qemu-i386 to use instead; LK_QEMU_CACHE the cache folder.
#
# binfmt_misc would hand every process that Wine starts to the system's qemu, so the loader is
# reached through a small tree that mirrors /usr: its lib/wine/wine is a script that runs a copy
# of the 32-bit loader under the chosen qemu. Wine starts child processes with the loader of the
# folder it runs from, and finds ntdll, its data and the server through the same relative paths as
# in /usr.
set -euo pipefail
root=$1
mkdir -p "$root"
root=$(cd "$root" && pwd)

qemu_major() {  # binary
  "$1" --version 2>/dev/null | sed -n '1s/.*version \([0-9]*\)\..*/\1/p'
}

fitting_qemu() {
  local candidate major
  for candidate in ${LK_QEMU_I386:-} qemu-i386-static qemu-i386; do
    candidate=$(command -v "$candidate" 2>/dev/null) || continue
    major=$(qemu_major "$candidate")
    if [ -n "$major" ] && [ "$major" -ge 8 ]; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

# Unpacks qemu-user from the backports of this Debian release into the cache folder.
private_qemu() {
  local cache=${LK_QEMU_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/lk-qemu-user}
  local codename work apt_options
  if [ -x "$cache/usr/bin/qemu-i386" ]; then
    echo "$cache/usr/bin/qemu-i386"
    return 0
  fi
  codename=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)
  work=$(mktemp -d)
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/parts" "$work/deb"
  cat >"$work/parts/backports.sources" <<EOF
Types: deb
URIs: http://deb.debian.org/debian
Suites: $codename-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  apt_options=(-q -o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$work/parts"
               -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache"
               -o "APT::Sandbox::User=root")
  apt-get "${apt_options[@]}" update >&2
  (cd "$work/deb" && apt-get "${apt_options[@]}" download qemu-user >&2)
  rm -rf "$cache.new"
  mkdir -p "$cache.new"
  dpkg-deb -x "$work"/deb/qemu-user_*.deb "$work/unpacked"
  mkdir -p "$cache.new/usr/bin"
  mv "$work/unpacked/usr/bin/qemu-i386" "$cache.new/usr/bin/qemu-i386"
  rm -rf "$work" "$cache"
  mv "$cache.new" "$cache"
  echo "$cache/usr/bin/qemu-i386"
}

qemu=$(fitting_qemu || private_qemu)
major=$(qemu_major "$qemu")
if [ -z "$major" ] || [ "$major" -lt 8 ]; then
  echo "qemu-loader.sh: no usable qemu-i386 (8 or later) at $qemu" >&2
  exit 1
fi

# The loader tree.
tree=$root/wine32-loader/usr
bin=$tree/lib/wine
mkdir -p "$bin"
# Replaced, never rewritten in place: running emulated processes map this file.
if ! cmp -s /usr/lib/wine/wine "$bin/wine-i386"; then
  cp /usr/lib/wine/wine "$bin/wine-i386.new"
  mv "$bin/wine-i386.new" "$bin/wine-i386"
fi
ln -sfn /usr/lib/wine/wineserver "$bin/wineserver"
ln -sfn /usr/lib/wine/wine64 "$bin/wine64"
ln -sfn /usr/lib/i386-linux-gnu "$tree/lib/i386-linux-gnu"
ln -sfn /usr/lib/x86_64-linux-gnu "$tree/lib/x86_64-linux-gnu"
ln -sfn /usr/share "$tree/share"
cat >"$bin/wine.new" <<EOF
#!/bin/sh
# Wine's 32-bit loader under $("$qemu" --version | head -n 1).
exec "$qemu" -0 "\$0" "\$(dirname "\$0")/wine-i386" "\$@"
EOF
chmod +x "$bin/wine.new"
mv "$bin/wine.new" "$bin/wine"

"$bin/wine" --version >/dev/null 2>&1 || {
  echo "qemu-loader.sh: the loader does not start under $qemu" >&2
  exit 1
}
echo "$bin"
