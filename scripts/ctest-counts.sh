#!/usr/bin/env bash
# Reads the log of one ctest run and prints its counts: "PASSED FAILED SKIPPED".
# ctest counts a skipped test among the passed ones; here a skip is no pass.
# Exit 1 when the log has no closing summary (ctest did not finish).
#   ctest-counts.sh LOG
set -uo pipefail
log=$1
line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
[ -n "$line" ] || { echo "0 0 0"; exit 1; }
total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
failed=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
skipped=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*\*\*\*Skipped' "$log")
echo "$((total - failed - skipped)) $failed $skipped"
