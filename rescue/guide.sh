#!/bin/bash
# The guide on the first console of the rescue medium: finds the Windows installations, explains
# BitLocker and hibernation, examines the chosen one read-only, repairs it only after asking,
# saves every report, can undo an earlier repair, and ends with a restart or power off.
. /usr/local/lib/lk-rescue/common.sh
TITLE="Anti-Lauschkobold Rettung $LK_VERSION"
# The boxes take the console's size: a frame buffer has room for the long lines of the menus
# (installation, size, state) and for BitLocker's explanation with the recovery key; an
# 80-column text console gets the classic 78 by 22.
H=22 W=78
if read -r rows cols < <(stty size 2>/dev/null) && [ "${cols:-0}" -gt 84 ] && [ "${rows:-0}" -gt 26 ]; then
  W=$((cols > 124 ? 120 : cols - 4)) H=$((rows > 34 ? 30 : rows - 4))
fi

# Each question is also named on the serial line (LK-DIALOG <n> <title>), so a session at a
# serial console, or a test that drives the guide, can follow along.
# The count lives in a file: most dialogs run in a command substitution, whose variables are lost.
note() {  # title
  local step
  step=$(($(cat "$LK_RUN/dialogs" 2>/dev/null || echo 0) + 1))
  echo "$step" >"$LK_RUN/dialogs" 2>/dev/null
  printf 'LK-DIALOG %d %s\r\n' "$step" "$1" >/dev/ttyS0 2>/dev/null
  return 0
}
box() {
  local a prev= title=
  for a in "$@"; do [ "$prev" = --title ] && title=$a; prev=$a; done
  note "$title"
  whiptail --backtitle "$TITLE" --ok-button "Weiter" "$@" 3>&1 1>&2 2>&3
}
msg() { box --title "$1" --msgbox "$2" $H $W; }
info() { whiptail --backtitle "$TITLE" --title "$1" --infobox "$2" 10 $W; }
ask() {  # title, text; yes = 0
  note "$1"
  whiptail --backtitle "$TITLE" --title "$1" --yes-button "Ja" --no-button "Nein" \
    --defaultno --yesno "$2" $H $W
}
show_file() {  # title, file
  note "$1"
  whiptail --backtitle "$TITLE" --title "$1" --ok-button "Weiter" --scrolltext --textbox "$2" $H $W
}

where_text() {
  if [ "$LK_PLACE" = stick ]; then
    echo "Berichte und Quarantäne kommen auf den Stick: Laufwerk „LK-BERICHTE“, Ordner Berichte und Quarantaene (auch unter Windows lesbar)."
  else
    echo "Das Startmedium ist nicht beschreibbar (CD oder schreibgeschützt). Berichte bleiben nur bis zum Ausschalten im Speicher ($LK_REPORTS); die Quarantäne einer Reparatur kommt auf das Windows-Laufwerk (C:\\ProgramData\\Anti-Lauschkobold\\Quarantine)."
  fi
}

# A saved report: base path; writes .jsonl (given) and .txt, and names both.
save_report() {  # base, jsonl-temp, heading
  local base=$1
  cp "$2" "$base.jsonl"
  { echo "$3"; echo; lk_plain_words <"$2"; } >"$base.txt"
  lk_sync
}
saved_text() {  # base
  if [ "$LK_PLACE" = stick ]; then
    echo "Gespeichert auf dem Stick (LK-BERICHTE): Berichte/$(basename "$1").txt und .jsonl"
  else
    echo "Nur im Speicher, bis zum Ausschalten: $1.txt und .jsonl"
  fi
}

welcome() {
  msg "Willkommen" "Dieses System prüft Windows von außen auf den Trojaner „Lauschkobold“. Windows läuft dabei nicht: ein Treiber, der sich im laufenden Windows versteckt, kann hier nichts verbergen.

Zuerst wird nur gelesen. Geändert wird erst, wenn Sie einer Reparatur ausdrücklich zustimmen, und alles Geänderte kommt vorher in die Quarantäne, sodass Sie es zurücklegen können.

$(where_text)

Bedienung: Pfeiltasten wählen, Eingabetaste bestätigt, Tab wechselt zu den Knöpfen."
}

bitlocker_text() {
  echo "$(lk_describe "$1")

Dieses Laufwerk ist mit BitLocker verschlüsselt oder nicht lesbar. lkscan meldet: $(jq -r '.reason // "ohne Angabe"' <<<"$1").

Ohne Schlüssel kann es hier niemand lesen – auch der Trojaner nicht, solange Windows nicht läuft.

Nächster Schritt:
1. Windows normal starten, eine Eingabeaufforderung als Administrator öffnen und eingeben:
     manage-bde -protectors -disable C:
   (der Schutz ist dann bis zum nächsten Windows-Start ausgesetzt)
   oder BitLocker in der Systemsteuerung vorübergehend ausschalten.
2. Mit „shutdown /s /t 0“ ganz herunterfahren und wieder von diesem Medium starten.

Den Wiederherstellungsschlüssel bereithalten (Ausdruck, Microsoft-Konto unter aka.ms/myrecoverykey): nach dem Start von einem fremden Medium fragt Windows oft danach."
}

hibernated_text() {
  echo "Windows wurde nicht ganz heruntergefahren: es ist im Ruhezustand oder wurde mit „Schnellstart“ beendet. Ein Teil des Laufwerks steckt dann noch in Windows' Speicherabbild.

Die Untersuchung läuft trotzdem (sie liest nur). Eine Reparatur ist erst möglich, wenn Windows ganz beendet ist, sonst gingen Daten verloren.

Nächster Schritt: Windows starten, eine Eingabeaufforderung öffnen, „shutdown /s /t 0“ eingeben (fährt ganz herunter), dann wieder von diesem Medium starten. Auf Dauer: Schnellstart ausschalten (Systemsteuerung → Energieoptionen → Auswählen, was beim Drücken des Netzschalters geschehen soll)."
}

# Examine one installation; offers the repair when the known version was found.
examine() {  # record
  local rec=$1 tmp=$LK_RUN/examine.jsonl code base verdict
  if [ "$(jq -r .examinable <<<"$rec")" != true ]; then
    msg "Laufwerk verschlüsselt oder nicht lesbar" "$(bitlocker_text "$rec")"
    return
  fi
  [ "$(jq -r .hibernated <<<"$rec")" = true ] && msg "Windows im Ruhezustand" "$(hibernated_text)"
  info "Untersuchung läuft" "$(lk_describe "$rec")

Das Laufwerk wird nur gelesen. Je nach Größe dauert das einige Minuten …"
  lk_examine "$rec" >"$tmp"
  code=$?
  base=$(lk_report_base untersuchung)
  save_report "$base" "$tmp" "Untersuchung von $(lk_describe "$rec")"
  verdict=$(jq -r 'select(.type == "summary") | .verdict' "$tmp" | tail -n 1)
  {
    case "$code:$verdict" in
      0:clean) echo "SAUBER: Der Lauschkobold wurde nicht gefunden. Alles wurde untersucht." ;;
      1:infected) echo "BEFALLEN: Die bekannte Version des Lauschkobolds ist auf diesem Windows." ;;
      1:suspicious) echo "VERDÄCHTIG: Die Suche nach neuen Varianten hat Dateien gefunden. Sie werden nicht entfernt; lassen Sie sie von einer Fachkraft prüfen (der Bericht nennt Pfad und SHA-256)." ;;
      # Exit 2, or a summary saying "incomplete": nothing found, but not everything was read.
      *) echo "NICHT VOLLSTÄNDIG: Nichts gefunden, aber nicht alles ließ sich untersuchen; was fehlt, steht unten unter „Nicht untersucht“ und „Fehler“. Das ist kein sauberes Ergebnis." ;;
    esac
    echo
    echo "$(saved_text "$base")"
    echo
    echo "Einzelheiten:"
    lk_plain_words <"$tmp"
  } >"$LK_RUN/examine.txt"
  show_file "Ergebnis" "$LK_RUN/examine.txt"
  # One verdict over all records (-s): jq -e on a stream answers for its last record alone, the
  # summary, and so never offered the repair.
  if jq -s -e 'any(.[]; .type == "finding" and ((.check // "") | startswith("sweep") | not))' \
      "$tmp" >/dev/null 2>&1; then
    repair "$rec" "$tmp"
  fi
}

repair() {  # record, findings
  local rec=$1 found=$2 mnt tmp=$LK_RUN/remove.jsonl code base what
  if [ "$(jq -r .hibernated <<<"$rec")" = true ]; then
    msg "Reparatur nicht möglich" "Windows ist im Ruhezustand oder wurde mit Schnellstart beendet. Eine Reparatur jetzt könnte Daten zerstören; sie wird deshalb verweigert.

$(hibernated_text)"
    return
  fi
  what=$(jq -r 'select(.type == "finding" and (.check | startswith("sweep") | not)) |
    if .check == "service" and .key then "  – den Dienst „\(.name)“ aus der Registrierung (in jedem Steuersatz)"
    elif .check == "service" then empty
    elif .check == "appinit" then "  – „\(.data)“ aus AppInit_DLLs (der Rest des Werts bleibt)"
    elif .check == "device" then empty
    else "  – die Datei \(.path)" end' "$found" | sort -u)
  if [ "$LK_PLACE" = stick ]; then
    where="auf den Stick (LK-BERICHTE, Ordner Quarantaene)"
  else
    where="auf das Windows-Laufwerk (C:\\ProgramData\\Anti-Lauschkobold\\Quarantine), weil das Startmedium nicht beschreibbar ist"
  fi
  ask "Reparieren?" "Soll der Lauschkobold jetzt entfernt werden?

Dafür wird das Windows-Laufwerk beschreibbar eingebunden und es wird entfernt:
$what

Vorher kommt jede dieser Dateien und jeder Registrierungswert in die Quarantäne, $where. Von dort lässt sich alles zurücklegen („Frühere Reparatur rückgängig machen“). Sonst wird nichts geändert; Funde der Suche nach neuen Varianten bleiben, wo sie sind.

Nach einer Reparatur fragt BitLocker beim nächsten Windows-Start eventuell nach dem Wiederherstellungsschlüssel." || return
  info "Reparatur läuft" "Das Laufwerk wird beschreibbar eingebunden (ntfs-3g) …"
  if ! mnt=$(lk_mount_rw "$rec"); then
    msg "Reparatur nicht möglich" "$LK_MOUNT_ERROR

Es wurde nichts geändert."
    return
  fi
  info "Reparatur läuft" "Der Lauschkobold wird entfernt; die Quarantäne kommt $where …"
  lk_remove "$mnt" >"$tmp"
  code=$?
  lk_umount "$mnt"
  base=$(lk_report_base entfernen)
  save_report "$base" "$tmp" "Reparatur von $(lk_describe "$rec")"
  {
    if [ "$code" -eq 2 ]; then echo "Die Reparatur ist NICHT VOLLSTÄNDIG gelungen (siehe unten)."
    else echo "Die Reparatur ist abgeschlossen."; fi
    echo "Die Quarantäne liegt $where."
    echo "$(saved_text "$base")"
    echo
    lk_plain_words <"$tmp"
  } >"$LK_RUN/remove.txt"
  show_file "Reparatur" "$LK_RUN/remove.txt"
  msg "Nachprüfung" "Zur Kontrolle wird die Installation jetzt noch einmal untersucht, wieder nur lesend."
  examine "$rec"
}

# Undo an earlier repair: the stick's quarantine and the one on the chosen Windows disk.
restore() {
  local rec mnt runs=() items=() r i choice tmp=$LK_RUN/restore.jsonl code base
  rec=$(choose_installation "Welche Windows-Installation soll ihre frühere Reparatur zurückbekommen?") || return
  info "Suche" "Das Laufwerk wird beschreibbar eingebunden, um die Quarantäne zu lesen …"
  if ! mnt=$(lk_mount_rw "$rec"); then
    msg "Nicht möglich" "$LK_MOUNT_ERROR"
    return
  fi
  mapfile -t runs < <(lk_runs "$mnt")
  if [ ${#runs[@]} -eq 0 ]; then
    lk_umount "$mnt"
    msg "Keine frühere Reparatur" "Weder auf dem Stick noch auf diesem Windows-Laufwerk liegt eine Quarantäne."
    return
  fi
  for i in "${!runs[@]}"; do
    r=${runs[$i]}
    case "$r" in "$mnt"/*) place="Windows-Laufwerk" ;; *) place="Stick" ;; esac
    items+=("$((i + 1))" "$(basename "$r") ($place)")
  done
  if ! choice=$(box --title "Rückgängig machen" --cancel-button "Zurück" --menu \
      "Welcher Lauf soll zurückgelegt werden? (Name = Zeit in UTC)" $H $W 10 "${items[@]}"); then
    lk_umount "$mnt"; return
  fi
  r=${runs[$((choice - 1))]}
  if ! ask "Zurücklegen?" "Alles, was der Lauf $(basename "$r") entfernt hat, wird auf $(lk_describe "$rec") zurückgelegt – auch der Trojaner, falls er entfernt wurde. Eine Datei, die inzwischen anders ist, wird nicht überschrieben.

Fortfahren?"; then
    lk_umount "$mnt"; return
  fi
  info "Wiederherstellung läuft" "$(basename "$r") wird zurückgelegt …"
  "$LK_SCAN" --root "$mnt" --restore "$r" --json >"$tmp" 2>>"$LK_RUN/lkscan.err"
  code=$?
  lk_umount "$mnt"
  base=$(lk_report_base wiederherstellung)
  save_report "$base" "$tmp" "Wiederherstellung von $(basename "$r") auf $(lk_describe "$rec")"
  { echo "$(saved_text "$base")"; echo; lk_plain_words <"$tmp"; } >"$LK_RUN/restore.txt"
  show_file "Wiederherstellung" "$LK_RUN/restore.txt"
}

INSTALLS=()
search() {
  info "Suche" "Die Laufwerke dieses PCs werden nach Windows-Installationen durchsucht (nur lesend) …"
  mapfile -t INSTALLS < <(lk_list)
}
state_of() {  # record
  if [ "$(jq -r .examinable <<<"$1")" != true ]; then echo "BitLocker/nicht lesbar"
  elif [ "$(jq -r .hibernated <<<"$1")" = true ]; then echo "Ruhezustand"
  else echo "bereit"; fi
}
choose_installation() {  # question
  local items=() i choice
  [ ${#INSTALLS[@]} -gt 0 ] || { msg "Keine Installation" "Es wurde keine Windows-Installation gefunden."; return 1; }
  for i in "${!INSTALLS[@]}"; do items+=("$((i + 1))" "$(lk_describe "${INSTALLS[$i]}")"); done
  choice=$(box --title "Installation wählen" --cancel-button "Zurück" --menu "$1" $H $W 10 "${items[@]}") || return 1
  echo "${INSTALLS[$((choice - 1))]}"
}

finish() {  # reboot | poweroff
  [ "$LK_PLACE" = stick ] && { sync; umount "$LK_RUN/stick" 2>/dev/null; }
  sync
  clear
  systemctl "$1"
  sleep 30
}

main_menu() {
  local items=() i choice text
  while true; do
    items=()
    for i in "${!INSTALLS[@]}"; do
      items+=("$((i + 1))" "$(lk_describe "${INSTALLS[$i]}") – $(state_of "${INSTALLS[$i]}")")
    done
    items+=("S" "Erneut suchen" "R" "Frühere Reparatur rückgängig machen"
            "B" "Gespeicherte Berichte ansehen" "N" "Neu starten" "A" "Ausschalten")
    if [ ${#INSTALLS[@]} -eq 0 ]; then
      text="Es wurde keine Windows-Installation gefunden. Mögliche Gründe: das Laufwerk steckt hinter einem RAID-Modus (Intel RST; in der Firmware auf „AHCI“ stellen), oder ein Laufwerk ist nicht lesbar."
    else
      text="Gefundene Windows-Installationen. Wählen Sie eine zum Untersuchen (nur lesend):"
    fi
    choice=$(box --title "Hauptmenü" --nocancel --ok-button "Auswählen" --menu "$text" $H $W 10 "${items[@]}") || choice=A
    case "$choice" in
      S) search ;;
      R) restore ;;
      B) reports ;;
      N) ask "Neu starten" "Jetzt neu starten? Das Startmedium kann danach entfernt werden." && finish reboot ;;
      A) ask "Ausschalten" "Jetzt ausschalten?" && finish poweroff ;;
      *) examine "${INSTALLS[$((choice - 1))]}" ;;
    esac
  done
}

reports() {
  local files=() items=() i choice
  mapfile -t files < <(ls -1r "$LK_REPORTS"/Bericht-*.txt 2>/dev/null)
  [ ${#files[@]} -gt 0 ] || { msg "Berichte" "Noch kein Bericht gespeichert."; return; }
  for i in "${!files[@]}"; do items+=("$((i + 1))" "$(basename "${files[$i]}")"); done
  choice=$(box --title "Berichte" --cancel-button "Zurück" --menu "$(where_text)" $H $W 10 "${items[@]}") || return
  show_file "$(basename "${files[$((choice - 1))]}")" "${files[$((choice - 1))]}"
}

setterm --blank 0 --powersave off 2>/dev/null
lk_storage
welcome
search
main_menu
