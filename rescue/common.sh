# Shared by the guide (lk-guide) and the unattended mode (lk-auto) of the rescue medium.
# Sourced by bash; every function reports failure by its exit status, never by exiting.

LK_SCAN=${LK_SCAN:-/usr/local/bin/lkscan}
LK_RUN=${LK_RUN:-/run/lk}      # memory (tmpfs): mount points, and the reports when no stick
LK_STICK_LABEL=LK-BERICHTE     # the FAT partition of the medium that a stick can write
LK_VERSION=$(cat /usr/local/lib/lk-rescue/version 2>/dev/null || echo "?")
mkdir -p "$LK_RUN" && chmod 0700 "$LK_RUN"

# The mode of the unattended run: lk.auto=... on the kernel command line; in a virtual machine,
# the firmware option opt/lk.auto (qemu -fw_cfg) when the command line has none.
lk_auto_mode() {
  local word
  for word in $(cat /proc/cmdline); do
    case "$word" in lk.auto=*) echo "${word#lk.auto=}"; return 0 ;; esac
  done
  modprobe qemu_fw_cfg 2>/dev/null || true
  local fw=/sys/firmware/qemu_fw_cfg/by_name/opt/lk.auto/raw
  [ -r "$fw" ] && head -c 16 "$fw" | tr -cd 'a-z'
  return 0
}

# How the machine was started: uefi-secureboot, uefi or bios.
lk_firmware() {
  local var=/sys/firmware/efi/efivars/SecureBoot-8be4df61-93ca-11d2-aa0d-00e098032b8c
  if [ ! -d /sys/firmware/efi ]; then echo bios
  elif [ -r "$var" ] && [ "$(od -An -t u1 -j 4 -N 1 "$var" | tr -d ' ')" = 1 ]; then echo uefi-secureboot
  else echo uefi; fi
}

# The disk the system was booted from (live-boot mounts it at /run/live/medium).
lk_boot_disk() {
  local source parent
  source=$(findmnt -n -o SOURCE /run/live/medium 2>/dev/null) || return 1
  parent=$(lsblk -n -d -o PKNAME "$source" 2>/dev/null | head -n 1)
  if [ -n "$parent" ]; then echo "/dev/$parent"; else echo "$source"; fi
}

# Where reports and the quarantine go. Sets LK_PLACE (stick | memory), LK_REPORTS and LK_QUAR
# (the stick's quarantine; empty: lkscan's own place on the Windows disk). Only the LK-BERICHTE
# partition of the disk the system came from counts: a partition of that name on another disk
# (the examined one, say) is not ours.
lk_storage() {
  [ -n "${LK_PLACE:-}" ] && return 0
  local disk part stick=$LK_RUN/stick
  LK_PLACE=memory LK_REPORTS=$LK_RUN/Berichte LK_QUAR=
  disk=$(lk_boot_disk) || disk=
  if [ -n "$disk" ]; then
    part=$(lsblk -r -n -o PATH,LABEL "$disk" 2>/dev/null | awk -v l="$LK_STICK_LABEL" '$2 == l { print $1; exit }')
    if [ -n "$part" ]; then
      mkdir -p "$stick"
      if mountpoint -q "$stick" ||
         mount -t vfat -o rw,nosuid,nodev,noexec,uid=0,gid=0,dmask=0077,fmask=0177,flush "$part" "$stick" 2>/dev/null; then
        if mkdir -p "$stick/Berichte" 2>/dev/null && touch "$stick/Berichte/.probe" 2>/dev/null; then
          rm -f "$stick/Berichte/.probe"
          LK_PLACE=stick LK_REPORTS=$stick/Berichte LK_QUAR=$stick/Quarantaene LK_STICK_PART=$part
        fi
      fi
    fi
  fi
  mkdir -p "$LK_REPORTS"
  return 0
}

# A new report's path without extension: Berichte/Bericht-<UTC time>-<what>.
lk_report_base() {  # what
  echo "$LK_REPORTS/Bericht-$(date -u +%Y%m%dT%H%M%SZ)-$1"
}

lk_sync() { sync; }

# Whether this lkscan reads disks itself (--list, --image). An lkscan without them still works:
# the medium then finds the NTFS volumes with lsblk and examines each through a read-only mount.
lk_image_layer() {
  "$LK_SCAN" --help 2>/dev/null | grep -q -- '--image'
}

# lkscan --list --json: every installation and every volume that cannot be read, as JSON Lines
# (installation, error and summary records). Returns lkscan's exit code.
lk_list_records() {
  if lk_image_layer; then
    "$LK_SCAN" --list --json 2>>"$LK_RUN/lkscan.err"
    return
  fi
  local path pk start size label fs boot dev probe=$LK_RUN/probe n=0 code=0 hib
  boot=$(lk_boot_disk 2>/dev/null) || boot=
  mkdir -p "$probe"
  while read -r path pk fs size label; do
    [ "$fs" = ntfs ] || continue
    [ "/dev/$pk" = "$boot" ] && continue
    start=$(cat "/sys/class/block/${path#/dev/}/start" 2>/dev/null || echo 0)
    dev=$path
    if ! ntfs-3g -o ro,nosuid,nodev,noexec "$dev" "$probe" 2>/dev/null; then
      jq -nc --arg i "/dev/$pk" --arg m "$dev: NTFS lässt sich nicht lesen" '{type:"error",image:$i,message:$m}'
      code=2
      continue
    fi
    if [ -n "$(find "$probe" -maxdepth 2 -iwholename "$probe/windows/system32" -type d 2>/dev/null | head -n 1)" ]; then
      hib=false
      [ -f "$probe/hiberfil.sys" ] && [ -n "$(head -c 4096 "$probe/hiberfil.sys" | tr -d '\0' | head -c 1)" ] && hib=true
      n=$((n + 1))
      jq -nc --arg image "/dev/$pk" --arg device "$dev" --argjson offset $((start * 512)) \
        --argjson size "$size" --arg label "$label" --argjson hib "$hib" \
        --argjson partition "$(cat "/sys/class/block/${path#/dev/}/partition" 2>/dev/null || echo 0)" \
        '{type:"installation",image:$image,partition:$partition,device:$device,offset:$offset,
          size:$size,filesystem:"ntfs",label:$label,windows:null,build:null,bitlocker:false,
          hibernated:$hib,dirty:false,examinable:true,reason:null}'
    fi
    umount "$probe"
  done < <(lsblk -b -r -n -o PATH,PKNAME,FSTYPE,SIZE,LABEL 2>/dev/null)
  jq -nc --argjson n "$n" --argjson e "$((code / 2))" '{type:"summary",installations:$n,images:0,errors:$e}'
  return "$code"
}

# Every installation; prints only the installation records.
lk_list() {
  lk_list_records | jq -c 'select(.type == "installation")'
}

# The partition node of an installation record (a loop device over the image when the kernel
# has none). Prints the path.
lk_partition_device() {  # record
  local rec=$1 device image offset size
  device=$(jq -r '.device // empty' <<<"$rec")
  if [ -n "$device" ] && [ -b "$device" ]; then echo "$device"; return 0; fi
  image=$(jq -r '.image' <<<"$rec")
  offset=$(jq -r '.offset' <<<"$rec")
  size=$(jq -r '.size' <<<"$rec")
  losetup -f --show -o "$offset" --sizelimit "$size" "$image"
}

# Mounts an installation read-write for a repair. Refuses a hibernated or unreadable volume.
# Prints the mount point; LK_MOUNT_ERROR says why it did not mount.
lk_mount_rw() {  # record
  local rec=$1 dev mnt out
  LK_MOUNT_ERROR=
  if [ "$(jq -r '.hibernated' <<<"$rec")" = true ]; then
    LK_MOUNT_ERROR="Windows ist im Ruhezustand oder wurde mit Schnellstart beendet."
    return 1
  fi
  if [ "$(jq -r '.examinable' <<<"$rec")" != true ]; then
    LK_MOUNT_ERROR="Das Laufwerk lässt sich nicht lesen: $(jq -r '.reason // "unbekannter Grund"' <<<"$rec")"
    return 1
  fi
  dev=$(lk_partition_device "$rec") || { LK_MOUNT_ERROR="Kein Gerät für die Partition."; return 1; }
  mnt=$LK_RUN/windows-$(jq -r '.partition' <<<"$rec")
  mkdir -p "$mnt"
  if ! out=$(ntfs-3g -o rw,nosuid,nodev,noexec "$dev" "$mnt" 2>&1); then
    LK_MOUNT_ERROR="ntfs-3g hat das Laufwerk nicht beschreibbar eingebunden: $out"
    return 1
  fi
  echo "$mnt"
}

lk_umount() {  # mount point
  sync
  umount "$1" 2>/dev/null || umount -l "$1" 2>/dev/null
  rmdir "$1" 2>/dev/null
  return 0
}

# A short German name of an installation record, for menus and reports.
lk_describe() {  # record
  jq -r '
    def gb: if . < 1000000000 then (. / 1000000 | floor | tostring) + " MB"
            else (. / 1000000000 * 10 | floor / 10 | tostring | sub("\\."; ",")) + " GB" end;
    (.windows // "Windows (Version unbekannt)") + " auf " + (.device // (.image + ", Partition " + (.partition | tostring)))
    + " (" + (.size | gb) + (if .label and .label != "" then ", „" + .label + "“" else "" end) + ")"' <<<"$1"
}

# lkscan's JSON Lines in plain German words, one line per record. A line that is no JSON object
# (a report cut short) is passed over, and the records after it are still told. The sweep also
# matches the known version's own files; such a hit is told once, by the known version's line,
# since that file is removed with it and "wird nicht entfernt" would be untrue.
lk_plain_words() {
  jq -Rnr '
    def act: {"quarantine":"in die Quarantäne gelegt","delete":"gelöscht",
      "delete-at-restart":"wird beim nächsten Start gelöscht","registry-write":"Registrierungswert geändert",
      "service-stop":"Dienst angehalten","service-delete":"Dienst entfernt",
      "restore-file":"Datei zurückgelegt","restore-registry":"Registrierungswert zurückgeschrieben",
      "restore-service":"Dienst wieder eingetragen",
      "withdraw-delete-at-restart":"Löschen beim Start zurückgenommen"}[.action] // .action;
    def folded: (. // "") | ascii_downcase;
    [inputs | fromjson? | objects] as $records
    | [$records[] | select(.type == "finding" and (.check == "driver-file" or .check == "library-file"))
       | .path | folded] as $known
    | $records[] | try (
    if .type == "volume" then
      "Laufwerk: Partition \(.partition) " + (if .label then "„\(.label)“" else "" end)
    elif .type == "finding" then
      if .check == "driver-file" then "GEFUNDEN: der Treiber des Lauschkobolds, \(.path)"
      elif .check == "library-file" then "GEFUNDEN: die Bibliothek des Lauschkobolds, \(.path)"
      elif .check == "service" and .key then "GEFUNDEN: der Dienst „\(.name)“ ist eingetragen: \(.key)"
      elif .check == "service" then "GEFUNDEN: der Dienst „\(.name)“ ist registriert"
      elif .check == "appinit" then "GEFUNDEN: AppInit_DLLs lädt „\(.data)“ in jedes Programm"
      elif .check == "device" then "GEFUNDEN: das Gerät \(.path)"
      elif ((.check // "") | startswith("sweep")) then
        (.path | folded) as $path
        | if any($known[]; . == $path) then empty
          else "VERDÄCHTIG (Suche nach neuen Varianten, wird nicht entfernt): \(.path)" end
      else "GEFUNDEN: \(.check) \(.path // .name // "")" end
    elif .type == "action" then
      (if .ok then "Erledigt: " else "FEHLGESCHLAGEN: " end) + (act) + " – \(.target)"
      + (if .error then " (\(.error))" else "" end)
    elif .type == "skipped" then "Nicht untersucht: \(.path // "") – \(.reason // "")"
    elif .type == "note" then "Hinweis: \(.text)"
    elif .type == "error" then "Fehler: \(.message // .text // "")"
    elif .type == "summary" then
      (if .operation == "restore" then
         (if .exit_code == 0 then "Wiederherstellung: alles zurückgelegt." else "Wiederherstellung: nicht alles zurückgelegt." end)
       elif .verdict == "clean" and .exit_code == 0 then "Ergebnis: SAUBER. Der Lauschkobold wurde nicht gefunden."
       elif .verdict == "clean" or .verdict == "incomplete" then "Ergebnis: nichts gefunden, aber NICHT ALLES untersucht (siehe „Nicht untersucht“)."
       elif .verdict == "infected" then "Ergebnis: BEFALLEN. Die bekannte Version des Lauschkobolds ist da."
       else "Ergebnis: VERDÄCHTIG. Die Suche nach neuen Varianten hat etwas gefunden." end)
      + (if .operation != "restore" then " \(.files_examined) Dateien untersucht, \(.skipped) nicht untersucht." else "" end)
      + (if .quarantine then " Quarantäne: \(.quarantine)" else "" end)
      + (if .restart_required then " Ein Neustart von Windows ist nötig." else "" end)
    else empty end) catch empty' 2>/dev/null
}

# Examines an installation read-only. Writes the records to stdout; returns lkscan's exit code.
lk_examine() {  # record
  local image partition
  image=$(jq -r '.image' <<<"$1")
  partition=$(jq -r '.partition' <<<"$1")
  if lk_image_layer; then
    "$LK_SCAN" --image "$image" --partition "$partition" --json 2>>"$LK_RUN/lkscan.err"
    return
  fi
  local dev mnt=$LK_RUN/examine code
  dev=$(lk_partition_device "$1") || return 2
  mkdir -p "$mnt"
  ntfs-3g -o ro,nosuid,nodev,noexec "$dev" "$mnt" 2>>"$LK_RUN/lkscan.err" || return 2
  "$LK_SCAN" --root "$mnt" --json 2>>"$LK_RUN/lkscan.err"
  code=$?
  umount "$mnt"
  return "$code"
}

# The repair on a mounted installation, the quarantine on the stick when it is writable.
lk_remove() {  # mount point
  local q=()
  lk_storage
  [ -n "$LK_QUAR" ] && { mkdir -p "$LK_QUAR"; chmod 0700 "$LK_QUAR"; q=(--quarantine "$LK_QUAR"); }
  "$LK_SCAN" --root "$1" --remove "${q[@]}" --json 2>>"$LK_RUN/lkscan.err"
}

# Earlier runs that can be restored: the stick's quarantine and the Windows disk's (mounted).
lk_runs() {  # windows mount point (may be empty)
  local d
  lk_storage
  for d in ${LK_QUAR:+"$LK_QUAR"} ${1:+"$1/ProgramData/Anti-Lauschkobold/Quarantine"}; do
    [ -d "$d" ] || continue
    find "$d" -mindepth 2 -maxdepth 2 -name manifest.json -printf '%h\n' 2>/dev/null
  done | sort -r
}
