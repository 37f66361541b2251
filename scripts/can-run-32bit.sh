#!/usr/bin/env bash
# Exit 0 when Wine's 32-bit loader may be used here: natively, or, with LK_WINE32=1, through the
# user-mode emulation that scripts/enable-wine32.sh registers. Emulation is many times slower, so
# it is used only when asked for, even where another run has registered it.
emulated() { [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && grep -q enabled /proc/sys/fs/binfmt_misc/qemu-i386; }
if [ "${LK_WINE32:-0}" = 1 ]; then
  emulated || "$(dirname "$0")/enable-wine32.sh" >/dev/null 2>&1 || true
  /usr/lib/wine/wine --version >/dev/null 2>&1
  exit
fi
emulated && exit 1
/usr/lib/wine/wine --version >/dev/null 2>&1
