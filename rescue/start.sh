#!/bin/bash
# Started on the first console at boot: the unattended mode when the kernel command line says
# lk.auto=scan or lk.auto=remove (or, in a virtual machine, the firmware option opt/lk.auto
# does, so a test needs no second medium), otherwise the guide.
. /usr/local/lib/lk-rescue/common.sh
mode=$(lk_auto_mode)
case "$mode" in
  scan | remove) exec /usr/local/sbin/lk-auto "$mode" ;;
  "") exec /usr/local/sbin/lk-guide ;;
  *)
    echo "lk.auto=$mode: unbekannt (scan oder remove); der Assistent startet." >&2
    sleep 5
    exec /usr/local/sbin/lk-guide
    ;;
esac
