#!/usr/bin/env bash
# The test command: installs what is missing, builds the native and the Windows builds and runs
# every test (native with sanitizers; Windows under Wine in a 32-bit and a 64-bit prefix).
# A second run on the same machine skips the installs and reuses the builds and prefixes.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
top=$(pwd)
jobs=${LK_JOBS:-$(nproc)}

bash scripts/install-deps.sh || exit 1
# A program that a test starts and nothing installs fails here, in seconds, not after the builds.
/usr/bin/python3 scripts/check-test-programs.py || exit 1
. scripts/processes.sh
# Every process this run starts inherits the marker, so the cleanup finds what a test left
# behind (an Xvfb, a Wine server of a prefix elsewhere) without matching anyone else's by name.
export LK_TEST_RUN="$$-$(date +%s%N)"
# The 32-bit Windows tests need Wine's 32-bit side; emulated where this machine cannot run it.
. scripts/wine32/setup.sh "$top"

# A display for the window, dialog and clipboard tests.
xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
  . scripts/xvfb.sh
  lk_start_xvfb 90 120
fi

cleanup() {
  for w in build/mingw/wine build/mingw64/wine; do
    [ -d "$w" ] && scripts/wine-prefix.sh "$w" stop-all
  done
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  lk_end_pids_with_env exact "LK_TEST_RUN=$LK_TEST_RUN"
  return 0
}
trap cleanup EXIT
# Ctrl-C or a stop ends the run through the same cleanup.
trap 'exit 130' INT
trap 'exit 143' TERM

declare -A passed failed skipped
status=0
run_ctest() {  # preset
  local preset=$1 log=build/ctest-$1.log
  ctest --preset "$preset" -j "$jobs" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local counts
  counts=$(scripts/ctest-counts.sh "$log") || status=1
  read -r passed[$preset] failed[$preset] skipped[$preset] <<<"$counts"
  [ "$rc" -eq 0 ] || status=1
}

# What one build takes from another is passed as cache variables, which is why the presets run
# in this order: the end-to-end tests of both Windows builds compare the program with lksim of the
# native build (and lkscan.exe with the native lkscan --root), and the 64-bit build plays the scenarios of a 64-bit Windows with the 32-bit
# program and its helper.
build() {  # preset
  local preset=$1 inputs=()
  case "$preset" in
    mingw | mingw64)
      inputs+=("-DLK_LKSIM_EXECUTABLE=$top/build/native/testing/lksim/lksim"
               "-DLK_NATIVE_LKSCAN_EXECUTABLE=$top/build/native/tools/lkscan/lkscan"
               "-DLK_MAKE_HIVES_EXECUTABLE=$top/build/native/tests/support/lk_make_hives") ;;
  esac
  if [ "$preset" = mingw64 ]; then
    inputs+=("-DLK_PROGRAM32_EXECUTABLE=$top/build/mingw/ui/AntiLauschkobold.exe"
             "-DLK_HELPER32_EXECUTABLE=$top/build/mingw/tests/e2e/lke2e.exe")
  fi
  cmake --preset "$preset" "${inputs[@]}" >/dev/null && cmake --build --preset "$preset" -j "$jobs"
}

for preset in native native-clang mingw mingw64; do
  echo "=== $preset: build"
  if ! build "$preset"; then
    echo "=== $preset: build failed"
    status=1
    continue
  fi
  echo "=== $preset: tests"
  run_ctest "$preset"
done

echo
all_passed=0; all_failed=0; all_skipped=0
for preset in native native-clang mingw mingw64; do
  p=${passed[$preset]:-0}; f=${failed[$preset]:-0}; k=${skipped[$preset]:-0}
  echo "$preset: $p passed, $f failed, $k skipped"
  all_passed=$((all_passed + p)); all_failed=$((all_failed + f)); all_skipped=$((all_skipped + k))
done
if [ -n "${LK_WINE32_UNAVAILABLE:-}" ]; then
  echo "The 32-bit Windows tests were skipped: $LK_WINE32_UNAVAILABLE."
fi
echo "$all_passed passed, $all_failed failed, $all_skipped skipped"
exit $status
