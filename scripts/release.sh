#!/usr/bin/env bash
# The release command: builds the release presets in fresh build folders and writes to dist/
#   Anti-Lauschkobold-<version>-windows-x86.zip   AntiLauschkobold.exe, lkscan.exe (32-bit),
#                                                 LIESMICH.txt, fleet/ (the recipes for
#                                                 Velociraptor, Intune, Ansible, ConfigMgr and
#                                                 Group Policy, with lkscan.exe's SHA-256),
#                                                 SHA256SUMS
#   lkscan-<version>-linux-x86_64.tar.gz          a static lkscan for rescue systems
#   Anti-Lauschkobold-<version>.spdx.json         what is linked into each program (SPDX 2.3)
#   SHA256SUMS                                    of the three
#
# The same commit gives the same bytes wherever it is cloned and whenever it is built
# (scripts/test-reproducible.sh checks that). With LK_SIGN_CERT and LK_SIGN_KEY set, the two
# Windows programs are signed before they are packed (scripts/release/sign.sh); the signature
# is then the only part that differs from one release run to the next.
#
#   bash scripts/release.sh [--allow-dirty]
# --allow-dirty builds a tree with uncommitted changes; its package does not match any commit.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
jobs=${LK_JOBS:-2}
release=scripts/release
allow_dirty=0
for arg in "$@"; do
  case "$arg" in
    --allow-dirty) allow_dirty=1 ;;
    *) echo "release: unknown argument $arg" >&2; exit 2 ;;
  esac
done

say() { echo "release: $*"; }
fail() { echo "release: $*" >&2; exit 1; }

bash scripts/install-deps.sh --without-wine32 || exit 1
if [ -n "$(git status --porcelain --untracked-files=normal)" ] && [ "$allow_dirty" -eq 0 ]; then
  git status --short >&2
  fail "the tree has uncommitted changes; commit them (or pass --allow-dirty)"
fi

# Everything that could leak the build's time, place or user into an output is fixed here.
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export TZ=UTC LC_ALL=C.UTF-8 LANG=C.UTF-8
umask 022
commit=$(git rev-parse HEAD)

build() {  # preset
  local log=build/$1.log
  rm -rf "build/$1"
  mkdir -p build
  say "building $1 (log: $log)"
  if ! { cmake --preset "$1" && cmake --build --preset "$1" -j "$jobs"; } >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    fail "the build $1 failed"
  fi
}
build release-mingw
build release-linux-static
win=build/release-mingw
linux=build/release-linux-static

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$win/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $win/CMakeCache.txt"
say "version $version, commit $commit"

# What each program says of itself must be what the package is named after.
window_exe=$win/ui/AntiLauschkobold.exe
scan_exe=$win/tools/lkscan/lkscan.exe
scan_elf=$linux/tools/lkscan/lkscan
for exe in "$window_exe" "$scan_exe"; do
  [ "$(scripts/pe-machine.sh "$exe")" = i386 ] || fail "$exe is not a 32-bit program"
done
/usr/bin/python3 $release/pe_version.py --expect "$version" "$window_exe" "$scan_exe" ||
  fail "a version block disagrees with the project version $version"

# The Linux lkscan must start where nothing is installed: no loader, no library, no environment.
linkage=$(ldd "$scan_elf" 2>&1 || true)  # ldd fails on a static program, which is what we want
grep -q 'not a dynamic executable' <<<"$linkage" || fail "$scan_elf is linked dynamically: $linkage"
bare=$(mktemp -d)
trap 'rm -rf "$bare"' EXIT
cp "$scan_elf" "$bare/lkscan"
if [ "$(id -u)" -eq 0 ]; then
  started=$(env -i "$(command -v chroot)" "$bare" /lkscan --version) ||
    fail "lkscan does not start in an empty root"
else
  started=$(env -i "$bare/lkscan" --version) || fail "lkscan does not start without an environment"
fi
[ "$started" = "lkscan $version" ] || fail "the Linux lkscan says '$started', not 'lkscan $version'"
# ... and read an installation's hives there: hivex's names pass through character-set
# conversions that a static glibc cannot load on a bare system (see HiveNameCoding.h).
cp -r $release/rescue-tree "$bare/tree"
if [ "$(id -u)" -eq 0 ]; then
  examined=$(env -i "$(command -v chroot)" "$bare" /lkscan --root /tree --no-sweep --json) && code=0 || code=$?
else
  examined=$(env -i "$bare/lkscan" --root "$bare/tree" --no-sweep --json) && code=0 || code=$?
fi
[ "$code" -eq 1 ] && grep -q '"check":"appinit"' <<<"$examined" &&
  grep -q '"check":"service"' <<<"$examined" ||
  fail "the Linux lkscan does not read the hives of $release/rescue-tree in an empty root (exit $code): $examined"

# The Windows package.
stage=build/release-stage
rm -rf "$stage" dist
mkdir -p "$stage/windows" "$stage/linux" dist
if [ -n "${LK_SIGN_CERT:-}" ] && [ -n "${LK_SIGN_KEY:-}" ]; then
  say "signing the Windows programs with $LK_SIGN_CERT"
  $release/sign.sh "$window_exe" "$stage/windows/AntiLauschkobold.exe"
  $release/sign.sh "$scan_exe" "$stage/windows/lkscan.exe"
else
  say "LK_SIGN_CERT and LK_SIGN_KEY are not set: the Windows programs stay unsigned"
  cp "$window_exe" "$scan_exe" "$stage/windows/"
fi
/usr/bin/python3 $release/pack.py text $release/LIESMICH.txt "$stage/windows/LIESMICH.txt" \
  --version "$version"
# The fleet recipes name the SHA-256 of the lkscan.exe that is shipped (signed, where it is).
/usr/bin/python3 $release/fleet.py --lkscan "$stage/windows/lkscan.exe" --version "$version" \
  --out "$stage/windows/fleet" || fail "the fleet recipes could not be made"
mapfile -t fleet < <(find "$stage/windows/fleet" -type f | LC_ALL=C sort)
/usr/bin/python3 $release/pack.py sums "$stage/windows/SHA256SUMS" --base "$stage/windows" \
  "$stage/windows/AntiLauschkobold.exe" "$stage/windows/lkscan.exe" "$stage/windows/LIESMICH.txt" \
  "${fleet[@]}"
zip_name=Anti-Lauschkobold-$version-windows-x86.zip
/usr/bin/python3 $release/pack.py zip "dist/$zip_name" --epoch "$SOURCE_DATE_EPOCH" \
  --base "$stage/windows" \
  "$stage/windows/AntiLauschkobold.exe" "$stage/windows/lkscan.exe" \
  "$stage/windows/LIESMICH.txt" "$stage/windows/SHA256SUMS" "${fleet[@]}"

# The Linux package: one folder with the program, owned by root, dated to the commit.
tar_dir=lkscan-$version-linux-x86_64
mkdir -p "$stage/linux/$tar_dir"
install -m 0755 "$scan_elf" "$stage/linux/$tar_dir/lkscan"
tar_name=$tar_dir.tar.gz
tar --sort=name --format=gnu --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
  --mode='u=rwX,go=rX' -C "$stage/linux" -cf - "$tar_dir" | gzip -9 -n >"dist/$tar_name"

# The bill of materials, read from the link maps and the compilers' header lists.
sbom_name=Anti-Lauschkobold-$version.spdx.json
/usr/bin/python3 $release/sbom.py --version "$version" --commit "$commit" \
  --created "$SOURCE_DATE_EPOCH" --source "$top" \
  --artifact windows-x86 "dist/$zip_name" --artifact linux-x86_64 "dist/$tar_name" \
  --program windows-x86 AntiLauschkobold.exe "$stage/windows/AntiLauschkobold.exe" \
  "$win/link-maps/AntiLauschkobold.map" "$win" \
  --program windows-x86 lkscan.exe "$stage/windows/lkscan.exe" "$win/link-maps/lkscan.map" "$win" \
  --program linux-x86_64 lkscan "$stage/linux/$tar_dir/lkscan" "$linux/link-maps/lkscan.map" \
  "$linux" --out "dist/$sbom_name"
/usr/bin/python3 tests/release/sbom_test.py --document "dist/$sbom_name" >/dev/null ||
  fail "dist/$sbom_name is not well-formed SPDX 2.3 (tests/release/sbom_test.py --document)"

/usr/bin/python3 $release/pack.py sums dist/SHA256SUMS \
  "dist/$zip_name" "dist/$tar_name" "dist/$sbom_name"
(cd dist && sha256sum -c --quiet SHA256SUMS) || fail "dist/SHA256SUMS does not check"
say "done:"
ls -l dist
