# shellcheck shell=bash
# Sourced by the test and run commands: lk_start_xvfb FIRST LAST starts Xvfb on the first free
# display number in FIRST..LAST, exports DISPLAY and sets xvfb_pid (empty when none started).
lk_start_xvfb() {
  local n
  xvfb_pid=""
  for n in $(seq "$1" "$2"); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    # shellcheck disable=SC2034  # read by the sourcing script
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    return 0
  done
  return 1
}
