#!/usr/bin/env bash
# The run command: installs what is missing, builds the Windows program (preset mingw) and starts
# AntiLauschkobold.exe under Wine in a prefix of its own, kept in build/run/wine.
#
#   bash scripts/run.sh         a 32-bit Windows prefix (default)
#   bash scripts/run.sh --64    a 64-bit Windows prefix (the 32-bit program runs under WOW64)
#
# With a display the program runs until its window is closed. Without one (no DISPLAY) the
# script starts Xvfb, lets the program run until its window is up, leaves a screenshot in
# build/run/screenshot-<arch>.png and ends the program.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

arch=win32
case "${1:-}" in
  "" | --32) ;;
  --64) arch=win64 ;;
  *)
    echo "usage: bash scripts/run.sh [--64]" >&2
    exit 2
    ;;
esac

bash scripts/install-deps.sh

# The program is 32-bit. Where this machine cannot execute 32-bit code, Wine's 32-bit side runs
# under emulation (scripts/wine32/); only if that cannot be set up does the script run the same
# program built for 64-bit Windows in a 64-bit prefix instead.
. scripts/wine32/setup.sh "$top"
preset=mingw
loader=${LK_WINE32_LOADER:+$LK_WINE32_LOADER/}wine
if [ -n "${LK_WINE32_UNAVAILABLE:-}" ]; then
  echo "run.sh: no 32-bit Wine here ($LK_WINE32_UNAVAILABLE);" \
    "running the 64-bit build in a 64-bit prefix instead" >&2
  preset=mingw64
  loader=/usr/lib/wine/wine64
  arch=win64
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target AntiLauschkobold
exe=$top/build/$preset/ui/AntiLauschkobold.exe

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
mkdir -p build/run
xvfb_pid=""
prefix=""
cleanup() {
  [ -n "$prefix" ] && scripts/wine-prefix.sh "$top/build/run/wine" stop "$prefix"
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  return 0
}
trap cleanup EXIT

headless=0
if [ -z "${DISPLAY:-}" ]; then
  headless=1
  . scripts/xvfb.sh
  lk_start_xvfb 140 170 || true
fi

echo "run.sh: preparing the $arch prefix (the first time takes a while)" >&2
prefix=$(scripts/wine-prefix.sh "$top/build/run/wine" "$arch")

if [ "$headless" = 0 ]; then
  WINEPREFIX=$prefix "$loader" "$exe" </dev/null >>build/run/program.log 2>&1 || true
  exit 0
fi

shot=$top/build/run/screenshot-$arch.png
WINEPREFIX=$prefix "$loader" "$exe" </dev/null >>build/run/program.log 2>&1 &
program=$!
# Wait until something is drawn on the empty screen, then give the window time to settle.
for _ in $(seq 240); do
  sleep 1
  import -window root -display "$DISPLAY" "$shot" 2>/dev/null || continue
  mean=$(convert "$shot" -format '%[fx:mean]' info: 2>/dev/null || echo 0)
  awk -v m="$mean" 'BEGIN { exit !(m > 0.02) }' && break
  kill -0 "$program" 2>/dev/null || break
done
sleep 3
import -window root -display "$DISPLAY" "$shot"
echo "run.sh: screenshot written to $shot"
