#include "tools/lkscan/LkScan.h"

#include <exception>
#include <string_view>

#include "analysis/Quarantine.h"
#include "analysis/Restorer.h"
#include "analysis/Scanner.h"
#include "system/Sha256.h"
#include "tools/lkscan/ScanOutput.h"

namespace lk {

namespace {

constexpr char kUsage[] =
    "Aufruf:\n"
    "  lkscan [--json] [--no-sweep] [--remove] [--quarantine DIR] [--root DIR]\n"
    "  lkscan --restore QDIR [--json] [--root DIR]\n"
    "  lkscan --help | --version\n"
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
    "\n"
    "Rückgabewert: 0 nichts gefunden und alles untersucht; 1 etwas gefunden;\n"
    "2 Aufruffehler, fehlende Rechte, oder nicht alles untersucht und nichts gefunden.\n";

struct Options {
  bool json = false;
  bool sweep = true;
  bool remove = false;
  bool help = false;
  bool version = false;
  std::optional<std::string> quarantine;
  std::optional<std::string> root;
  std::optional<std::string> restore;
};

// Fills options; false with a message in *error for arguments that do not fit the usage.
bool ParseArguments(const std::vector<std::string>& args, Options& options, std::string* error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    const auto takeValue = [&](std::optional<std::string>& target) {
      if (target) {
        *error = std::string(arg) + " ist mehrfach angegeben";
        return false;
      }
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        *error = std::string(arg) + " braucht einen Ordner";
        return false;
      }
      target = args[++i];
      return true;
    };
    if (arg == "--json") {
      options.json = true;
    } else if (arg == "--no-sweep") {
      options.sweep = false;
    } else if (arg == "--remove") {
      options.remove = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--quarantine") {
      if (!takeValue(options.quarantine)) return false;
    } else if (arg == "--root") {
      if (!takeValue(options.root)) return false;
    } else if (arg == "--restore") {
      if (!takeValue(options.restore)) return false;
    } else {
      *error = "unbekanntes Argument: " + std::string(arg);
      return false;
    }
  }
  if ((options.help || options.version) && args.size() != 1) {
    *error = std::string(options.help ? "--help" : "--version") + " steht allein";
    return false;
  }
  if (options.restore && (options.remove || options.quarantine || !options.sweep)) {
    *error = "--restore verträgt sich nicht mit --remove, --quarantine und --no-sweep";
    return false;
  }
  if (options.quarantine && !options.remove) {
    *error = "--quarantine gilt nur mit --remove";
    return false;
  }
  return true;
}

// The journal as the target sees it: a backup it asks for (a whole hive, kept before its first
// change) is told like every other keep, since it happens in the middle of the removal's steps.
class ReportedBackups final : public RemovalJournal {
 public:
  ReportedBackups(RemovalJournal& inner, ScanReport& report) : inner_(inner), report_(report) {}

  Kept KeepFile(std::string_view path) override { return inner_.KeepFile(path); }
  Kept KeepRegistryValue(RegistryView view, std::string_view key,
                         std::string_view valueName) override {
    return inner_.KeepRegistryValue(view, key, valueName);
  }
  Kept KeepServiceKey(std::string_view serviceName) override {
    return inner_.KeepServiceKey(serviceName);
  }
  Kept KeepBackup(std::string_view path) override {
    Kept kept = inner_.KeepBackup(path);
    ScanAction action{"quarantine", std::string(path), kept.ok, std::nullopt};
    if (!kept.ok) action.error = kept.error;
    report_.Action(action);
    return kept;
  }
  [[nodiscard]] std::string Location() const override { return inner_.Location(); }

 private:
  RemovalJournal& inner_;
  ScanReport& report_;
};

}  // namespace

int RunLkScan(const std::vector<std::string>& args, const LkScanHost& host) {
  Options options;
  std::string error;
  if (!ParseArguments(args, options, &error)) {
    host.err << "lkscan: " << error << "\n\n" << kUsage;
    return scan_exit::kUsage;
  }
  if (options.help) {
    host.out << kUsage;
    return 0;
  }
  if (options.version) {
    host.out << "lkscan " << LK_VERSION << '\n';
    return 0;
  }
  // Every finding carries a checksum: without the platform's SHA-256 there is no scan to make.
  try {
    const Sha256 available;
  } catch (const std::exception& failure) {
    host.err << "lkscan: " << failure.what() << '\n';
    return scan_exit::kUsage;
  }

  std::unique_ptr<ScanTarget> target = host.openTarget(options.root, &error);
  if (!target) {
    host.err << "lkscan: " << error << '\n';
    return scan_exit::kUsage;
  }

  JsonLinesReport json(host.out);
  TextReport text(host.out);
  ScanReport& records = options.json ? static_cast<ScanReport&>(json) : text;
  ProgressLine progress(records, host.err);
  ScanReport& report = host.errIsTerminal ? static_cast<ScanReport&>(progress) : records;

  for (const ScanNote& note : target->Notes()) report.Note(note);
  if (options.quarantine) options.quarantine = target->FolderPath(*options.quarantine);
  if (options.restore) options.restore = target->FolderPath(*options.restore);

  // Changing the system needs an administrator; asking never raises a prompt. Nothing has been
  // examined or changed yet.
  if ((options.remove || options.restore) && !target->System().HasAdministratorRights()) {
    host.err << "lkscan: " << (options.remove ? "--remove" : "--restore")
             << " braucht die Rechte eines Administrators (eine Eingabeaufforderung, die als "
                "Administrator gestartet wurde); es wurde nichts untersucht und nichts "
                "verändert.\n";
    return scan_exit::kUsage;
  }

  if (options.restore) {
    target->BeforeChanges(nullptr);
    Restorer restorer(target->System(), target->Files(), target->Store(), report);
    try {
      return restorer.Run(*options.restore);
    } catch (const std::exception& failure) {
      host.out.flush();
      host.err << "\nlkscan: die Wiederherstellung brach ab: " << failure.what() << '\n';
      return Restorer::kIncomplete;
    }
  }

  std::optional<Quarantine> quarantine;
  std::optional<ReportedBackups> backups;
  if (options.remove) {
    QuarantineSettings settings;
    settings.folder = options.quarantine.value_or("");
    settings.programVersion = LK_VERSION;
    quarantine.emplace(target->System(), target->Files(), target->Store(), std::move(settings));
    if (!quarantine->Open(&error)) {
      host.err << "lkscan: " << error << " Es wurde nichts untersucht und nichts verändert.\n";
      return scan_exit::kUsage;
    }
    for (const std::string& note : quarantine->Notes()) report.Note({"quarantine", note});
    backups.emplace(*quarantine, report);
    target->BeforeChanges(&*backups);
  }

  Scanner scanner(target->System(), target->Files(), report);
  ScanOptions scan;
  scan.sweep = options.sweep;
  scan.remove = options.remove;
  scan.journal = quarantine ? &*quarantine : nullptr;
  try {
    return scanner.Run(scan);
  } catch (const std::exception& failure) {
    // A scan that broke off has no summary: a script sees the missing record and the exit code.
    host.out.flush();
    host.err << "\nlkscan: die Untersuchung brach ab: " << failure.what() << '\n';
    return scan_exit::kIncomplete;
  }
}

}  // namespace lk
