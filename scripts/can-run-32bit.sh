#!/usr/bin/env bash
# Exit 0 when 32-bit Linux programs (Wine's 32-bit loader) can run here: natively, or through the
# user-mode emulation that LK_WINE32=1 asks for (scripts/enable-wine32.sh registers it).
if [ "${LK_WINE32:-0}" = 1 ] && [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
  "$(dirname "$0")/enable-wine32.sh" >/dev/null 2>&1 || true
fi
/usr/lib/wine/wine --version >/dev/null 2>&1
