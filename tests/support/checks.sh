# Sourced by the shell tests: check runs one command as a named check and counts it, and
# checks_done prints "N passed, M failed" and fails when any check failed.
passed=0 failed=0
check() {  # description, command...
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $what" >&2; fi
}
checks_done() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
