#!/usr/bin/env bash
# Runs one Windows executable under Wine for ctest.
#   wine-run.sh ARCH EXE [ARGS...]    ARCH: win32 or win64 (shared prefix of the build tree),
#                                     win32-fresh or win64-fresh (a private copy, ended afterwards)
# The prefixes live in LK_WINE_ROOT (default: a folder "wine" beside the executable's build tree).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
arch=$1; shift
exe=$1; shift
root=${LK_WINE_ROOT:-}
if [ -z "$root" ]; then
  dir=$(cd "$(dirname "$exe")" && pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  root=$dir/wine
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
case "$arch" in
  win32|win64)
    prefix=$("$here/wine-prefix.sh" "$root" "$arch")
    WINEPREFIX=$prefix exec wine "$exe" "$@"
    ;;
  win32-fresh|win64-fresh)
    prefix=$("$here/wine-prefix.sh" "$root" "${arch%-fresh}" fresh)
    rc=0
    WINEPREFIX=$prefix wine "$exe" "$@" || rc=$?
    "$here/wine-prefix.sh" "$root" stop "$prefix"
    rm -rf "$prefix"
    exit $rc
    ;;
  *)
    echo "wine-run.sh: unknown prefix kind $arch" >&2
    exit 2
    ;;
esac
