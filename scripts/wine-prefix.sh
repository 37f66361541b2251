#!/usr/bin/env bash
# Wine prefixes for the tests, kept in one folder of the build tree.
#
#   wine-prefix.sh ROOT ARCH        prints the path of the shared prefix ARCH (win32 or win64),
#                                   creating it and starting its server on first use
#   wine-prefix.sh ROOT ARCH fresh  prints the path of a new private copy of the template,
#                                   with its own server (end it with: stop PATH)
#   wine-prefix.sh ROOT stop PATH   ends the server of PATH (and every process in that prefix)
#   wine-prefix.sh ROOT stop-all    ends the servers of every prefix below ROOT, and then every
#                                   process still running in one of them
#
# Wine's system processes inherit the standard handles of the first Wine command of a session,
# so every first command here writes to a log file, never to a pipe that a caller may read.
set -euo pipefail
. "$(dirname "$0")/processes.sh"
what=$2
mkdir -p "$1"
# Wine refuses a relative WINEPREFIX (and wineserver -k then ends nothing), so every prefix path
# this script hands out or stops is absolute.
root=$(cd "$1" && pwd)
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}

# The 64-bit loader for 64-bit prefixes: the 32-bit one may be unable to run on this machine.
# 32-bit prefixes take the emulated loader where LK_WINE32_LOADER names one (scripts/wine32/).
loader_for() {  # arch
  if [ "$1" = win64 ]; then
    echo /usr/lib/wine/wine64
  else
    echo "${LK_WINE32_LOADER:+$LK_WINE32_LOADER/}wine"
  fi
}

start_server() {  # prefix arch
  local prefix=$1 loader
  loader=$(loader_for "$2")
  # A second server for a prefix that already has one exits at once, so this is safe to repeat.
  # The lock's descriptor (9) must not live on in the server and the system processes.
  WINEPREFIX=$prefix setsid wineserver -f -p </dev/null >/dev/null 2>&1 9>&- &
  echo $! >"$prefix/.server"
  # Until its socket is there, the next Wine command would start a server of its own, one that
  # ends seconds after its last program and takes this one's place.
  local socket _
  socket=$(printf '/tmp/.wine-%s/server-%x-%x/socket' "$(id -u)" \
    "$(stat -c %d "$prefix")" "$(stat -c %i "$prefix")")
  for _ in $(seq 100); do
    [ -S "$socket" ] && break
    kill -0 "$!" 2>/dev/null || break
    sleep 0.05
  done
  # Bring up the system processes (services, device manager) with their output in a file.
  WINEPREFIX=$prefix "$loader" cmd /c exit </dev/null >>"$prefix/.session.log" 2>&1 9>&- || true
}

make_template() {  # arch
  local arch=$1 template=$root/template-$1 loader
  loader=$(loader_for "$arch")
  [ -f "$template/.ready" ] && return 0
  rm -rf "$template"
  if [ "$arch" = win32 ]; then export WINEARCH=win32; else export WINEARCH=win64; fi
  WINEPREFIX=$template "$loader" wineboot -i </dev/null >"$root/template-$arch.log" 2>&1 9>&-
  # Without a window manager every window close would wait for one.
  WINEPREFIX=$template "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
    </dev/null >>"$root/template-$arch.log" 2>&1 9>&-
  mkdir -p "$template/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/*.ttf "$template/drive_c/windows/Fonts/" 2>/dev/null || true
  WINEPREFIX=$template wineserver -w 9>&-
  unset WINEARCH
  touch "$template/.ready"
}

stop_server() {  # prefix
  local prefix
  prefix=$(cd "$1" 2>/dev/null && pwd) || return 0
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
  lk_end_pids_with_env exact "WINEPREFIX=$prefix" || true
}

case "$what" in
  stop)
    stop_server "$3"
    ;;
  stop-all)
    for p in "$root"/*/; do
      if [ -d "$p/drive_c" ]; then stop_server "${p%/}"; fi
    done
    # A server that outlived -k, or a process it left behind, is ended by its prefix.
    lk_end_pids_with_env prefix "WINEPREFIX=$root/"
    ;;
  win32|win64)
    exec 9>"$root/.lock-$what"
    flock 9
    make_template "$what"
    if [ "${3:-}" = fresh ]; then
      prefix=$(mktemp -d "$root/$what-fresh.XXXXXX")
      rmdir "$prefix"
      cp -a "$root/template-$what" "$prefix"
      flock -u 9
      start_server "$prefix" "$what"
    else
      prefix=$root/$what
      if [ ! -f "$prefix/.ready" ]; then
        rm -rf "$prefix"
        cp -a "$root/template-$what" "$prefix"
        rm -f "$prefix/.server"
      fi
      if ! { [ -f "$prefix/.server" ] && kill -0 "$(cat "$prefix/.server")" 2>/dev/null; }; then
        start_server "$prefix" "$what"
      fi
    fi
    echo "$prefix"
    ;;
  *)
    echo "usage: wine-prefix.sh ROOT win32|win64 [fresh] | ROOT stop PATH | ROOT stop-all" >&2
    exit 2
    ;;
esac
