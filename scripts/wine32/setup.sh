# shellcheck shell=bash
# Wine's 32-bit side for the test and run commands, the one entry point of this folder:
#
#   . scripts/wine32/setup.sh TOP
#
# Afterwards exactly one of these holds:
# - 32-bit Wine runs here, natively or under emulation: LK_WINE32_LOADER names the emulated
#   loader's folder where this machine cannot execute 32-bit x86 code (qemu-loader.sh); every
#   script and test runner then starts 32-bit programs through it;
# - it does not: LK_WINE32_UNAVAILABLE says why, for the commands to report, and the 32-bit
#   tests are skipped.
# LK_WINE32=0 leaves the emulation off. can-run.sh answers the same question for a single
# program start (wine-run.sh, the end-to-end runner).
lk_wine32_setup() {
  local top=$1 here loader
  here=$top/scripts/wine32
  unset LK_WINE32_UNAVAILABLE
  if [ -z "${LK_WINE32_LOADER:-}" ]; then
    if [ ! -x /usr/lib/wine/wine ]; then
      export LK_WINE32_UNAVAILABLE="Wine's 32-bit side (package wine32:i386) is not installed; install-deps.sh could not install it"
      echo "$LK_WINE32_UNAVAILABLE." >&2
      return 0
    fi
    "$here/can-run.sh" && return 0
    if [ "${LK_WINE32:-1}" = 0 ]; then
      export LK_WINE32_UNAVAILABLE="this machine cannot execute 32-bit code and LK_WINE32=0 turns its emulation off"
      return 0
    fi
    echo "This machine cannot execute 32-bit x86 code: Wine's 32-bit side runs under emulation." >&2
    if loader=$("$here/qemu-loader.sh" "$top/build"); then
      export LK_WINE32_LOADER=$loader
    else
      export LK_WINE32_UNAVAILABLE="this machine cannot execute 32-bit code and no emulation for it could be set up"
      echo "No emulation for 32-bit code could be set up: the 32-bit Windows tests will be skipped." >&2
      return 0
    fi
  fi
  "$here/can-run.sh" ||
    export LK_WINE32_UNAVAILABLE="the 32-bit loader at $LK_WINE32_LOADER does not start"
  return 0
}
lk_wine32_setup "$1"
