#!/usr/bin/env bash
# The test command's own pieces, on made-up input:
# - ctest-counts.sh counts a skipped test as skipped, not as passed;
# - install-deps.sh goes on without Wine's 32-bit side when the package index is broken: apt-get,
#   dpkg and friends are stand-ins on PATH that fail the index update and the i386 install;
#   with --without-wine32 (the release command) it does not even ask for that side; the rescue
#   medium's tools are asked for only with --rescue;
# - check-test-programs.py names each program that a made-up tree starts and nothing installs,
#   with the file and line, and passes a tree whose programs are all accounted for; what only the
#   rescue array installs counts in a file that installs it, and nowhere else;
# - processes.sh ends the processes that carry a run's marker and leaves every other alone.
# Prints "N passed, M failed" and exits 1 on any failure.
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$top/tests/support/checks.sh"

# --- ctest-counts.sh ---------------------------------------------------------------------------
cat >"$work/ctest.log" <<'LOG'
      Start  1: a
1/4 Test  #1: a ..........................   Passed    0.10 sec
2/4 Test  #2: b ..........................***Skipped   0.01 sec
3/4 Test  #3: c ..........................***Failed    0.20 sec
4/4 Test  #4: d ..........................***Skipped   0.01 sec

50% tests passed, 1 tests failed out of 4
LOG
check "a skip is counted as skipped" test "$("$top/scripts/ctest-counts.sh" "$work/ctest.log")" = "1 1 2"
printf 'ninja: build stopped\n' >"$work/broken.log"
check "a log without a summary is an error" bash -c "! '$top/scripts/ctest-counts.sh' '$work/broken.log' >/dev/null"

# --- install-deps.sh with a broken index ---------------------------------------------------------
stubs=$work/bin
mkdir -p "$stubs"
calls=$work/apt-calls
stub() {  # name, body
  printf '#!/usr/bin/env bash\n%s\n' "$2" >"$stubs/$1"
  chmod +x "$stubs/$1"
}
stub id 'echo 0'
stub sleep ':'
stub dpkg-query 'exit 1'  # nothing is installed yet
stub dpkg 'case "$1" in --print-foreign-architectures) echo i386 ;; esac'
stub apt-get "echo \"\$*\" >>'$calls'
case \"\$*\" in
  *update*) echo 'E: Failed to fetch .../binary-i386/Packages.xz  File has unexpected size' >&2; exit 100 ;;
  *wine32:i386*) echo 'E: Unable to correct problems, you have held broken packages.' >&2; exit 100 ;;
esac
exit 0"
PATH="$stubs:$PATH" bash "$top/scripts/install-deps.sh" >"$work/install.out" 2>"$work/install.err"
code=$?
check "install-deps goes on without the 32-bit side (exit $code)" test "$code" -eq 0
check "it tried the update three times" test "$(grep -c update "$calls")" -eq 3
check "it installed the other packages" grep -q "install .*mingw-w64" "$calls"
check "it says what it left out" grep -q "wine32:i386" "$work/install.err"

# --- install-deps.sh for the release command: everything there but Wine's 32-bit side ------------
: >"$calls"
stub dpkg-query 'case "$*" in *wine32*) exit 1 ;; *) echo "install ok installed" ;; esac'
PATH="$stubs:$PATH" bash "$top/scripts/install-deps.sh" --without-wine32 >/dev/null 2>&1
code=$?
check "--without-wine32 is content without the 32-bit side (exit $code)" test "$code" -eq 0
check "--without-wine32 asks apt for nothing" test ! -s "$calls"
PATH="$stubs:$PATH" bash "$top/scripts/install-deps.sh" >/dev/null 2>&1
check "without the flag the 32-bit side is still asked for" grep -q "wine32:i386" "$calls"

# --- install-deps.sh --rescue: the rescue medium's tools only when asked for ---------------------
: >"$calls"
stub dpkg-query 'case "$*" in *wine32*|*mmdebstrap*|*ovmf*) exit 1 ;; *) echo "install ok installed" ;; esac'
PATH="$stubs:$PATH" bash "$top/scripts/install-deps.sh" --without-wine32 >/dev/null 2>&1
check "without --rescue the medium's tools are not asked for" test ! -s "$calls"
PATH="$stubs:$PATH" bash "$top/scripts/install-deps.sh" --without-wine32 --rescue >/dev/null 2>&1
code=$?
check "--rescue installs what is missing of them (exit $code)" \
  grep -q "install .*mmdebstrap.*ovmf" "$calls"
check "--rescue with --without-wine32 still leaves the 32-bit side alone" \
  bash -c "! grep -q wine32 '$calls'"

# --- check-test-programs.py: a program that nothing installs is named with the file that starts it
fake=$work/fake-top
mkdir -p "$fake/tests/area" "$fake/scripts"
cat >"$fake/CMakeLists.txt" <<'CMAKE'
add_executable(lkfake main.cpp)
add_test(NAME fake.cmake COMMAND lk-missing-in-cmake --flag)
add_test(NAME fake.built COMMAND lkfake)
CMAKE
cat >"$fake/tests/area/driver_test.py" <<'PY'
import shutil
import subprocess
subprocess.run(['sha256sum', 'x'])
subprocess.run(['lk-missing-in-python', '--flag'], check=True)
tool = 'lk-missing-by-name'
subprocess.run([tool, 'x'])
def run(command):
    return subprocess.run(command, capture_output=True)
run(['lk-missing-through-a-helper', 'x'])
shutil.which('lk-missing-looked-up')
PY
cat >"$fake/tests/area/driver.sh" <<'SH'
#!/usr/bin/env bash
check() { local what=$1; shift; "$@"; }
helper() { echo "$1"; }
x=$(lk-missing-in-substitution -q) || exit 1
case "$x" in
  lk-pattern | other) helper "a" ;;
esac
timeout 5 lk-missing-after-timeout arg
check "description" lk-missing-after-a-runner arg
bash -c 'lk-missing-in-bash-c' | tee out.log
cat <<TEXT
lk-not-a-command-in-a-heredoc
TEXT
"$(dirname "$0")/driver_test.py" && lkfake && sort out.log >/dev/null
xorriso -version >/dev/null
quietly lk-missing-after-a-sourced-runner
SH
cat >"$fake/tests/area/lib.sh" <<'SH'
quietly() { "$@" >/dev/null; }
SH
cat >"$fake/scripts/rescue-tool.sh" <<'SH'
#!/usr/bin/env bash
bash scripts/install-deps.sh --rescue || exit 1
xorriso -version >/dev/null
SH
cp "$top/scripts/install-deps.sh" "$fake/scripts/"
/usr/bin/python3 "$top/scripts/check-test-programs.py" --top "$fake" >"$work/programs.out"
code=$?
check "check-test-programs fails on programs nothing installs (exit $code)" test "$code" -eq 1
for missing in CMakeLists.txt:2:lk-missing-in-cmake driver_test.py:4:lk-missing-in-python \
    driver_test.py:6:lk-missing-by-name driver_test.py:9:lk-missing-through-a-helper \
    driver_test.py:10:lk-missing-looked-up driver.sh:4:lk-missing-in-substitution \
    driver.sh:8:lk-missing-after-timeout driver.sh:9:lk-missing-after-a-runner \
    driver.sh:10:lk-missing-in-bash-c driver.sh:15:xorriso \
    driver.sh:16:lk-missing-after-a-sourced-runner; do
  program=${missing##*:} place=${missing%:*}
  check "check-test-programs names $program and where it is started ($place)" \
    grep -q -- "$place: $program " "$work/programs.out"
done
for fine in sha256sum tee sort lkfake driver_test.py helper lk-pattern other \
    lk-not-a-command-in-a-heredoc; do
  check "check-test-programs accepts $fine" bash -c "! grep -q -- ': $fine ' '$work/programs.out'"
done
check "check-test-programs accepts what the rescue packages ship in a file that installs them" \
  bash -c "! grep -q -- 'rescue-tool.sh' '$work/programs.out'"
check "check-test-programs counts eleven programs it cannot account for" \
  grep -q "11 of .* program starts cannot be accounted for" "$work/programs.out"
rm "$fake/tests/area/driver_test.py" "$fake/tests/area/driver.sh" "$fake/tests/area/lib.sh"
sed -i '/lk-missing-in-cmake/d' "$fake/CMakeLists.txt"
/usr/bin/python3 "$top/scripts/check-test-programs.py" --top "$fake" >"$work/programs-fine.out"
code=$?
check "check-test-programs passes when every program is accounted for (exit $code)" \
  test "$code" -eq 0

# --- processes.sh: the cleanup ends what carries the run's marker, and nothing else --------------
. "$top/scripts/processes.sh"
marker="LK_TEST_RUN=scripts-test-$$"
env "$marker" /bin/sleep 300 &
marked=$!
env LK_TEST_RUN=another-run /bin/sleep 300 &
other=$!
/bin/sleep 300 &
unmarked=$!
for _ in 1 2 3 4 5 6 7 8 9 10; do  # until env has become sleep
  [ "$(lk_pids_with_env exact "$marker")" = "$marked" ] && break
  /bin/sleep 0.1
done
check "the marked process is found by its marker" test "$(lk_pids_with_env exact "$marker")" = "$marked"
lk_end_pids_with_env exact "$marker"
check "the marked process is ended" bash -c "! kill -0 $marked 2>/dev/null"
check "a process of another run is left alone" kill -0 "$other"
check "a process without the marker is left alone" kill -0 "$unmarked"
kill "$other" "$unmarked" 2>/dev/null

checks_done
