#!/usr/bin/env bash
# Checks that a release is reproducible: clones the committed tree twice, into two folders of
# different names and depths, runs scripts/release.sh in each at a different time, and compares
# the two dist/ folders byte for byte. Slow (two full release builds); not part of test-all.sh.
#
#   bash scripts/test-reproducible.sh [COMMIT]    (default HEAD)
#
# Exit 0 when every file is the same, 1 when not (naming each file that differs, with its first
# differing bytes), 2 when a release run fails. Signing is switched off: a signature carries its
# own time and would differ by design.
set -uo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
commit=$(git rev-parse "${1:-HEAD}") || exit 2
work=$(mktemp -d /tmp/lk-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT
unset LK_SIGN_CERT LK_SIGN_KEY LK_SIGN_PASS

run() {  # folder
  git clone -q --no-hardlinks "$top" "$1" && git -C "$1" checkout -q --detach "$commit" || return 1
  echo "test-reproducible: release in $1"
  bash "$1/scripts/release.sh" >"$1.log" 2>&1 || { tail -n 30 "$1.log" >&2; return 1; }
}
start=$(date +%s)
run "$work/a" || exit 2
# A second later at least, and from a longer path, so neither the time nor the place can hide.
sleep 2
run "$work/second-clone/b" || exit 2

status=0
a=$work/a/dist b=$work/second-clone/b/dist
if ! diff <(cd "$a" && find . -type f | sort) <(cd "$b" && find . -type f | sort); then
  echo "test-reproducible: the two dist/ folders hold different files"
  status=1
fi
for file in $(cd "$a" && find . -type f | sort); do
  [ -f "$b/$file" ] || continue
  if cmp -s "$a/$file" "$b/$file"; then
    echo "same:      $file"
  else
    echo "DIFFERENT: $file ($(stat -c %s "$a/$file") and $(stat -c %s "$b/$file") bytes);" \
      "first differing bytes (offset, octal):"
    cmp -l "$a/$file" "$b/$file" | head -n 10
    status=1
  fi
done
echo "test-reproducible: $(( $(date +%s) - start )) s"
[ $status -eq 0 ] && echo "test-reproducible: both releases are byte-identical"
exit $status
