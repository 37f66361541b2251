# shellcheck shell=bash
# Sourced by the test and run commands: where this machine cannot execute 32-bit x86 code, makes
# Wine's 32-bit loader run under emulation (scripts/wine32-loader.sh) and exports its folder as
# LK_WINE32_LOADER, which every script and test runner then uses for 32-bit programs.
# LK_WINE32=0 leaves it off (the 32-bit tests are then skipped on such a machine).
# Where no 32-bit Wine can be had at all, LK_WINE32_UNAVAILABLE says why, for the commands to
# report.
#   . scripts/wine32-env.sh TOP
lk_wine32_env() {
  local top=$1 loader
  [ -n "${LK_WINE32_LOADER:-}" ] && return 0
  if [ ! -x /usr/lib/wine/wine ]; then
    export LK_WINE32_UNAVAILABLE="Wine's 32-bit side (package wine32:i386) is not installed; install-deps.sh could not install it"
    echo "$LK_WINE32_UNAVAILABLE." >&2
    return 0
  fi
  if [ "${LK_WINE32:-1}" = 0 ]; then
    "$top/scripts/can-run-32bit.sh" ||
      export LK_WINE32_UNAVAILABLE="this machine cannot execute 32-bit code and LK_WINE32=0 turns its emulation off"
    return 0
  fi
  "$top/scripts/can-run-32bit.sh" && return 0
  echo "This machine cannot execute 32-bit x86 code: Wine's 32-bit side runs under emulation." >&2
  if loader=$("$top/scripts/wine32-loader.sh" "$top/build"); then
    export LK_WINE32_LOADER=$loader
  else
    export LK_WINE32_UNAVAILABLE="this machine cannot execute 32-bit code and no emulation for it could be set up"
    echo "No emulation for 32-bit code could be set up: the 32-bit Windows tests will be skipped." >&2
  fi
}
lk_wine32_env "$1"
