#!/usr/bin/env bash
# Exit 0 when Wine can run 32-bit Windows programs here: natively, or through the emulated loader
# of qemu-loader.sh that LK_WINE32_LOADER names (for machines that cannot execute 32-bit x86
# code). A binfmt entry that hands 32-bit code to the system's qemu does not count: that qemu
# cannot run Wine reliably (see qemu-loader.sh).
if [ -n "${LK_WINE32_LOADER:-}" ]; then
  "$LK_WINE32_LOADER/wine" --version >/dev/null 2>&1
  exit
fi
grep -qs enabled /proc/sys/fs/binfmt_misc/qemu-i386 && exit 1
/usr/lib/wine/wine --version >/dev/null 2>&1
