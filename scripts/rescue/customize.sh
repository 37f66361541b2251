#!/usr/bin/env bash
# mmdebstrap's customize hook for the rescue medium's live system: puts lkscan and the guide in,
# starts the guide on the first console instead of a login, and removes what would differ
# between two builds (caches, logs, the machine's identity).
#   customize.sh ROOT TOP LKSCAN [LKSCAN_STATIC] VERSION
# LKSCAN is the one the guide runs (linked dynamically, with --list and --image); the release's
# static one, when given, goes beside it as lkscan-static.
set -euo pipefail
root=$1 top=$2 lkscan=$3 static= version=$4
[ $# -ge 5 ] && static=$4 version=$5
src=$top/rescue

install -m 0755 "$lkscan" "$root/usr/local/bin/lkscan"
[ -n "$static" ] && install -m 0755 "$static" "$root/usr/local/bin/lkscan-static"
install -d "$root/usr/local/lib/lk-rescue"
install -m 0644 "$src/common.sh" "$root/usr/local/lib/lk-rescue/common.sh"
install -m 0755 "$src/guide.sh" "$root/usr/local/sbin/lk-guide"
install -m 0755 "$src/auto.sh" "$root/usr/local/sbin/lk-auto"
install -m 0755 "$src/start.sh" "$root/usr/local/sbin/lk-start"
install -m 0644 "$src/lk-rescue.service" "$root/etc/systemd/system/lk-rescue.service"
printf '%s\n' "$version" >"$root/usr/local/lib/lk-rescue/version"

echo lk-rettung >"$root/etc/hostname"
printf '127.0.0.1 localhost\n127.0.1.1 lk-rettung\n' >"$root/etc/hosts"
: >"$root/etc/fstab"
# The guide owns the first console; no login anywhere (the root account stays locked), and the
# serial line stays free for the unattended mode's report.
# (systemctl's enable, mask and set-default, as the links they make)
units=$root/etc/systemd/system
mkdir -p "$units/multi-user.target.wants"
ln -sf /etc/systemd/system/lk-rescue.service "$units/multi-user.target.wants/lk-rescue.service"
for unit in getty@tty1.service serial-getty@ttyS0.service systemd-timesyncd.service \
    apt-daily.timer apt-daily-upgrade.timer; do
  ln -sf /dev/null "$units/$unit"
done
ln -sf /lib/systemd/system/multi-user.target "$units/default.target"
mkdir -p "$root/etc/systemd/journald.conf.d"
printf '[Journal]\nStorage=volatile\nForwardToConsole=no\n' >"$root/etc/systemd/journald.conf.d/lk-rescue.conf"
# The guide speaks German, so the keyboard is German (z and y, umlauts), and the console font has
# the guide's umlauts, quotation marks and dashes (Lat15), on the BIOS text screen and the UEFI
# frame buffer alike. setupcon keeps both ready in /etc/console-setup, which keyboard-setup and
# console-setup load at boot.
cat >"$root/etc/default/keyboard" <<'EOF'
XKBMODEL="pc105"
XKBLAYOUT="de"
XKBVARIANT="nodeadkeys"
XKBOPTIONS=""
BACKSPACE="guess"
EOF
cat >"$root/etc/default/console-setup" <<'EOF'
ACTIVE_CONSOLES="/dev/tty[1-6]"
CHARMAP="UTF-8"
CODESET="Lat15"
FONTFACE="Fixed"
FONTSIZE="8x16"
VIDEOMODE=
EOF
chroot "$root" setupcon --save-only --force
# Kernel messages stay off the guide's screen.
mkdir -p "$root/etc/sysctl.d"
echo 'kernel.printk = 3 4 1 3' >"$root/etc/sysctl.d/lk-rescue.conf"

# Nothing a rescue system shows or needs: documentation (the licences stay), translations (the
# guide speaks German itself), and the drivers for graphics cards, sound, radio, cameras and
# network cards (the console runs on the firmware's frame buffer or VGA text; disks, USB and NVMe
# stay). rescue.sh runs depmod afterwards.
find "$root/usr/share/locale" -mindepth 1 -maxdepth 1 ! -name locale.alias -exec rm -rf {} +
rm -rf "$root"/usr/share/man/* "$root"/usr/share/info/* "$root"/usr/share/lintian/*
find "$root/usr/share/doc" -mindepth 1 ! -name copyright ! -type d -delete
for dir in drivers/gpu/drm/amd drivers/gpu/drm/nouveau drivers/gpu/drm/radeon drivers/gpu/drm/i915 \
    drivers/net/wireless drivers/net/ethernet drivers/media drivers/infiniband drivers/staging \
    drivers/bluetooth drivers/isdn sound net/wireless net/mac80211 net/bluetooth; do
  rm -rf "$root"/lib/modules/*/kernel/$dir
done

rm -rf "$root"/var/cache/apt/* "$root"/var/lib/apt/lists/* "$root"/var/log/* \
  "$root"/var/cache/ldconfig/aux-cache "$root"/var/cache/debconf/*-old \
  "$root"/var/lib/dpkg/*-old "$root"/tmp/* "$root"/root/.bash_history
: >"$root/etc/machine-id"
rm -f "$root/var/lib/dbus/machine-id"
