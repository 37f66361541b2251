#!/usr/bin/env bash
# The rescue medium's words for lkscan's records (rescue/common.sh, lk_plain_words), over what the
# native lkscan reports on an infected installation and over reports with damaged lines:
# - each of the known version's files is told once, as found, not also as a suspect that
#   "wird nicht entfernt", while a sweep hit on any other file keeps its line;
# - a line cut short, or a record of an unexpected shape, costs only its own line.
# Prints "N passed, M failed" and exits 1 on any failure.
#   plain_words_test.sh LKSCAN LK_MAKE_TREE
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
lkscan=$1 make_tree=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$top/tests/support/checks.sh"
words() {  # report file
  LK_RUN=$work/run bash -c '. "$1/rescue/common.sh" && lk_plain_words <"$2"' _ "$top" "$1"
}
count() {  # pattern, file
  grep -c -F -- "$1" "$2"
}

"$make_tree" "$work/win" --infected >/dev/null || exit 1
"$lkscan" --root "$work/win" --json >"$work/scan.jsonl"
check "lkscan finds the known version (exit 1)" test $? -eq 1
check "the sweep matches the known version's files too, so the case is real" \
  test "$(grep -c '"check":"sweep-' "$work/scan.jsonl")" -ge 2
words "$work/scan.jsonl" >"$work/scan.txt"
check "the library is told once, as found" \
  test "$(count 'mfc42ul.dll' "$work/scan.txt")" -eq 2  # its file, and the AppInit_DLLs value
check "the library's line names it as the trojan's" \
  grep -q -F 'GEFUNDEN: die Bibliothek des Lauschkobolds, C:\Windows\System32\mfc42ul.dll' "$work/scan.txt"
check "the driver is told once, as found" \
  test "$(count 'Drivers\winsys32.sys' "$work/scan.txt")" -eq 1
check "no known file is called a suspect that is not removed" \
  bash -c "! grep -q 'VERDÄCHTIG' '$work/scan.txt'"
check "the verdict is told" grep -q '^Ergebnis: BEFALLEN' "$work/scan.txt"

# A variant beside the known version, in another case of the known names, and damaged lines.
{
  sed -n '1,/"check":"driver-file"/p' "$work/scan.jsonl"
  echo '{"type":"finding","check":"sweep-library","path":"c:\\windows\\system32\\MFC42UL.DLL"}'
  echo '{"type":"finding","check":"sweep-driver","path":"C:\\Windows\\System32\\Drivers\\kobold2.sys"}'
  echo '{"type":"finding","check":'
  echo '{"type":"finding","check":5,"path":"C:\\x"}'
  echo 'not json at all'
  echo '["an", "array"]'
  grep '"type":"summary"' "$work/scan.jsonl"
} >"$work/mixed.jsonl"
words "$work/mixed.jsonl" >"$work/mixed.txt"
check "a sweep hit on another file keeps its line" \
  grep -q -F 'VERDÄCHTIG (Suche nach neuen Varianten, wird nicht entfernt): C:\Windows\System32\Drivers\kobold2.sys' "$work/mixed.txt"
check "a known file's hit is matched whatever its case" \
  bash -c "! grep -q -i 'VERDÄCHTIG.*mfc42ul' '$work/mixed.txt'"
check "the records after the damaged lines are still told" \
  grep -q '^Ergebnis: BEFALLEN' "$work/mixed.txt"
check "a damaged line is told as nothing" \
  bash -c "! grep -q -e 'C:\\\\x' -e 'array' -e 'json' '$work/mixed.txt'"

checks_done
