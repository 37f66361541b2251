#!/usr/bin/env bash
# The rescue medium: builds dist/Anti-Lauschkobold-Rettung-<version>.iso from Debian 12 packages
# and adds its SHA-256 to dist/SHA256SUMS (other lines there are kept).
#
#   bash scripts/rescue.sh
#
# The medium is a hybrid ISO: burnt to a CD or written to a USB stick as it is, it boots with
# UEFI (Secure Boot on or off: Debian's shim signed by Microsoft's UEFI CA, Debian's signed GRUB
# and signed kernel) and with BIOS (GRUB for i386-pc). On boot it starts the German guide
# (rescue/guide.sh) on the first console; the kernel option lk.auto=scan or
# lk.auto=remove runs it without questions instead (rescue/auto.sh).
#
# Layout of the image (GPT with a protective MBR, and El Torito for CDs):
#   partition 1  ISO 9660: LIESMICH.txt, live/ (kernel, initrd, the live system as squashfs),
#                boot/grub/ (one grub.cfg for both firmwares)
#   partition 2  EFI system partition: EFI/boot/bootx64.efi (shim), grubx64.efi, mmx64.efi
#   partition 3  FAT "LK-BERICHTE": the writable part of a stick; reports and quarantine land
#                here (a CD has it too, read-only, and the guide then keeps the report in memory)
# (No padding after partition 3: xorriso would describe it as a fourth partition, which Windows
# offers to format.)
#
# The live system is made with mmdebstrap (not live-build): one command from a package list,
# with hooks that copy the project's files in, and no live-build configuration tree to keep.
# Debian's live-boot finds and mounts the squashfs on the medium. The live system holds two builds
# of lkscan from the same sources (below): the release's static one and a dynamically linked one
# with the disk layer (--list, --image), which the guide uses.
#
# Inputs that may be set:
#   LK_RESCUE_LKSCAN    a static lkscan to put on the medium instead of building it
#   LK_RESCUE_LKSCAN_DYNAMIC  the same for the dynamically linked one (with --list, --image)
#   LK_DEBIAN_SOURCES   a deb822 .sources or sources.list file to build from (a snapshot, to
#                       rebuild the same bytes later); default: Debian 12 with its updates
#   LK_JOBS             build jobs (default 2)
#   LK_RESCUE_WORK      the work folder (default build/rescue)
#
# Reproducibility: SOURCE_DATE_EPOCH is the commit's time and is handed to mmdebstrap,
# mkinitramfs, mksquashfs, mkfs.vfat/mtools and xorriso; file order is sorted everywhere. Two
# builds from the same commit and the same package versions should give the same ISO; the
# package versions come from the mirror at build time, so a later build from a moving mirror
# differs by the packages that were updated. live/packages.txt on the medium lists them.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
jobs=${LK_JOBS:-2}
say() { echo "rescue: $*"; }
fail() { echo "rescue: $*" >&2; exit 1; }
started=$(date +%s)

[ "$(id -u)" -eq 0 ] || fail "building the live system needs root (mmdebstrap, chroot)"
bash scripts/install-deps.sh --without-wine32 --rescue || exit 1

version=$(sed -n 's/^project([^ ]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no VERSION in CMakeLists.txt's project()"
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || stat -c %Y CMakeLists.txt)
export TZ=UTC LC_ALL=C.UTF-8 LANG=C.UTF-8
umask 022
name=Anti-Lauschkobold-Rettung-$version
say "version $version, SOURCE_DATE_EPOCH $SOURCE_DATE_EPOCH"

# The scanners. The release's static lkscan starts on any Linux without libraries, but reads only
# mounted volumes (--root): the disk layer behind --list and --image needs the Sleuth Kit, which
# Debian ships only as a shared library. So the medium carries the same sources built a second
# time, linked dynamically, as its lkscan, together with the Debian packages of the libraries it
# was linked with; the static one stays beside it as lkscan-static.
build_lkscan() {  # folder, extra cmake arguments...
  local dir=$1 log=$1.log
  shift
  mkdir -p build
  say "building lkscan in $dir (log: $log)"
  if ! { cmake --preset release-linux-static -B "$dir" "$@" &&
         cmake --build "$dir" -j "$jobs" --target lkscan; } >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    fail "lkscan did not build in $dir"
  fi
}
if [ -n "${LK_RESCUE_LKSCAN:-}" ]; then
  static=$(realpath "$LK_RESCUE_LKSCAN")
else
  build_lkscan build/release-linux-static
  static=$top/build/release-linux-static/tools/lkscan/lkscan
fi
if [ -n "${LK_RESCUE_LKSCAN_DYNAMIC:-}" ]; then
  dynamic=$(realpath "$LK_RESCUE_LKSCAN_DYNAMIC")
else
  build_lkscan build/rescue-lkscan-dynamic -DLK_STATIC_LINUX=OFF
  dynamic=$top/build/rescue-lkscan-dynamic/tools/lkscan/lkscan
fi
for program in "$static" "$dynamic"; do
  [ -x "$program" ] || fail "$program is not a program"
  [ "$("$program" --version)" = "lkscan $version" ] || fail "$program is not lkscan $version"
done
"$dynamic" --help | grep -q -- '--image' ||
  fail "$dynamic has no --image (is libtsk-dev installed?)"
# The Debian packages that ship the libraries the dynamic lkscan loads.
mapfile -t libraries < <(ldd "$dynamic" | awk '$2 == "=>" && $3 ~ /^\// { print $3 }')
[ ${#libraries[@]} -gt 0 ] || fail "ldd names no library of $dynamic"
lib_packages=$(for lib in "${libraries[@]}"; do dpkg -S "$(realpath "$lib")" 2>/dev/null ||
  dpkg -S "$lib"; done | cut -d: -f1 | LC_ALL=C sort -u | paste -sd, -)
say "libraries of the dynamic lkscan come from: $lib_packages"

work=${LK_RESCUE_WORK:-build/rescue}
root=$work/root
iso=$work/iso
rm -rf "$work"
mkdir -p "$work" "$iso" dist

if [ -n "${LK_DEBIAN_SOURCES:-}" ]; then
  sources=("$LK_DEBIAN_SOURCES")
else
  sources=("deb http://deb.debian.org/debian bookworm main"
           "deb http://deb.debian.org/debian bookworm-updates main"
           "deb http://deb.debian.org/debian-security bookworm-security main")
fi

# What the live system holds: a kernel, live-boot to find the medium, systemd, ntfs-3g for the
# repair, whiptail for the guide, jq to read lkscan's JSON Lines, and console-setup for the German
# keyboard and a console font with the guide's umlauts and quotation marks.
include=linux-image-amd64,live-boot,initramfs-tools,zstd,systemd-sysv,udev,kmod,util-linux,
include+=procps,ntfs-3g,whiptail,jq,dosfstools,less,console-setup,keyboard-configuration,
include+=$lib_packages
# The initrd is made once, at the end, after the pruning: update-initramfs is diverted to a no-op
# while the packages are set up (the kernel and live-boot's trigger would each make one, minutes
# apiece on a small machine).
say "building the live system with mmdebstrap (log: $work/mmdebstrap.log)"
if ! mmdebstrap --variant=essential --mode=root --include="$include" \
    --essential-hook='mkdir -p "$1/etc/initramfs-tools/conf.d" && printf "COMPRESS=zstd\nMODULES=most\n" >"$1/etc/initramfs-tools/conf.d/lk-rescue.conf"' \
    --essential-hook='chroot "$1" dpkg-divert --quiet --local --rename --divert /usr/sbin/update-initramfs.lk --add /usr/sbin/update-initramfs && printf "#!/bin/sh\nexit 0\n" >"$1/usr/sbin/update-initramfs" && chmod 0755 "$1/usr/sbin/update-initramfs"' \
    --customize-hook="'$top/scripts/rescue/customize.sh' \"\$1\" '$top' '$dynamic' '$static' '$version'" \
    --customize-hook='for k in "$1"/lib/modules/*; do chroot "$1" depmod -a "${k##*/}"; done' \
    --customize-hook='rm -f "$1/usr/sbin/update-initramfs" && chroot "$1" dpkg-divert --quiet --local --rename --remove /usr/sbin/update-initramfs && for k in "$1"/lib/modules/*; do chroot "$1" update-initramfs -c -k "${k##*/}"; done' \
    bookworm "$root" "${sources[@]}" >"$work/mmdebstrap.log" 2>&1; then
  tail -n 40 "$work/mmdebstrap.log" >&2
  fail "mmdebstrap failed"
fi

mkdir -p "$iso/live" "$iso/.disk" "$iso/boot/grub/fonts" "$iso/boot/grub/i386-pc" "$iso/EFI/boot"
chroot "$root" dpkg-query -W -f='${Package} ${Version}\n' | LC_ALL=C sort >"$iso/live/packages.txt"
# The kernel and initrd boot from the medium; the live system does not need them twice.
mv "$(ls "$root"/boot/vmlinuz-* | head -n 1)" "$iso/live/vmlinuz"
mv "$(ls "$root"/boot/initrd.img-* | head -n 1)" "$iso/live/initrd.img"
rm -rf "$root"/boot/*
# mksquashfs takes its dates from SOURCE_DATE_EPOCH (it refuses -mkfs-time beside it).
say "packing the live system (squashfs)"
mksquashfs "$root" "$iso/live/filesystem.squashfs" -noappend -comp zstd -Xcompression-level 6 -b 1M -processors "$jobs" \
  -no-progress >"$work/mksquashfs.log"

printf 'Anti-Lauschkobold Rettung %s amd64\n' "$version" >"$iso/.disk/info"
# The ISO's volume UUID is its modification date (from SOURCE_DATE_EPOCH); GRUB under UEFI checks
# it on its own boot disk before it reads the menu there (rescue/find-medium.cfg).
stamp=$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y%m%d%H%M%S)00
uuid=$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%d-%H-%M-%S-00)
sed -e "s/@VERSION@/$version/g" rescue/grub.cfg >"$iso/boot/grub/grub.cfg"
cp /usr/share/grub/unicode.pf2 "$iso/boot/grub/fonts/"
# GRUB's German catalogue (grub-common); without it GRUB's own lines stay English.
if [ -f /usr/share/locale/de/LC_MESSAGES/grub.mo ]; then
  mkdir -p "$iso/boot/grub/locale"
  cp /usr/share/locale/de/LC_MESSAGES/grub.mo "$iso/boot/grub/locale/de.mo"
else
  say "warning: /usr/share/locale/de/LC_MESSAGES/grub.mo missing; GRUB's own lines stay English"
fi
/usr/bin/python3 scripts/release/pack.py text rescue/LIESMICH.txt "$iso/LIESMICH.txt" \
  --version "$version"

# BIOS: GRUB's El Torito image (also started by the hybrid MBR from a stick) with its modules. It
# reads boot/grub/ from the device it was loaded from, so it needs no configuration of its own.
cp /usr/lib/grub/i386-pc/*.mod /usr/lib/grub/i386-pc/*.lst "$iso/boot/grub/i386-pc/"
grub-mkimage -O i386-pc-eltorito -p /boot/grub -o "$iso/boot/grub/i386-pc/eltorito.img" \
  biosdisk iso9660 part_gpt part_msdos
# UEFI: shim (signed by Microsoft's UEFI CA) starts GRUB (signed by Debian) from the same folder.
# That GRUB reads boot/grub/grub.cfg on the EFI partition first: there the medium is found by its
# volume UUID on GRUB's own boot disk, and its menu is read from it.
cp /usr/lib/shim/shimx64.efi.signed "$iso/EFI/boot/bootx64.efi"
cp /usr/lib/grub/x86_64-efi-signed/gcdx64.efi.signed "$iso/EFI/boot/grubx64.efi"
cp /usr/lib/shim/mmx64.efi.signed "$iso/EFI/boot/mmx64.efi"
{ sed -e "s/@UUID@/$uuid/g" rescue/find-medium.cfg; echo 'source $prefix/grub.cfg'; } >"$work/esp-grub.cfg"
touch -d "@$SOURCE_DATE_EPOCH" "$work/esp-grub.cfg"
efi=$work/efi.img
rm -f "$efi"
mkfs.vfat -C "$efi" 8192 --invariant -i 4c4b0001 -n LK-EFI >/dev/null
export MTOOLS_SKIP_CHECK=1
mmd -i "$efi" ::/EFI ::/EFI/boot ::/boot ::/boot/grub
for f in bootx64.efi grubx64.efi mmx64.efi; do
  touch -d "@$SOURCE_DATE_EPOCH" "$iso/EFI/boot/$f"
  mcopy -m -i "$efi" "$iso/EFI/boot/$f" "::/EFI/boot/$f"
done
mcopy -m -i "$efi" "$work/esp-grub.cfg" ::/boot/grub/grub.cfg

# The stick's writable part, with the LIESMICH for a Windows PC that shows it.
data=$work/berichte.img
rm -f "$data"
mkfs.vfat -C "$data" $((32 * 1024)) -F 16 --invariant -i 4c4b0002 -n LK-BERICHTE >/dev/null
touch -d "@$SOURCE_DATE_EPOCH" "$iso/LIESMICH.txt"
mcopy -m -i "$data" "$iso/LIESMICH.txt" ::/LIESMICH.txt

find "$iso" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
out=dist/$name.iso
rm -f "$out"
say "writing $out"
xorriso -as mkisofs -r -J -joliet-long -iso-level 3 -V LK_RETTUNG \
  --modification-date="$stamp" \
  --grub2-mbr /usr/lib/grub/i386-pc/boot_hybrid.img -partition_offset 16 --mbr-force-bootable \
  -append_partition 2 0xef "$efi" \
  -append_partition 3 ebd0a0a2-b9e5-4433-87c0-68b6b72699c7 "$data" \
  -appended_part_as_gpt \
  -c boot/boot.cat \
  -b boot/grub/i386-pc/eltorito.img -no-emul-boot -boot-load-size 4 -boot-info-table \
  --grub2-boot-info \
  -eltorito-alt-boot -e '--interval:appended_partition_2:all::' -no-emul-boot -no-pad \
  -o "$out" "$iso" >"$work/xorriso.log" 2>&1 || { tail -n 30 "$work/xorriso.log" >&2; fail "xorriso failed"; }

# SHA256SUMS keeps the release's lines and gets (or replaces) the medium's.
sums=dist/SHA256SUMS
touch "$sums"
{ grep -v "  $name.iso\$" "$sums" || true; (cd dist && sha256sum "$name.iso"); } | LC_ALL=C sort -k2 >"$sums.new"
mv "$sums.new" "$sums"
(cd dist && sha256sum -c --quiet --ignore-missing SHA256SUMS) || fail "dist/SHA256SUMS does not check"
size=$(stat -c %s "$out")
say "done: $out, $((size / 1024 / 1024)) MiB, in $(( $(date +%s) - started )) s"
