#include "tools/lkscan/LkScan.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <streambuf>
#include <string_view>
#include <thread>

#include <nlohmann/json.hpp>

#include "base/Utf8.h"
#include "quarantine/Quarantine.h"
#include "quarantine/Restorer.h"
#include "scan/Scanner.h"
#include "system/Sha256.h"
#include "tools/ConsoleTexts.h"
#include "tools/lkscan/AllowList.h"
#include "tools/lkscan/ScanOutput.h"

namespace lk {

namespace {

using Json = nlohmann::ordered_json;
namespace t = lkscan_texts;
using console_texts::Fill;

struct Options {
  bool json = false;
  bool sweep = true;
  bool remove = false;
  bool help = false;
  bool version = false;
  std::optional<std::string> quarantine;
  std::optional<std::string> root;
  std::optional<std::string> restore;
  std::optional<std::string> output;
  std::optional<std::string> allow;
  bool eventlog = false;
  bool registerEventlog = false;
  std::optional<int> threads;
  std::optional<std::string> image;
  std::optional<int> partition;
  bool list = false;
};

// A text for stderr that may carry names from the examined tree or image: escaped as the text
// report escapes them, so that a crafted name cannot forge or hide a line on the terminal.
std::string Shown(std::string_view text) { return EscapeForDisplay(text, false); }

// The sweep's threads when -j is not given: one per processor core.
int DefaultThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(std::min(cores, 64U));
}

// -j's number: 1 to 64.
bool ParseThreads(std::string_view text, int& threads) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, threads);
  return ec == std::errc() && ptr == end && !text.empty() && threads >= 1 && threads <= 64;
}

// Fills options; false with a message in *error for arguments that do not fit the usage.
bool ParseArguments(const std::vector<std::string>& args, Options& options, std::string* error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    const auto takeValue = [&](std::optional<std::string>& target,
                               std::string_view what = t::kValueFolder) {
      if (target) {
        *error = Fill(t::kGivenTwice, {arg});
        return false;
      }
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        *error = Fill(t::kNeedsValue, {arg, what});
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
    } else if (arg == "--output") {
      if (!takeValue(options.output, t::kValueFile)) return false;
    } else if (arg == "--allow") {
      if (!takeValue(options.allow, t::kValueFile)) return false;
    } else if (arg == "--image") {
      if (!takeValue(options.image, t::kValueImage)) return false;
    } else if (arg == "--list") {
      options.list = true;
    } else if (arg == "--partition") {
      int number = -1;
      const char* text = i + 1 < args.size() ? args[i + 1].c_str() : "";
      const char* end = text + std::string_view(text).size();
      const auto [ptr, ec] = std::from_chars(text, end, number);
      if (options.partition || ec != std::errc() || ptr != end || *text == '\0' || number < 0 ||
          number > 4096) {
        *error =
            std::string(options.partition ? t::kPartitionGivenTwice : t::kPartitionNeedsNumber);
        return false;
      }
      ++i;
      options.partition = number;
    } else if (arg == "--eventlog") {
      options.eventlog = true;
    } else if (arg == "--register-eventlog") {
      options.registerEventlog = true;
    } else if (arg == "-j" || (arg.size() > 2 && arg.substr(0, 2) == "-j")) {
      const bool joined = arg.size() > 2;
      if (options.threads) {
        *error = Fill(t::kGivenTwice, {"-j"});
        return false;
      }
      int threads = 0;
      if ((!joined && i + 1 >= args.size()) ||
          !ParseThreads(joined ? arg.substr(2) : std::string_view(args[++i]), threads)) {
        *error = std::string(t::kThreadsNeedNumber);
        return false;
      }
      options.threads = threads;
    } else {
      *error = Fill(t::kUnknownArgument, {arg});
      return false;
    }
  }
  if ((options.help || options.version || options.registerEventlog) && args.size() != 1) {
    *error = Fill(t::kStandsAlone, {options.help      ? "--help"
                                    : options.version ? "--version"
                                                      : "--register-eventlog"});
    return false;
  }
  if (options.restore && options.allow) {
    *error = std::string(t::kAllowOnlyForScan);
    return false;
  }
  if (options.restore && (options.remove || options.quarantine || !options.sweep)) {
    *error = std::string(t::kRestoreExcludes);
    return false;
  }
  if (options.quarantine && !options.remove) {
    *error = std::string(t::kQuarantineOnlyWithRemove);
    return false;
  }
  if (options.partition && !options.image) {
    *error = std::string(t::kPartitionOnlyWithImage);
    return false;
  }
  if (options.image && options.root) {
    *error = std::string(t::kImageExcludesRoot);
    return false;
  }
  if (options.list && (options.root || options.remove || options.restore || options.output ||
                       options.allow || options.eventlog || options.threads || !options.sweep)) {
    *error = std::string(t::kListExcludes);
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
  Kept KeepControlSetServiceKey(std::string_view controlSet,
                                std::string_view serviceName) override {
    return inner_.KeepControlSetServiceKey(controlSet, serviceName);
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

// The list of --allow, read whole; nullopt with a message for a file that cannot be read or a
// line that is no SHA-256.
std::optional<AllowList> ReadAllowList(const std::string& path, std::string* error) {
  const std::u8string name(path.begin(), path.end());
  std::ifstream file(std::filesystem::path(name), std::ios::binary);
  if (!file) {
    *error = Fill(t::kAllowUnreadable, {path});
    return std::nullopt;
  }
  std::string text;
  text.resize(AllowList::kMaxBytes + 1);
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (file.bad()) {
    *error = Fill(t::kAllowUnreadable, {path});
    return std::nullopt;
  }
  text.resize(static_cast<std::size_t>(file.gcount()));
  if (text.size() > AllowList::kMaxBytes) {
    *error = Fill(t::kAllowTooLong, {path});
    return std::nullopt;
  }
  std::optional<AllowList> list = AllowList::Parse(text, error);
  if (!list) *error = Fill(t::kAllowBadLine, {path, *error});
  return list;
}

// The stream that a JsonLinesReport writes the --output file through; it keeps no buffer of
// its own, so a record reaches the file when the report flushes it.
class OutputFileBuffer final : public std::streambuf {
 public:
  explicit OutputFileBuffer(OutputFile& file) : file_(file) {}

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    return file_.Write(std::string_view(&byte, 1)) ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char* data, std::streamsize count) override {
    return file_.Write(std::string_view(data, static_cast<std::size_t>(count))) ? count : 0;
  }

 private:
  OutputFile& file_;
};

// Hands every record on and remembers what a summary must say, so that a run that fails after
// it has started still ends its JSON Lines with a summary record: a script reading them never
// sees a run end without its exit code. Text output gets no such line: a "clean" verdict for a
// run that failed would read as a result.
class SummaryGuard final : public ForwardingReport {
 public:
  SummaryGuard(ScanReport& inner, bool json, bool restore)
      : ForwardingReport(inner), json_(json), restore_(restore) {}

  void Finding(const ScanFinding& finding) override {
    (finding.check.rfind("sweep-", 0) == 0 ? suspicious_ : infected_) = true;
    ForwardingReport::Finding(finding);
  }
  void Skipped(const ScanSkipped& skipped) override {
    ++skipped_;
    ForwardingReport::Skipped(skipped);
  }
  void Summary(const ScanSummary& summary) override {
    summarized_ = true;
    ForwardingReport::Summary(summary);
  }

  // Reports why the run broke off and, with JSON, the summary it did not reach; returns code.
  int Fail(int code, std::string path, std::string reason) {
    if (!json_ || summarized_) return code;
    Skipped({std::move(path), std::move(reason)});
    return Close(code);
  }
  // The summary a run that reported why it broke off did not reach (JSON only); returns code.
  int Close(int code) {
    if (!json_ || summarized_) return code;
    ScanSummary summary;
    summary.restore = restore_;
    summary.verdict = infected_               ? ScanVerdict::Infected
                      : suspicious_           ? ScanVerdict::Suspicious
                      : restore_ || code == 0 ? ScanVerdict::Clean
                                              : ScanVerdict::Incomplete;
    summary.skipped = skipped_;
    summary.exitCode = code;
    Summary(summary);
    return code;
  }

 private:
  bool json_;
  bool restore_;
  bool infected_ = false;
  bool suspicious_ = false;
  bool summarized_ = false;
  std::int64_t skipped_ = 0;
};

int ExamineImage(const Options& options, const LkScanHost& host, ScanReport& report,
                 SummaryGuard& guard, const std::function<int(int)>& finish);

// "59.0 GiB" and the like, for the text of --list.
std::string HumanSize(std::int64_t bytes) {
  double value = static_cast<double>(bytes);
  std::size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < std::size(t::kSizeUnits)) {
    value /= 1024.0;
    ++unit;
  }
  char text[32] = {};
  std::snprintf(text, sizeof(text), unit == 0 ? "%.0f " : "%.1f ", value);
  std::string shown = text;
  // German writes a decimal comma.
  std::replace(shown.begin(), shown.end(), '.', ',');
  return shown + std::string(t::kSizeUnits[unit]);
}

// --list: the Windows installations (and unreadable volumes) on the disks, one per line or
// record; 2 when a disk or image could not be read completely.
int RunList(const Options& options, const LkScanHost& host) {
  const std::vector<ImageContents> contents = host.surveyImages(options.image, options.partition);
  std::int64_t installations = 0;
  std::int64_t errors = 0;
  for (const ImageContents& disk : contents) {
    for (const std::string& problem : disk.errors) {
      ++errors;
      if (options.json) {
        host.out << Json{{"type", "error"}, {"image", disk.image}, {"message", problem}}.dump(
                        -1, ' ', false, Json::error_handler_t::replace)
                 << '\n';
      } else {
        host.err << t::kMessagePrefix << Shown(problem) << '\n';
      }
    }
    for (const ImageVolume& volume : disk.volumes) {
      ++installations;
      const auto optional = [](const std::optional<std::string>& value) {
        return value ? Json(*value) : Json();
      };
      if (options.json) {
        host.out << Json{{"type", "installation"},
                         {"image", disk.image},
                         {"partition", volume.volume.partition},
                         {"device", optional(volume.device)},
                         {"offset", volume.volume.offset},
                         {"size", volume.volume.size},
                         {"filesystem", volume.volume.filesystem},
                         {"label", optional(volume.volume.label)},
                         {"serial", optional(volume.volume.serial)},
                         {"windows", optional(volume.windows)},
                         {"build", optional(volume.build)},
                         {"bitlocker", volume.bitlocker},
                         {"hibernated", volume.hibernated},
                         {"dirty", volume.dirty},
                         {"examinable", volume.examinable},
                         {"reason", optional(volume.reason)}}
                        .dump(-1, ' ', false, Json::error_handler_t::replace)
                 << '\n';
        continue;
      }
      std::string line = disk.image;
      if (volume.volume.partition != 0) {
        line += Fill(t::kListPartition, {std::to_string(volume.volume.partition)});
      }
      if (volume.device) line += " (" + *volume.device + ")";
      line += ": ";
      if (volume.examinable) {
        line += volume.windows.value_or(std::string(t::kListVersionUnknown));
        if (volume.build) line += Fill(t::kListBuild, {*volume.build});
      } else {
        line += t::kCannotBeExamined;
      }
      line += ", " + HumanSize(volume.volume.size);
      if (volume.volume.label && !volume.volume.label->empty()) {
        line += Fill(t::kListLabel, {*volume.volume.label});
      }
      line += volume.bitlocker ? t::kListBitLockerYes : t::kListBitLockerNo;
      if (volume.examinable)
        line += volume.hibernated ? t::kListHibernatedYes : t::kListHibernatedNo;
      if (volume.dirty) line += t::kListDirty;
      if (!volume.examinable && volume.reason) line += " (" + *volume.reason + ")";
      host.out << Shown(line) << '\n';
    }
  }
  if (options.json) {
    host.out << Json{{"type", "summary"},
                     {"installations", installations},
                     {"images", static_cast<std::int64_t>(contents.size())},
                     {"errors", errors}}
                    .dump()
             << '\n';
  } else if (installations == 0) {
    host.out << t::kListNone;
  }
  host.out.flush();
  return errors == 0 ? 0 : scan_exit::kIncomplete;
}

// The faces a run reports to: the console (text or JSON Lines), the output file and the event
// log, under the progress line, the summary guard and the allow-list. Made before anything is
// examined; it does not move, as each layer holds the one below.
class ReportFaces {
 public:
  ReportFaces(const Options& options, const LkScanHost& host, std::unique_ptr<OutputFile> file,
              std::unique_ptr<EventSink> sink, const std::optional<AllowList>& allowList)
      : options_(options),
        host_(host),
        outputFile_(std::move(file)),
        eventSink_(std::move(sink)),
        json_(host.out),
        text_(host.out),
        progress_(faces_, host.err),
        guard_(host.errIsTerminal ? static_cast<ScanReport&>(progress_) : faces_, options.json,
               options.restore.has_value()) {
    faces_.Add(options.json ? static_cast<ScanReport&>(json_) : text_);
    if (outputFile_) {
      outputBuffer_.emplace(*outputFile_);
      outputStream_.emplace(&*outputBuffer_);
      outputRecords_.emplace(*outputStream_);
      faces_.Add(*outputRecords_);
    }
    if (eventSink_) {
      events_.emplace(*eventSink_);
      faces_.Add(*events_);
    }
    // Below the allow-list, so that a summary made up after a failure counts only the findings
    // that were reported as findings.
    if (allowList) allowing_.emplace(*allowList, guard_);
  }
  ReportFaces(const ReportFaces&) = delete;
  ReportFaces& operator=(const ReportFaces&) = delete;

  [[nodiscard]] ScanReport& Report() {
    return allowing_ ? static_cast<ScanReport&>(*allowing_) : guard_;
  }
  [[nodiscard]] SummaryGuard& Guard() { return guard_; }

  // The run's exit code once the faces that write elsewhere are done: a file or an event that
  // could not be written turns "nothing found" into 2, never hides a finding's 1.
  int Finish(int code) {
    if (allowing_) code = allowing_->ExitCode(code);
    if (events_ && !events_->Complete()) {
      host_.err << t::kMessagePrefix << t::kEventsIncomplete;
      if (code == scan_exit::kClean) code = scan_exit::kIncomplete;
    }
    if (outputFile_) {
      std::string failure;
      if (!outputStream_->good() || !outputFile_->Commit(&failure)) {
        host_.err << t::kMessagePrefix
                  << Fill(t::kOutputNotWritten,
                          {Shown(failure.empty() ? *options_.output : failure)});
        if (code == scan_exit::kClean) code = scan_exit::kIncomplete;
      }
    }
    return code;
  }

 private:
  const Options& options_;
  const LkScanHost& host_;
  std::unique_ptr<OutputFile> outputFile_;
  std::unique_ptr<EventSink> eventSink_;
  JsonLinesReport json_;
  TextReport text_;
  ReportFanOut faces_;
  std::optional<OutputFileBuffer> outputBuffer_;
  std::optional<std::ostream> outputStream_;
  std::optional<JsonLinesReport> outputRecords_;
  std::optional<EventLogReport> events_;
  ProgressLine progress_;
  SummaryGuard guard_;
  std::optional<AllowingReport> allowing_;
};

// The usage errors that need no target: a face this build lacks, an unreadable allow-list, no
// SHA-256, and an image asked to be changed. The exit code when the run cannot go on.
std::optional<int> RefuseUnrunnable(const Options& options, const LkScanHost& host,
                                    std::optional<AllowList>& allowList) {
  std::string error;
  if ((options.output && !host.createOutput) ||
      ((options.eventlog || options.registerEventlog) && !host.openEventLog)) {
    host.err << t::kMessagePrefix
             << Fill(t::kFaceMissing,
                     {options.output && !host.createOutput ? "--output" : "--eventlog"});
    return scan_exit::kUsage;
  }
  if (options.allow) {
    allowList = ReadAllowList(*options.allow, &error);
    if (!allowList) {
      host.err << t::kMessagePrefix << Shown(error) << "\n\n" << t::kUsage;
      return scan_exit::kUsage;
    }
  }
  // Every finding carries a checksum: without the platform's SHA-256 there is no scan to make.
  try {
    const Sha256 available;
  } catch (const std::exception& failure) {
    host.err << t::kMessagePrefix << Shown(failure.what()) << '\n';
    return scan_exit::kUsage;
  }

  if ((options.image || options.list) && !host.surveyImages) {
    host.err << t::kMessagePrefix << Fill(t::kImagesMissing, {options.list ? "--list" : "--image"});
    return scan_exit::kUsage;
  }
  if (options.image && !options.list && (options.remove || options.restore)) {
    host.err << t::kMessagePrefix
             << Fill(t::kImageNeverChanged, {options.remove ? "--remove" : "--restore"});
    return scan_exit::kUsage;
  }
  return std::nullopt;
}

// --register-eventlog: registers the event source and examines nothing.
int RegisterEventSource(const Options& options, const LkScanHost& host) {
  std::string error;
  std::unique_ptr<ScanTarget> target = host.openTarget(options.root, &error);
  if (!target) {
    host.err << t::kMessagePrefix << Shown(error) << '\n';
    return scan_exit::kUsage;
  }
  // Registering writes below HKLM: only an administrator may, and only on request.
  if (!target->System().PlatformQueries().HasAdministratorRights()) {
    host.err << t::kMessagePrefix << t::kRegisterNeedsAdministrator;
    return scan_exit::kUsage;
  }
  if (!host.registerEventSource || !host.registerEventSource(&error)) {
    host.err << t::kMessagePrefix << Fill(t::kRegisterFailed, {Shown(error)});
    return scan_exit::kUsage;
  }
  host.out << t::kEventSourceRegistered;
  return 0;
}

// Restores from a quarantine folder.
int RestoreFromQuarantine(const Options& options, const LkScanHost& host, ScanTarget& target,
                          ReportFaces& faces) {
  target.BeforeChanges(nullptr);
  Restorer restorer(target.System(), target.Files(), target.Store(), faces.Report());
  try {
    return faces.Finish(restorer.Run(*options.restore));
  } catch (const std::exception& failure) {
    host.out.flush();
    const std::string why = Fill(t::kRestoreBrokeOff, {failure.what()});
    host.err << '\n' << t::kMessagePrefix << Shown(why) << '\n';
    return faces.Guard().Fail(Restorer::kIncomplete, *options.restore, why);
  }
}

// Scans the target and, with --remove, removes what it finds into the quarantine.
int ScanAndRemove(const Options& options, const LkScanHost& host, ScanTarget& target,
                  ReportFaces& faces) {
  std::string error;
  std::optional<Quarantine> quarantine;
  std::optional<ReportedBackups> backups;
  if (options.remove) {
    QuarantineSettings settings;
    settings.folder = options.quarantine.value_or("");
    settings.programVersion = LK_VERSION;
    quarantine.emplace(target.System(), target.Files(), target.Store(), std::move(settings));
    if (!quarantine->Open(&error)) {
      host.err << t::kMessagePrefix << Fill(t::kNothingExaminedOrChanged, {Shown(error)});
      return faces.Guard().Fail(
          scan_exit::kUsage, options.quarantine.value_or(std::string(t::kQuarantinePlace)), error);
    }
    for (const std::string& note : quarantine->Notes()) faces.Report().Note({"quarantine", note});
    backups.emplace(*quarantine, faces.Report());
    target.BeforeChanges(&*backups);
  }

  Scanner scanner(target.System(), target.Files(), faces.Report());
  ScanOptions scan;
  scan.sweep = options.sweep;
  scan.remove = options.remove;
  scan.journal = quarantine ? &*quarantine : nullptr;
  scan.threads = options.threads.value_or(DefaultThreads());
  scan.unexamined = target.Unexamined();
  scan.removalSafety = [&target] { return target.WhyRemovalIsUnsafe(); };
  try {
    return faces.Finish(scanner.Run(scan));
  } catch (const std::exception& failure) {
    host.out.flush();
    const std::string why = Fill(t::kScanBrokeOff, {failure.what()});
    host.err << '\n' << t::kMessagePrefix << Shown(why) << '\n';
    return faces.Guard().Fail(scan_exit::kIncomplete, std::string(t::kScanPlace), why);
  }
}

// Examines the installation the options name: the refusals that need the target, then the
// restore or the scan.
int ExamineTarget(Options& options, const LkScanHost& host, ReportFaces& faces) {
  std::string error;
  std::unique_ptr<ScanTarget> target = host.openTarget(options.root, &error);
  if (!target) {
    host.err << t::kMessagePrefix << Shown(error) << '\n';
    return faces.Guard().Fail(scan_exit::kUsage,
                              options.root.value_or(std::string(t::kSystemPlace)), error);
  }

  for (const ScanNote& note : target->Notes()) faces.Report().Note(note);
  if (options.remove || options.restore) {
    if (const std::string why = target->WhyChangesAreRefused(); !why.empty()) {
      host.err << t::kMessagePrefix
               << Fill(t::kChangesRefused, {options.remove ? "--remove" : "--restore", Shown(why)});
      return faces.Guard().Fail(scan_exit::kUsage,
                                options.root.value_or(std::string(t::kSystemPlace)), why);
    }
  }
  if (options.quarantine) options.quarantine = target->FolderPath(*options.quarantine);
  if (options.restore) options.restore = target->FolderPath(*options.restore);

  // Changing the system needs an administrator; asking never raises a prompt. Nothing has been
  // examined or changed yet.
  if ((options.remove || options.restore) &&
      !target->System().PlatformQueries().HasAdministratorRights()) {
    host.err << t::kMessagePrefix
             << Fill(t::kNeedsAdministrator, {options.remove ? "--remove" : "--restore"});
    return faces.Guard().Fail(scan_exit::kUsage,
                              options.root.value_or(std::string(t::kSystemPlace)),
                              std::string(t::kNoAdministratorRights));
  }

  if (options.restore) return RestoreFromQuarantine(options, host, *target, faces);
  return ScanAndRemove(options, host, *target, faces);
}

}  // namespace

int RunLkScan(const std::vector<std::string>& args, const LkScanHost& host) {
  Options options;
  std::string error;
  if (!ParseArguments(args, options, &error)) {
    host.err << t::kMessagePrefix << Shown(error) << "\n\n" << t::kUsage;
    return scan_exit::kUsage;
  }
  if (options.help) {
    host.out << t::kUsage;
    return 0;
  }
  if (options.version) {
    host.out << Fill(t::kVersion, {LK_VERSION});
    return 0;
  }
  std::optional<AllowList> allowList;
  if (const std::optional<int> refused = RefuseUnrunnable(options, host, allowList)) {
    return *refused;
  }
  if (options.list) return RunList(options, host);
  if (options.registerEventlog) return RegisterEventSource(options, host);

  // Every face is ready before anything is examined: one that cannot be opened is a usage
  // error, and a run with a face missing would tell less than was asked for.
  std::unique_ptr<OutputFile> outputFile;
  if (options.output) {
    outputFile = host.createOutput(*options.output, &error);
    if (!outputFile) {
      host.err << t::kMessagePrefix << Fill(t::kOutputFailed, {Shown(error)});
      return scan_exit::kUsage;
    }
  }
  std::unique_ptr<EventSink> eventSink;
  if (options.eventlog) {
    eventSink = host.openEventLog(&error);
    if (!eventSink) {
      host.err << t::kMessagePrefix << Fill(t::kEventlogFailed, {Shown(error)});
      return scan_exit::kUsage;
    }
  }

  ReportFaces faces(options, host, std::move(outputFile), std::move(eventSink), allowList);
  if (options.image) {
    return ExamineImage(options, host, faces.Report(), faces.Guard(),
                        [&faces](int code) { return faces.Finish(code); });
  }
  return ExamineTarget(options, host, faces);
}

namespace {

// The exit code of several scans: a finding anywhere wins, then anything not examined.
int CombineExitCodes(int a, int b) {
  if (a == scan_exit::kFound || b == scan_exit::kFound) return scan_exit::kFound;
  return std::max(a, b);
}

// The name of a volume in the records: "IMAGE, partition N" or the image itself.
std::string VolumeName(const std::string& image, const ScanVolume& volume) {
  return volume.partition == 0 ? image
                               : Fill(t::kVolumeOfImage, {image, std::to_string(volume.partition)});
}

// Hands every record of the volumes' scans on but their summaries, which it adds up: an image
// run ends with one summary for the whole image, whose verdict and exit code also count the
// volumes that could not be examined at all (a reader that takes the last summary must not read
// "clean" for a disk whose other volume was encrypted).
class VolumeTally final : public ForwardingReport {
 public:
  explicit VolumeTally(ScanReport& inner) : ForwardingReport(inner) {}

  void Skipped(const ScanSkipped& skipped) override {
    ++skipped_;
    ForwardingReport::Skipped(skipped);
  }
  void Summary(const ScanSummary& summary) override {
    ++volumes_;
    total_.filesExamined += summary.filesExamined;
    total_.bytesExamined += summary.bytesExamined;
    if (summary.verdict == ScanVerdict::Infected ||
        (summary.verdict == ScanVerdict::Suspicious && total_.verdict != ScanVerdict::Infected)) {
      total_.verdict = summary.verdict;
    }
  }

  // The one summary of the image, with the run's exit code; nothing when no volume was scanned
  // (the caller's guard then closes the records).
  void Close(int code) {
    if (volumes_ == 0) return;
    ScanSummary summary = total_;
    summary.skipped = skipped_;  // the volumes' own and those outside every volume
    summary.exitCode = code;
    if (summary.verdict == ScanVerdict::Clean && code != scan_exit::kClean) {
      summary.verdict = ScanVerdict::Incomplete;
    }
    Inner().Summary(summary);
  }

 private:
  ScanSummary total_;
  std::int64_t skipped_ = 0;
  int volumes_ = 0;
};

int ExamineImage(const Options& options, const LkScanHost& host, ScanReport& outer,
                 SummaryGuard& guard, const std::function<int(int)>& finish) {
  VolumeTally report(outer);
  std::vector<ImageContents> contents = host.surveyImages(options.image, options.partition);
  const std::string& image = *options.image;
  bool examined = false;
  bool incomplete = false;
  int code = scan_exit::kClean;
  // Why nothing was examined, for the closing line; empty when stderr has just told it.
  std::string lastReason(t::kNoInstallationFound);
  for (ImageContents& disk : contents) {
    for (const std::string& problem : disk.errors) {
      host.err << t::kMessagePrefix << Shown(problem) << '\n';
      const std::string prefix = disk.image + ": ";
      report.Skipped(
          {disk.image, problem.rfind(prefix, 0) == 0 ? problem.substr(prefix.size()) : problem});
      incomplete = true;
      lastReason.clear();
    }
    for (ImageVolume& volume : disk.volumes) {
      report.Volume(volume.volume);
      const std::string name = VolumeName(disk.image, volume.volume);
      if (!volume.target) {
        const std::string why = volume.reason.value_or(std::string(t::kCannotBeExamined));
        report.Skipped({name, why});
        incomplete = true;
        lastReason = name + ": " + why;
        continue;
      }
      ScanTarget& target = *volume.target;
      for (const ScanNote& note : target.Notes()) report.Note(note);
      Scanner scanner(target.System(), target.Files(), report);
      ScanOptions scan;
      scan.sweep = options.sweep;
      scan.threads = options.threads.value_or(DefaultThreads());
      scan.unexamined = target.Unexamined();
      try {
        code = CombineExitCodes(code, scanner.Run(scan));
        examined = true;
      } catch (const std::exception& failure) {
        host.out.flush();
        const std::string why = Fill(t::kScanBrokeOff, {failure.what()});
        host.err << '\n' << t::kMessagePrefix << Shown(why) << '\n';
        report.Skipped({name, why});
        incomplete = true;
      }
    }
  }
  if (!examined) {
    host.err << t::kMessagePrefix
             << (lastReason.empty()
                     ? Fill(t::kNothingExaminedOnImageSaid, {Shown(image)})
                     : Fill(t::kNothingExaminedOnImage, {Shown(image), Shown(lastReason)}));
    if (code == scan_exit::kClean) code = scan_exit::kIncomplete;
    return finish(guard.Close(code));
  }
  if (incomplete) code = CombineExitCodes(code, scan_exit::kIncomplete);
  report.Close(code);
  return finish(code);
}

}  // namespace

}  // namespace lk
