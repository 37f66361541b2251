#!/usr/bin/env bash
# Runs one Windows executable under Wine for ctest.
#   wine-run.sh KIND EXE [ARGS...]   KIND: win32 or win64 (the shared prefix of the build tree),
#                                    win32-fresh or win64-fresh (a private copy, ended afterwards)
# The prefixes live in LK_WINE_ROOT (default: a folder "wine" in the executable's build tree).
#
# A 32-bit executable needs Wine's 32-bit loader: native, or the emulated one that
# LK_WINE32_LOADER names (scripts/wine32/setup.sh sets it up where 32-bit code cannot execute).
# Without either it is skipped with exit code 77.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
kind=$1; shift
exe=$1; shift
root=${LK_WINE_ROOT:-}
if [ -z "$root" ]; then
  dir=$(cd "$(dirname "$exe")" && pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  root=$dir/wine
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}

machine=$("$here/pe-machine.sh" "$exe")
arch=${kind%-fresh}
if [ "$machine" = i386 ] && ! "$here/wine32/can-run.sh"; then
  if [ -n "${LK_WINE32_UNAVAILABLE:-}" ]; then
    echo "wine-run.sh: skipping $(basename "$exe"): $LK_WINE32_UNAVAILABLE." >&2
  elif [ ! -x /usr/lib/wine/wine ]; then
    echo "wine-run.sh: skipping $(basename "$exe"): Wine's 32-bit side (wine32:i386) is not installed." >&2
  else
    echo "wine-run.sh: this machine cannot execute 32-bit code; skipping $(basename "$exe")." >&2
    echo "  The test command (scripts/test-all.sh) sets up an emulated loader for them." >&2
  fi
  echo "  The mingw64 preset's build runs the same tests in a 64-bit prefix." >&2
  exit 77
fi
if [ "$machine" = amd64 ] && [ "$arch" = win32 ]; then
  echo "wine-run.sh: a 64-bit executable cannot run in a 32-bit prefix" >&2
  exit 2
fi
loader=${LK_WINE32_LOADER:+$LK_WINE32_LOADER/}wine
[ "$machine" = amd64 ] && loader=/usr/lib/wine/wine64

# Where 32-bit code runs only under emulation, Wine's 64-bit loader cannot start the 32-bit
# half of a 64-bit prefix, so such a prefix has no syswow64: a 32-bit program cannot run there.
wow64_missing() {  # prefix
  [ "$machine" = i386 ] && [ "$arch" = win64 ] && [ -n "${LK_WINE32_LOADER:-}" ] &&
    [ ! -f "$1/drive_c/windows/syswow64/kernel32.dll" ]
}
skip_without_wow64() {
  echo "wine-run.sh: skipping $(basename "$exe"): under emulated 32-bit code the 64-bit prefix has no 32-bit side (syswow64)." >&2
  echo "  The 32-bit prefix and the mingw64 preset's 64-bit prefix run the same tests." >&2
  exit 77
}

case "$kind" in
  win32|win64)
    prefix=$("$here/wine-prefix.sh" "$root" "$arch")
    wow64_missing "$prefix" && skip_without_wow64
    WINEPREFIX=$prefix exec "$loader" "$exe" "$@"
    ;;
  win32-fresh|win64-fresh)
    prefix=$("$here/wine-prefix.sh" "$root" "$arch" fresh)
    if wow64_missing "$prefix"; then
      "$here/wine-prefix.sh" "$root" stop "$prefix"
      rm -rf "$prefix"
      skip_without_wow64
    fi
    rc=0
    WINEPREFIX=$prefix "$loader" "$exe" "$@" || rc=$?
    "$here/wine-prefix.sh" "$root" stop "$prefix"
    rm -rf "$prefix"
    exit $rc
    ;;
  *)
    echo "wine-run.sh: unknown prefix kind $kind" >&2
    exit 2
    ;;
esac
