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

// Hands every record on and remembers what a summary must say, so that a run that fails after
// it has started still ends its JSON Lines with a summary record: a script reading them never
// sees a run end without its exit code. Text output gets no such line: a "clean" verdict for a
// run that failed would read as a result.
class SummaryGuard final : public ScanReport {
 public:
  SummaryGuard(ScanReport& inner, bool json, bool restore)
      : inner_(inner), json_(json), restore_(restore) {}

  void Finding(const ScanFinding& finding) override {
    (finding.check.rfind("sweep-", 0) == 0 ? suspicious_ : infected_) = true;
    inner_.Finding(finding);
  }
  void Action(const ScanAction& action) override { inner_.Action(action); }
  void Skipped(const ScanSkipped& skipped) override {
    ++skipped_;
    inner_.Skipped(skipped);
  }
  void Note(const ScanNote& note) override { inner_.Note(note); }
  void Progress(const ScanProgress& progress) override { inner_.Progress(progress); }
  void Summary(const ScanSummary& summary) override {
    summarized_ = true;
    inner_.Summary(summary);
  }

  // Reports why the run broke off and, with JSON, the summary it did not reach; returns code.
  int Fail(int code, std::string path, std::string reason) {
    if (!json_ || summarized_) return code;
    Skipped({std::move(path), std::move(reason)});
    ScanSummary summary;
    summary.restore = restore_;
    summary.verdict = infected_     ? ScanVerdict::Infected
                      : suspicious_ ? ScanVerdict::Suspicious
                                    : ScanVerdict::Clean;
    summary.skipped = skipped_;
    summary.exitCode = code;
    Summary(summary);
    return code;
  }

 private:
  ScanReport& inner_;
  bool json_;
  bool restore_;
  bool infected_ = false;
  bool suspicious_ = false;
  bool summarized_ = false;
  std::int64_t skipped_ = 0;
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

  JsonLinesReport json(host.out);
  TextReport text(host.out);
  ScanReport& records = options.json ? static_cast<ScanReport&>(json) : text;
  ProgressLine progress(records, host.err);
  SummaryGuard report(host.errIsTerminal ? static_cast<ScanReport&>(progress) : records,
                      options.json, options.restore.has_value());

  std::unique_ptr<ScanTarget> target = host.openTarget(options.root, &error);
  if (!target) {
    host.err << "lkscan: " << error << '\n';
    return report.Fail(scan_exit::kUsage, options.root.value_or("System"), error);
  }

  for (const ScanNote& note : target->Notes()) report.Note(note);

  // Changing the system needs an administrator; asking never raises a prompt. Nothing has been
  // examined or changed yet.
  if ((options.remove || options.restore) && !target->System().HasAdministratorRights()) {
    host.err << "lkscan: " << (options.remove ? "--remove" : "--restore")
             << " braucht die Rechte eines Administrators (eine Eingabeaufforderung, die als "
                "Administrator gestartet wurde); es wurde nichts untersucht und nichts "
                "verändert.\n";
    return report.Fail(scan_exit::kUsage, options.root.value_or("System"),
                       "keine Rechte eines Administrators");
  }

  if (options.restore) {
    target->BeforeChanges(nullptr);
    Restorer restorer(target->System(), target->Files(), target->Store(), report);
    try {
      return restorer.Run(*options.restore);
    } catch (const std::exception& failure) {
      host.out.flush();
      host.err << "\nlkscan: die Wiederherstellung brach ab: " << failure.what() << '\n';
      return report.Fail(Restorer::kIncomplete, *options.restore,
                         std::string("die Wiederherstellung brach ab: ") + failure.what());
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
      return report.Fail(scan_exit::kUsage, options.quarantine.value_or("Quarantäne"), error);
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
  scan.unexamined = target->Unexamined();
  scan.removalSafety = [&target] { return target->WhyRemovalIsUnsafe(); };
  try {
    return scanner.Run(scan);
  } catch (const std::exception& failure) {
    host.out.flush();
    host.err << "\nlkscan: die Untersuchung brach ab: " << failure.what() << '\n';
    return report.Fail(scan_exit::kIncomplete, "Untersuchung",
                       std::string("die Untersuchung brach ab: ") + failure.what());
  }
}

}  // namespace lk
