#!/usr/bin/env bash
# The Windows tests' runner leaves nothing running: a program run in the shared prefix and one in
# a fresh prefix, then the test command's stop-all on the prefixes' folder named relatively (as the
# test command names it), and afterwards no process of ours is running in any of those prefixes.
# Ours are recognised by their WINEPREFIX, not by a program's name.
# Prints "N passed, M failed" and exits 1 on any failure.
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
. "$top/scripts/processes.sh"
work=$(mktemp -d)
cd "$work" || exit 1
trap 'cd /; "$top/scripts/wine-prefix.sh" "$work/wine" stop-all >/dev/null 2>&1; rm -rf "$work"' EXIT
. "$top/tests/support/checks.sh"
ours() { lk_pids_with_env prefix "WINEPREFIX=$work/wine/"; }
none_left() { [ -z "$(ours)" ]; }
some_left() { [ -n "$(ours)" ]; }

exe=""
for candidate in /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/cmd.exe \
                 /usr/lib/wine/x86_64-windows/cmd.exe; do
  [ -f "$candidate" ] && exe=$candidate && break
done
if [ -z "$exe" ]; then
  echo "Wine's 64-bit cmd.exe is missing: is wine64 installed (scripts/install-deps.sh)?" >&2
  exit 1
fi

export LK_WINE_ROOT=wine
check "a program runs in the shared prefix" \
  "$top/scripts/wine-run.sh" win64 "$exe" /c exit </dev/null >run.log 2>&1
check "a program runs in a fresh prefix" \
  "$top/scripts/wine-run.sh" win64-fresh "$exe" /c exit </dev/null >>run.log 2>&1
# A program still running in the shared prefix, as a test that was interrupted leaves one: cmd
# waits at "pause" for a key that never comes.
mkfifo keys
exec 7<>keys  # held open, never written: the key never comes
"$top/scripts/wine-run.sh" win64 "$exe" /c pause <keys >>run.log 2>&1 &
waiting=$!
running_program() {
  local pid
  for pid in $(ours); do
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qi 'cmd' && return 0
  done
  return 1
}
for _ in $(seq 100); do running_program && break; /bin/sleep 0.2; done
check "a program is still running in the shared prefix" running_program
check "the fresh prefix was ended with its program" \
  bash -c "! ls -d wine/win64-fresh.* >/dev/null 2>&1"
check "stop-all on a relative folder succeeds" "$top/scripts/wine-prefix.sh" wine stop-all
check "after stop-all no process runs in any prefix" none_left
exec 7>&-
wait "$waiting" 2>/dev/null

checks_done
