#pragma once
// Every text that the console programs show or write for a person: lkscan's usage, argument and
// start-up errors, its text report and progress line, the notes of its entry points, and
// lkgrep's usage and messages. One table, as the window has its own (analysis/AnalysisTexts.h), so
// a translator or a reviewer finds them together; scripts and support quote these words, so they
// change only together with the tests that hold them.
//
// Not here: the JSON Lines schema (record types, field names, check and action names, verdict
// names), which is a format rather than wording, and the reasons the scan and the quarantine give
// for what they skip or refuse, which stay beside the checks that find them (scan/, quarantine/).
//
// UTF-8. lkscan speaks German, lkgrep English. Texts with "%s" are patterns for Fill.

#include <initializer_list>
#include <string>
#include <string_view>

namespace lk::console_texts {

// Puts the arguments, in order, in place of the pattern's "%s"; a "%s" inside an argument stays.
[[nodiscard]] std::string Fill(std::string_view pattern,
                               std::initializer_list<std::string_view> arguments);

}  // namespace lk::console_texts

namespace lk::lkscan_texts {

inline constexpr std::string_view kUsage =
    "Aufruf:\n"
    "  lkscan [--json] [--no-sweep] [--remove] [--quarantine DIR] [--root DIR] [-j N]\n"
    "         [--output DATEI] [--eventlog] [--allow DATEI]\n"
    "  lkscan --restore QDIR [--json] [--root DIR] [--output DATEI] [--eventlog]\n"
    "  lkscan --image PFAD [--partition N] [--json] [--no-sweep] [-j N] [--output DATEI]\n"
    "  lkscan --list [--image PFAD] [--json]\n"
    "  lkscan --register-eventlog | --help | --version\n"
    "\n"
    "Sucht nach der bekannten Version des Lauschkobolds (Treiber winsys32.sys, Dienst\n"
    "winsys32, Gerät \\\\.\\KeyboardClassC, Bibliothek mfc42ul.dll in AppInit_DLLs) und\n"
    "durchsucht jede Systembibliothek und jeden Treiber nach Merkmalen neuer Varianten.\n"
    "Ohne --remove wird nichts verändert.\n"
    "\n"
    "  --json            JSON Lines auf der Standardausgabe, ein Objekt je Zeile\n"
    "  --no-sweep        nur die bekannte Version prüfen, keine heuristische Suche\n"
    "  --remove          die gefundene bekannte Version entfernen (mit Quarantäne)\n"
    "  --quarantine DIR  Ordner der Quarantäne\n"
    "  --root DIR        eine Windows-Installation unter DIR untersuchen (offline)\n"
    "  --restore QDIR    eine Entfernung aus der Quarantäne QDIR rückgängig machen\n"
    "  --image PFAD      die Windows-Installationen einer Festplatte, Partition oder eines\n"
    "                    Abbilds (roh, E01, VHD/VHDX, VMDK) nur lesend untersuchen (Linux)\n"
    "  --partition N     mit --image nur Partition N\n"
    "  --list            die Windows-Installationen auf allen Festplatten (oder in --image)\n"
    "                    auflisten, mit Version, BitLocker- und Ruhezustand\n"
    "  --output DATEI    JSON Lines zusätzlich in DATEI (erscheint erst vollständig)\n"
    "  --eventlog        Ereignisse im Anwendungsprotokoll (Quelle Anti-Lauschkobold)\n"
    "  --allow DATEI     SHA-256-Werte harmloser Dateien: solche Treffer der Suche\n"
    "                    werden Hinweise (allowed), keine Befunde\n"
    "  --register-eventlog  die Ereignisquelle eintragen (als Administrator)\n"
    "  -j N              N Dateien zugleich durchsuchen (Vorgabe: so viele wie Prozessorkerne);\n"
    "                    Meldungen und Reihenfolge wie mit -j 1\n"
    "\n"
    "Rückgabewert: 0 nichts gefunden und alles untersucht; 1 etwas gefunden;\n"
    "2 Aufruffehler, fehlende Rechte, oder nicht alles untersucht und nichts gefunden.\n";

// Every message on stderr starts so.
inline constexpr std::string_view kMessagePrefix = "lkscan: ";
inline constexpr std::string_view kVersion = "lkscan %s\n";

// Arguments.
inline constexpr std::string_view kGivenTwice = "%s ist mehrfach angegeben";
inline constexpr std::string_view kNeedsValue = "%s braucht %s";
inline constexpr std::string_view kValueFolder = "einen Ordner";
inline constexpr std::string_view kValueFile = "eine Datei";
inline constexpr std::string_view kValueImage = "ein Abbild oder Gerät";
inline constexpr std::string_view kThreadsNeedNumber = "-j braucht eine Zahl von 1 bis 64";
inline constexpr std::string_view kUnknownArgument = "unbekanntes Argument: %s";
inline constexpr std::string_view kStandsAlone = "%s steht allein";
inline constexpr std::string_view kAllowOnlyForScan =
    "--allow gilt nur für eine Untersuchung, nicht mit --restore";
inline constexpr std::string_view kRestoreExcludes =
    "--restore verträgt sich nicht mit --remove, --quarantine und --no-sweep";
inline constexpr std::string_view kQuarantineOnlyWithRemove = "--quarantine gilt nur mit --remove";

// The allow-list.
inline constexpr std::string_view kAllowUnreadable = "--allow %s: die Datei lässt sich nicht lesen";
inline constexpr std::string_view kAllowTooLong = "--allow %s: länger als 16 MiB";
inline constexpr std::string_view kAllowBadLine = "--allow %s, %s";
inline constexpr std::string_view kAllowNotSha256 =
    "Zeile %s: keine SHA-256-Prüfsumme (64 Hexadezimalziffern)";
inline constexpr std::string_view kAllowedDriver = "Treiber ";
inline constexpr std::string_view kAllowedLibrary = "Bibliothek ";
inline constexpr std::string_view kAllowedFinding =
    "%s%s, SHA-256 %s: in der Erlaubnisliste, kein Befund";

// Start-up, faces and rights.
inline constexpr std::string_view kFaceMissing =
    "%s gibt es hier nicht (das Ereignisprotokoll nur unter Windows)\n";
inline constexpr std::string_view kRegisterNeedsAdministrator =
    "--register-eventlog braucht die Rechte eines Administrators\n";
inline constexpr std::string_view kRegisterFailed = "--register-eventlog: %s\n";
inline constexpr std::string_view kEventSourceRegistered =
    "Ereignisquelle Anti-Lauschkobold eingetragen.\n";
inline constexpr std::string_view kOutputFailed = "--output %s\n";
inline constexpr std::string_view kEventlogFailed = "--eventlog: %s\n";
inline constexpr std::string_view kEventsIncomplete =
    "--eventlog: nicht jedes Ereignis ließ sich eintragen\n";
inline constexpr std::string_view kOutputNotWritten = "--output %s: nicht geschrieben\n";
inline constexpr std::string_view kSystemPlace = "System";
inline constexpr std::string_view kNeedsAdministrator =
    "%s braucht die Rechte eines Administrators (eine Eingabeaufforderung, die als "
    "Administrator gestartet wurde); es wurde nichts untersucht und nichts verändert.\n";
inline constexpr std::string_view kNoAdministratorRights = "keine Rechte eines Administrators";
inline constexpr std::string_view kRestoreBrokeOff = "die Wiederherstellung brach ab: %s";
inline constexpr std::string_view kNothingExaminedOrChanged =
    "%s Es wurde nichts untersucht und nichts verändert.\n";
inline constexpr std::string_view kQuarantinePlace = "Quarantäne";
inline constexpr std::string_view kScanBrokeOff = "die Untersuchung brach ab: %s";
inline constexpr std::string_view kScanPlace = "Untersuchung";

// Disks and images (--image, --list, --partition).
inline constexpr std::string_view kPartitionGivenTwice = "--partition ist mehrfach angegeben";
inline constexpr std::string_view kPartitionNeedsNumber =
    "--partition braucht eine Zahl von 0 bis 4096";
inline constexpr std::string_view kPartitionOnlyWithImage = "--partition gilt nur mit --image";
inline constexpr std::string_view kImageExcludesRoot = "--image und --root schließen einander aus";
inline constexpr std::string_view kListExcludes =
    "--list verträgt sich nur mit --image, --partition und --json";
inline constexpr std::string_view kImagesMissing =
    "%s gibt es hier nicht (Festplatten und Abbilder liest nur lkscan für Linux, das mit The "
    "Sleuth Kit gebaut ist)\n";
inline constexpr std::string_view kImageNeverChanged =
    "%s mit --image wird abgelehnt: ein Abbild wird nur gelesen, nie verändert; die Reparatur "
    "braucht das eingehängte Laufwerk (lkscan --root EINHÄNGEPUNKT --remove). Es wurde nichts "
    "untersucht und nichts verändert.\n";
inline constexpr std::string_view kChangesRefused =
    "%s wird abgelehnt: %s Es wurde nichts untersucht und nichts verändert.\n";
inline constexpr std::string_view kHibernatedRefusal =
    "Windows auf diesem Laufwerk ist im Ruhezustand (Schnellstart), und eine Änderung jetzt geht "
    "verloren oder beschädigt das Laufwerk, wenn Windows weiterläuft. Starten Sie Windows und "
    "fahren Sie es vollständig herunter (shutdown /s /t 0) oder schalten Sie den Schnellstart "
    "aus, dann entfernen Sie erneut.";
inline constexpr std::string_view kImageRefusal =
    "ein Abbild wird nur gelesen, nie verändert; die Reparatur braucht das eingehängte Laufwerk.";
inline constexpr std::string_view kDirtyVolume =
    "das NTFS-Laufwerk ist als nicht sauber getrennt markiert: Windows hat es nicht sauber "
    "ausgehängt (ein Absturz, ein Stromausfall oder ein Ruhezustand); Dateien, die gerade "
    "geschrieben wurden, können unvollständig sein, und chkdsk läuft beim nächsten Start von "
    "Windows";
inline constexpr std::string_view kHibernationUnknown =
    "ob Windows im Ruhezustand ist, lässt sich nicht sagen: %s";
inline constexpr std::string_view kNoInstallationFound = "keine Windows-Installation gefunden";
inline constexpr std::string_view kCannotBeExamined = "lässt sich nicht untersuchen";
inline constexpr std::string_view kNothingExaminedOnImage = "%s: es wurde nichts untersucht (%s)\n";
inline constexpr std::string_view kNothingExaminedOnImageSaid = "%s: es wurde nichts untersucht\n";
inline constexpr std::string_view kVolumeOfImage = "%s, Partition %s";
// The text of --list, one line per installation.
inline constexpr std::string_view kListPartition = " Partition %s";
inline constexpr std::string_view kListVersionUnknown = "Windows (Version unbekannt)";
inline constexpr std::string_view kListBuild = " Build %s";
inline constexpr std::string_view kListLabel = ", Bezeichnung \"%s\"";
inline constexpr std::string_view kListBitLockerYes = ", BitLocker: verschlüsselt";
inline constexpr std::string_view kListBitLockerNo = ", BitLocker: nein";
inline constexpr std::string_view kListHibernatedYes = ", Ruhezustand: ja";
inline constexpr std::string_view kListHibernatedNo = ", Ruhezustand: nein";
inline constexpr std::string_view kListDirty = ", nicht sauber ausgehängt";
inline constexpr std::string_view kListNone = "Keine Windows-Installation gefunden.\n";
inline constexpr std::string_view kSizeUnits[] = {"Bytes", "KiB", "MiB", "GiB", "TiB"};
// The text report's line before the records of each volume of an image.
inline constexpr std::string_view kHeadVolume = "LAUFWERK    ";
inline constexpr std::string_view kVolumeWhole = "das ganze Abbild";
inline constexpr std::string_view kVolumeLine = ", ab Byte %s, %s Bytes, %s";
inline constexpr std::string_view kVolumeLabel = ", Bezeichnung \"%s\"";
inline constexpr std::string_view kVolumeSerial = ", Seriennummer %s";

// The output file and the event log.
inline constexpr std::string_view kNoFileName = "%s: kein Dateiname";
inline constexpr std::string_view kEventLogUnopenable =
    "das Ereignisprotokoll lässt sich nicht öffnen: %s";
inline constexpr std::string_view kOwnPathUnknown =
    "der eigene Pfad lässt sich nicht bestimmen: %s";

// The entry points.
inline constexpr std::string_view kHiveReplayed =
    "Registrierungsdatei %s: Windows wurde nicht sauber beendet; untersucht ist der Stand nach "
    "den Transaktionsprotokollen (%s)";
inline constexpr std::string_view kHiveNotReplayed =
    "Registrierungsdatei %s: Windows wurde nicht sauber beendet, und die neueren Änderungen in "
    "den Transaktionsprotokollen lassen sich nicht einspielen (%s); untersucht ist nur der ältere "
    "Stand der Datei";
inline constexpr std::string_view kNoRunningWindows =
    "hier läuft kein Windows: mit --root DIR eine Windows-Installation angeben (den Ordner, in "
    "dem ihr Systemlaufwerk eingehängt ist)";
inline constexpr std::string_view kRootOnlyOnLinux =
    "--root untersucht eine Installation offline und gibt es nur in lkscan für Linux (vom "
    "Rettungssystem aus)";

// The text report: line heads, findings, actions, the verdict line.
inline constexpr std::string_view kHeadSuspicious = "VERDÄCHTIG  ";
inline constexpr std::string_view kHeadFound = "GEFUNDEN    ";
inline constexpr std::string_view kHeadDone = "AUSGEFÜHRT  ";
inline constexpr std::string_view kHeadFailed = "FEHLGESCHLAGEN ";
inline constexpr std::string_view kHeadSkipped = "NICHT UNTERSUCHT ";
inline constexpr std::string_view kHeadNote = "HINWEIS     ";
inline constexpr std::string_view kFindingDriverFile = "Treiberdatei ";
inline constexpr std::string_view kFindingLibraryFile = "Bibliotheksdatei ";
inline constexpr std::string_view kFindingSweepDriver = "Treiber ";
inline constexpr std::string_view kFindingSweepLibrary = "Bibliothek ";
inline constexpr std::string_view kFindingDevice = "Gerät erreichbar: ";
inline constexpr std::string_view kFindingServiceKey = "Dienstschlüssel %s, %s = %s";
inline constexpr std::string_view kFindingService = "Dienst %s bei der Dienststeuerung angemeldet";
inline constexpr std::string_view kFindingAppInit = "%s in %s";
inline constexpr std::string_view kFindingView = " (%s-Bit-Ansicht)";
inline constexpr std::string_view kFindingData = ": %s";
inline constexpr std::string_view kFindingSize = ", %s Bytes";
inline constexpr std::string_view kFindingSha256 = ", SHA-256 %s";
inline constexpr std::string_view kFindingIdentified = ", Kennung bestätigt";
inline constexpr std::string_view kFindingNotIdentified = ", Kennung nicht gefunden";

struct ActionLabel {
  std::string_view action;  // the JSON Lines name
  std::string_view label;
};
inline constexpr ActionLabel kActionLabels[] = {
    {"quarantine", "Kopie in die Quarantäne:"},
    {"delete", "Löschen:"},
    {"delete-at-restart", "Löschen beim Neustart:"},
    {"registry-write", "Registrierungswert ändern:"},
    {"service-stop", "Dienst anhalten:"},
    {"service-delete", "Dienst löschen:"},
    {"restore-file", "Datei zurücklegen:"},
    {"restore-registry", "Registrierungswert zurückschreiben:"},
    {"restore-service", "Dienst wieder eintragen:"},
    {"withdraw-delete-at-restart", "Löschen beim Neustart zurücknehmen:"},
};

inline constexpr std::string_view kRestoredAll = "Wiederherstellung: alles zurückgelegt.";
inline constexpr std::string_view kRestoredNotAll = "Wiederherstellung: nicht alles zurückgelegt.";
// By ScanVerdict: clean, infected, suspicious, incomplete.
inline constexpr std::string_view kVerdicts[] = {"sauber", "infiziert", "verdächtig",
                                                 "nichts gefunden, aber nicht alles untersucht"};
inline constexpr std::string_view kVerdictLine = "Ergebnis: %s. %s %s (%s) untersucht";
inline constexpr std::string_view kFile = "Datei";
inline constexpr std::string_view kFiles = "Dateien";
inline constexpr std::string_view kNotExamined = ", %s nicht untersucht";
inline constexpr std::string_view kMegabytes = "%s,%s MB";
inline constexpr std::string_view kRestartToTakeEffect =
    "Ein Neustart ist nötig, damit sie wirksam wird.\n";
inline constexpr std::string_view kRestartToFinishRemoval =
    "Ein Neustart ist nötig, damit die Entfernung abgeschlossen wird.\n";
inline constexpr std::string_view kQuarantineLine = "Quarantäne: %s\n";

// The progress line on a terminal.
inline constexpr std::string_view kProgressOf = " von %s";
inline constexpr std::string_view kProgressFiles = " Dateien, ";
inline constexpr std::string_view kProgressRate = "%s,%s MB/s, ";

}  // namespace lk::lkscan_texts

namespace lk::lkgrep_texts {

// "[--reference] " is cut out where no reference matcher was handed in (the shipped program).
inline constexpr std::string_view kUsage =
    "usage: lkgrep [--match-case] --compile EXPR\n"
    "       lkgrep [--match-case] [--whole-words] [--near N] [--recurse] [--mask MASKS]\n"
    "              [--reference] [-j N] (-e EXPR | --preset libraries|drivers) DIR...\n"
    "       lkgrep --find-text TEXT [--encoding ansi|utf16le|utf16be] [--case-sensitive]\n"
    "              [--whole-words] [--backward] [--start N] FILE\n"
    "\n"
    "Searching prints the path of every matching file on stdout. Every entry that could not be\n"
    "examined (a folder that is missing or unreadable, an entry that vanished, a pipe, socket or\n"
    "device, a symbolic link, a name holding a backslash) is named on stderr as\n"
    "  lkgrep: skipped PATH: REASON\n"
    "Bytes of a path that are not UTF-8, control characters and a backslash inside a name are\n"
    "printed as \\xHH (two hex digits), e.g. caf\\xE9.txt.\n"
    "A term longer than 255 characters is cut to its first 255, so it matches more than written;\n"
    "lkgrep warns on stderr when it cuts one.\n"
    "\n"
    "-j N reads N files at once (default: one per processor core, at most 64); the output, its\n"
    "order and the exit status are those of -j 1.\n"
    "\n"
    "Exit status: 0 something matched (or the expression compiled), 1 nothing matched and\n"
    "everything was examined, 2 nothing matched and something could not be examined, or an\n"
    "invalid expression or argument, or a file that could not be searched (--find-text).\n";
inline constexpr std::string_view kReferenceOption = "[--reference] ";

// Every message on stderr starts so.
inline constexpr std::string_view kMessagePrefix = "lkgrep: ";

inline constexpr std::string_view kCutTermWarning =
    "lkgrep: warning: the term \"%s...\" (%s characters) is cut to its first %s, so it matches "
    "more than written\n";
inline constexpr std::string_view kSkipped = "lkgrep: skipped %s%s: %s\n";
inline constexpr std::string_view kInvalidExpression = "invalid expression\n";
inline constexpr std::string_view kSemicolonInDirectory =
    "lkgrep: a directory name must not contain ';': %s\n";

// Arguments.
inline constexpr std::string_view kCompileNeedsExpression = "--compile needs an expression";
inline constexpr std::string_view kExpressionNeeded = "-e needs an expression";
inline constexpr std::string_view kOneExpressionOnly = "give one expression only";
inline constexpr std::string_view kPresetNeedsName = "--preset needs libraries or drivers";
inline constexpr std::string_view kUnknownPreset = "unknown preset %s";
inline constexpr std::string_view kMaskNeedsMasks = "--mask needs masks";
inline constexpr std::string_view kNearNeedsNumber = "--near needs a number";
inline constexpr std::string_view kFindTextNeedsText = "--find-text needs a text";
inline constexpr std::string_view kEncodingChoices = "--encoding takes ansi, utf16le or utf16be";
inline constexpr std::string_view kThreadsNeedNumber = "-j needs a number";
inline constexpr std::string_view kThreadsOutOfRange = "-j needs a number from 1 to 64";
inline constexpr std::string_view kStartNeedsNumber = "--start needs a number";
inline constexpr std::string_view kUnknownOption = "unknown option %s";
inline constexpr std::string_view kOneMode = "give one of --compile, -e/--preset or --find-text";
inline constexpr std::string_view kCompileAlone = "--compile takes no further arguments";
inline constexpr std::string_view kDirectoryNeeded = "name at least one directory";
inline constexpr std::string_view kFindTextOneFile = "--find-text searches exactly one file";

}  // namespace lk::lkgrep_texts
