#pragma once
// Every text that the window's run shows or writes: report entries, dialog titles and messages,
// the report prefixes. One table, so a translator or a reviewer finds them together; the words
// (typos included) are the program's established wording and must not be "corrected", since
// users and support quote them.
//
// UTF-8. Texts with "%s" or "%d" are patterns for FormatText. The trojan's names and places are
// facts about it, not wording (trojan/TrojanNames.h); the strings it carries itself (signatures,
// device name, sweep expressions) stay scrambled in the executable (trojan/Signatures.h,
// trojan/SweepExpressions.h).

#include <string>
#include <string_view>

namespace lk::texts {

// Report list prefixes, by kind.
inline constexpr std::string_view kPrefixConcerning = "Bedenklich: - ";
inline constexpr std::string_view kPrefixCritical = "Kritisch: - ";
inline constexpr std::string_view kPrefixNote = "Hinweis: - ";

// Dialog titles of the fixed-title wrappers.
inline constexpr std::string_view kTitleInformation = "Information";
inline constexpr std::string_view kTitleError = "Fehler";
inline constexpr std::string_view kTitleWarning = "Warnung";
inline constexpr std::string_view kTitleQuestion = "Frage";

// Window creation on 64-bit systems.
inline constexpr std::string_view kProductPageUrl =
    "https://www.quandrel.example/anti-lauschkobold/";
inline constexpr std::string_view kNotice64BitBegin =
    "<b>Anti-Lauschkobold hat ein 64-BIT Betriebssystem entdeckt!</b><br><br>Wir setzen auf "
    "diesen Systemen eine zeitintensive, heuristische <b>Tiefenanalyse</b> ein, mit der wir den "
    "bekannten Lauschkobold inkl. unbekannter Varianten aufspüren, jedoch nicht automatisiert "
    "entfernen können. Bitte prüfen Sie regelmäßig auf den Internetseiten der ";
inline constexpr std::string_view kPublisherLinkText = "Quandrel Software GmbH";
inline constexpr std::string_view kNotice64BitEnd =
    ", ob eine neuere Version des <u>Anti-Lauschkobolds</u> verfügbar ist.";
inline constexpr std::string_view kNote64Bit =
    "(*) Auf 64-Bit Systemen kann der Lauschkobold (+Varianten) zur Zeit aufgespührt, aber nur "
    "manuell entfernt werden!";

// The run.
inline constexpr std::string_view kSweepQuestion =
    "Unter 32 BIT steht eine Analysemethode zur Verfügung, mit der bisher <u>unbekannte "
    "Varianten</u> des bekannten Lauschkobolds gefunden werden können. Diese Funktion nutzt ein "
    "<b>heuristisches</b> Verfahren, welches verdächtige Dateien auffinden, jedoch noch "
    "<u>nicht</u> unschädlich machen kann.<br><br><b>Möchten Sie die heuristische Analyse "
    "ausführen?</b><br><br><i>(Wenn Sie die Frage mit NEIN beantworten, wird nach der bekannten "
    "Version gesucht, die auch entfernt werden kann. Es wir empfohlen, <b>beide "
    "Analysevarianten</b> zu nutzen) </i>";
inline constexpr std::string_view kCancelledByUser = "Abbruch durch Anwender...";
inline constexpr std::string_view kAnalysisFinished = "Analyse beendet...";

// Known-version checks and verdict.
inline constexpr std::string_view kAnalysingRegistry =
    "Analysiere Windows Registrierungsdatenbank...";
inline constexpr std::string_view kRegistryCheckFailed =
    "Beim Überprüfen der Registrierungsdatenbank traten Fehler auf";
inline constexpr std::string_view kDriverRegistered = "Lauschkobold Treiber in System registriert";
inline constexpr std::string_view kLibraryRegistered =
    "Lauschkobold Bibliothek in System registriert";
inline constexpr std::string_view kAnalysingSystemFiles = "Analysiere Systemdateien...";
inline constexpr std::string_view kLibraryPresumablyPresent =
    "Lauschkobold Bibliothek ist mutmaßlich auf Ihrem System vorhanden";
inline constexpr std::string_view kNoAccessToLibrary = "Fehler: Kein Zugriff auf die Bibliothek";
inline constexpr std::string_view kLibraryIdentified =
    "Lauschkobold Bibliothek eindeutig identifiziert";
inline constexpr std::string_view kLibraryNotIdentified =
    "Lauschkobold Bibliothek NICHT eindeutig identifiziert";
inline constexpr std::string_view kDriverPresumablyPresent =
    "Lauschkobold Treiber ist mutmaßlich auf Ihrem System vorhanden";
inline constexpr std::string_view kNoAccessToDriver = "Fehler: Kein Zugriff auf den Treiber";
inline constexpr std::string_view kDriverIdentified =
    "Lauschkobold Treiber eindeutig identifiziert";
inline constexpr std::string_view kDriverNotIdentified =
    "Lauschkobold Treiber NICHT eindeutig identifiziert";
inline constexpr std::string_view kAnalysingServiceManager = "Analysiere Windows Dienstemanager...";
inline constexpr std::string_view kDriverServiceRegistered =
    "Lauschkobold Treiber ist im Dienstemanager angemeldet";
inline constexpr std::string_view kDriverServiceNotRegistered =
    "Lauschkobold Treiber ist NICHT im Dienstemanager angemeldet";
inline constexpr std::string_view kServiceManagerUnavailable =
    "Verbindung mit dem Dienstemanager nicht möglich";
inline constexpr std::string_view kAnalysingDevices = "Analysiere Geräteverfügbarkeit...";
inline constexpr std::string_view kDeviceReachable = "Verbindung mit Lauschkobold möglich!!!";

inline constexpr std::string_view kVerdictCleanHeadline = "Kein Lauschkobold entdeckt";
inline constexpr std::string_view kVerdictCleanNotice =
    "HINWEIS: Es wurden keine Anzeichen für das Vorhandensein des Lauschkobolds auf Ihrem Sytem "
    "entdeckt!";
inline constexpr std::string_view kVerdictFoundTitle = "Lauschkobold gefunden";
inline constexpr std::string_view kVerdictPartsFound =
    "WARNUNG: Es wurden <b>Anteile</b> des Lauschkobolds auf Ihrem Rechner gefunden.<br><br>"
    "Möchten Sie, dass versucht wird, die gefundenen Anteile des Lauschkobolds zu entfernen?";
inline constexpr std::string_view kVerdictClearSigns =
    "WARNUNG: Es wurden <b>DEUTLICHE</b> Anzeichen für das Vorhandensein des Lauschkobolds auf "
    "Ihrem Rechner gefunden.<br><br>Möchten Sie, dass versucht wird, die gefundenen Anteile des "
    "Lauschkobolds zu entfernen?";

// Removal.
inline constexpr std::string_view kRemovalFinished = "Entfernen beendet...";
inline constexpr std::string_view kRemovingLibraryRegistration =
    "Entferne Bibliothek aus Windows Registrierungsdatenbank";
inline constexpr std::string_view kRemovingLibraryFile = "Entferne Bibliothek aus Systemdateien";
inline constexpr std::string_view kLibraryDeleteAtRestart =
    "Bibliothek wurde zum Löschen bei Neustart vorgemerkt";
inline constexpr std::string_view kDeactivatingDriver = "Deaktiviere Treiber...";
inline constexpr std::string_view kRemovingDriverRegistration =
    "Entferne Treiber aus Windows Registrierungsdatenbank...";
inline constexpr std::string_view kRemovingDriverFile = "Entferne Treiber aus Systemdateien";
inline constexpr std::string_view kDriverDeleteAtRestart =
    "Treiber wurde zum Löschen bei Neustart vorgemerkt";
inline constexpr std::string_view kRestartRecommended =
    "Es wird dringend empfohlen, dass Sie Ihren Rechner jetzt neu starten. Anschließend wird "
    "empfohlen, dass Sie die Analyse erneut durchführen. Es ist durchaus möglich, dass das "
    "Entfernen in mehreren Stufen erfolgen muss.<br><br>Möchten Sie Ihren Rechner jetzt neu "
    "starten?";
inline constexpr std::string_view kStoppingService = "Halte den Trojaner %s an";
inline constexpr std::string_view kDeletingService = "Lösche Lauschkobold %s";
inline constexpr std::string_view kUninstallFailed =
    "Die Deinstallation des Lauschkbolds ist fehlgechlagen!<br><br>";

// Heuristic sweep.
inline constexpr std::string_view kCountingLibraries =
    "Ermittle Anzahl zu analysierender Bibliotheken...";
inline constexpr std::string_view kCountingDrivers = "Ermittle Anzahl zu analysierender Treiber...";
inline constexpr std::string_view kAnalysingLibraries = "Analysiere %d Bibliotheken...";
inline constexpr std::string_view kAnalysingDrivers = "Analysiere %d Treiber...";
inline constexpr std::string_view kSuspiciousFileFound = "Verdächtige Datei %s gefunden";
inline constexpr std::string_view kStatusAnalysing = "Analysiere: ";
inline constexpr std::string_view kSweepNothingFound =
    "Es wurden keine Anzeichen für das Vorhandensein des Lauschkobolds auf Ihrem System "
    "gefunden!";
inline constexpr std::string_view kDriverFoundTitle = "Lauschkobold (Treiber) gefunden?!";
inline constexpr std::string_view kSuspiciousContent =
    "Folgende Dateien weisen verdächtigen Inhalt auf:<br><br>";
inline constexpr std::string_view kDeviceWithoutDriver =
    "Anti-Lauschkobold konnte sich auf Ihrem System mit dem Lauschkobod verbinden, den "
    "zugehörigen Treiber jedoch <b>nicht</b> ermitteln. Bitte setzen Sie sich mit uns in "
    "Verbindung";
inline constexpr std::string_view kLibraryFoundTitle =
    "Vermutlich Lauschkobold (Bibliothek) gefunden!";
inline constexpr std::string_view kClipboardNotice =
    "Die Liste mit verdächtigen Dateien wurde in Ihre Zwichenablage übertragen. Sie können den "
    "Text mit \"Einfügen\" in jeder Textverarbeitung in das Dokument übernehmen.";

// Replaces the first "%s" or "%d" of pattern by argument.
[[nodiscard]] std::string FormatText(std::string_view pattern, std::string_view argument);

}  // namespace lk::texts
