# shellcheck shell=bash
# Sourced by the test command and by wine-prefix.sh: find and end the processes that a run of ours
# left behind, recognised by an entry of their environment (a Wine prefix below our folder, or the
# test command's run marker), never by a program's name: another user's Wine or Xvfb is not ours.

# lk_pids_with_env prefix|exact ENTRY: the processes whose environment holds ENTRY (exact), or an
# entry that begins with ENTRY (prefix). This shell and the subshell asking are left out.
lk_pids_with_env() {
  local mode=$1 entry=$2 environ pid var
  for environ in /proc/[0-9]*/environ; do
    pid=${environ#/proc/}; pid=${pid%/environ}
    [ "$pid" = $$ ] || [ "$pid" = "$BASHPID" ] && continue
    while IFS= read -r -d '' var; do
      if [ "$mode" = exact ]; then
        [ "$var" = "$entry" ] && { echo "$pid"; break; }
      else
        case $var in "$entry"*) echo "$pid"; break ;; esac
      fi
    done 2>/dev/null <"$environ"
  done
  return 0
}

# lk_end_pids_with_env prefix|exact ENTRY: asks those processes to end, then kills them; says on
# stderr which are still there after that, and returns 1 then.
lk_end_pids_with_env() {
  local pids attempt
  for attempt in 1 2 3 4 5 6 7 8 9 10; do
    mapfile -t pids < <(lk_pids_with_env "$1" "$2")
    [ ${#pids[@]} -eq 0 ] && return 0
    if [ "$attempt" -le 5 ]; then
      kill "${pids[@]}" 2>/dev/null
    else
      kill -9 "${pids[@]}" 2>/dev/null
    fi
    sleep 0.5
  done
  mapfile -t pids < <(lk_pids_with_env "$1" "$2")
  [ ${#pids[@]} -eq 0 ] && return 0
  echo "processes still running ($2): ${pids[*]}" >&2
  return 1
}
