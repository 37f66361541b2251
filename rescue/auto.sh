#!/bin/bash
# The unattended mode: lk-auto scan | remove. Examines (scan) or repairs (remove) every Windows
# installation of the machine without a question, writes every line to the serial console
# (ttyS0) and the screen, saves the report like the guide does, and powers the machine off.
#
# The serial console gets lkscan's JSON Lines unchanged, each prefixed "LK " so a reader can find
# them among the kernel's messages, and one last line
#   LK-ENDE mode=<scan|remove> exit=<0|1|2> place=<stick|memory> report=<path>
# exit: 0 everything examined and clean (after a removal: nothing left), 1 something found
# (after a removal: something could not be removed), 2 something could not be examined.
. /usr/local/lib/lk-rescue/common.sh
mode=$1

serial() {  # line
  printf '%s\r\n' "$1" >/dev/ttyS0 2>/dev/null
  printf '%s\n' "$1"
}
stty -F /dev/ttyS0 115200 -opost 2>/dev/null
lk_storage
base=$(lk_report_base "$([ "$mode" = remove ] && echo entfernen || echo untersuchung)")
jsonl=$base.jsonl
text=$base.txt
: >"$jsonl"
serial "LK-START mode=$mode version=$LK_VERSION place=$LK_PLACE firmware=$(lk_firmware)"
# The kernel's own word on Secure Boot (it checks the firmware's variable at start).
kernel=$(dmesg 2>/dev/null | grep -i -m 1 -o 'secure boot [a-z]*')
serial "LK-KERNEL ${kernel:-secure boot: no message}"

worst=0
raise() { [ "$1" -gt "$worst" ] && worst=$1; return 0; }
emit() {  # records on stdin: into the report and onto the serial console
  local line
  while IFS= read -r line; do
    printf '%s\n' "$line" >>"$jsonl"
    serial "LK $line"
  done
}

list=$(lk_list_records); code=$?
printf '%s\n' "$list" | grep -v '^$' | emit
[ "$code" -eq 0 ] || raise 2
mapfile -t installs < <(printf '%s\n' "$list" | jq -c 'select(.type == "installation")' 2>/dev/null)
[ ${#installs[@]} -gt 0 ] || { serial "LK-HINWEIS keine Windows-Installation gefunden"; raise 2; }

for rec in "${installs[@]}"; do
  serial "LK-INSTALLATION $(lk_describe "$rec")"
  if [ "$(jq -r .examinable <<<"$rec")" != true ]; then
    raise 2
    continue
  fi
  if [ "$mode" = remove ]; then
    if mnt=$(lk_mount_rw "$rec"); then
      lk_remove "$mnt" | emit
      code=${PIPESTATUS[0]}
      lk_umount "$mnt"
      # After a removal, what is left decides: examine it again, read-only.
      serial "LK-NACHPRUEFUNG"
      lk_examine "$rec" | emit
      raise "${PIPESTATUS[0]}"
      [ "$code" -eq 2 ] && raise 2
    else
      serial "LK-FEHLER $LK_MOUNT_ERROR"
      lk_examine "$rec" | emit
      raise 2
    fi
  else
    lk_examine "$rec" | emit
    raise "${PIPESTATUS[0]}"
  fi
done

lk_plain_words <"$jsonl" >"$text"
lk_sync
serial "LK-ENDE mode=$mode exit=$worst place=$LK_PLACE report=$jsonl"
sleep 2
[ "$LK_PLACE" = stick ] && umount "$LK_RUN/stick" 2>/dev/null
sync
systemctl poweroff
