#!/usr/bin/env bash
# mmdebstrap's customize hook for the rescue medium's live system: puts lkscan and the guide in,
# starts the guide on the first console instead of a login, and removes what would differ
# between two builds (caches, logs, the machine's identity).
#   customize.sh ROOT TOP LKSCAN VERSION
set -euo pipefail
root=$1 top=$2 lkscan=$3 version=$4
src=$top/scripts/rescue

install -m 0755 "$lkscan" "$root/usr/local/bin/lkscan"
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
chroot "$root" systemctl enable lk-rescue.service >/dev/null 2>&1
chroot "$root" systemctl mask getty@tty1.service serial-getty@ttyS0.service \
  systemd-timesyncd.service apt-daily.timer apt-daily-upgrade.timer >/dev/null 2>&1
chroot "$root" systemctl set-default multi-user.target >/dev/null 2>&1
mkdir -p "$root/etc/systemd/journald.conf.d"
printf '[Journal]\nStorage=volatile\nForwardToConsole=no\n' >"$root/etc/systemd/journald.conf.d/lk-rescue.conf"
# Kernel messages stay off the guide's screen.
mkdir -p "$root/etc/sysctl.d"
echo 'kernel.printk = 3 4 1 3' >"$root/etc/sysctl.d/lk-rescue.conf"

# Rebuilt with the files above in place (live-boot's hooks are in since the kernel came).
chroot "$root" update-initramfs -u -k all >/dev/null

rm -rf "$root"/var/cache/apt/* "$root"/var/lib/apt/lists/* "$root"/var/log/* \
  "$root"/var/cache/ldconfig/aux-cache "$root"/var/cache/debconf/*-old \
  "$root"/var/lib/dpkg/*-old "$root"/tmp/* "$root"/root/.bash_history
: >"$root/etc/machine-id"
rm -f "$root/var/lib/dbus/machine-id"
