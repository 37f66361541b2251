#include "scan/Scanner.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "base/TextCase.h"
#include "base/WindowsErrorTexts.h"
#include "base/WindowsPath.h"
#include "scan/RemovalJournal.h"
#include "scan/ScanRemoval.h"
#include "search/SearchFileGrep.h"
#include "streamsearch/StreamSearch.h"
#include "system/Sha256.h"
#include "trojan/ControlSets.h"
#include "trojan/KnownVersionProbe.h"
#include "trojan/Signatures.h"
#include "trojan/SweepExpressions.h"
#include "trojan/SystemFolders.h"
#include "trojan/TrojanNames.h"

namespace lk {

namespace {

constexpr std::string_view kMachineRoot = "HKLM\\";

std::string MachineKey(std::string_view keyPath) {
  return std::string(kMachineRoot) + std::string(keyPath);
}

// Why a file or folder could not be examined, in the scanner's language.
std::string FileErrorText(std::uint32_t error) { return DescribeFileErrorInGerman(error); }

std::string ErrorText(SystemAccess& system, std::uint32_t code) {
  std::string text = system.SystemErrorText(code);
  if (text.empty()) text = "Fehler " + std::to_string(code);
  return text;
}

// The values beside AppInit_DLLs that decide whether the libraries it names are loaded at all:
// worth knowing next to a finding, but no finding themselves. Only values that are there and
// hold a number are told.
std::vector<ScanNote> AppInitCompanionNotes(RegistryConnection& registry, std::string_view shownKey,
                                            const std::optional<std::string>& view) {
  struct Companion {
    std::string_view name;
    std::string_view whenZero;
    std::string_view otherwise;
  };
  static constexpr Companion kCompanions[] = {
      {"LoadAppInit_DLLs", "AppInit-Bibliotheken werden nicht geladen",
       "AppInit-Bibliotheken werden geladen"},
      {"RequireSignedAppInit_DLLs", "auch unsignierte AppInit-Bibliotheken sind zugelassen",
       "nur signierte AppInit-Bibliotheken sind zugelassen"},
  };
  std::vector<ScanNote> notes;
  if (!registry.OpenMachineKeyReadOnly(names::kWindowsKey)) return notes;
  for (const Companion& companion : kCompanions) {
    const std::optional<RegistryValue> value = registry.ReadValue(companion.name);
    if (!value || value->type != RegistryValueType::Dword || value->data.size() != 4) continue;
    std::uint32_t number = 0;
    for (std::size_t i = 4; i-- > 0;) {
      number = (number << 8U) | static_cast<unsigned char>(value->data[i]);
    }
    const bool zero = number == 0;
    std::string text = std::string(shownKey) + "\\" + std::string(companion.name) + " = " +
                       std::to_string(number) + (view ? " (" + *view + "-Bit-Ansicht)" : "") +
                       ": " + std::string(zero ? companion.whenZero : companion.otherwise);
    notes.push_back({"appinit", std::move(text)});
  }
  registry.CloseMachineKey();
  return notes;
}

// What all digests of one run together may hash: the known files come first, so a hostile disk
// that plants many sweep hits of a gibibyte each cannot make the run take hours, nor take the
// known files' digests away.
constexpr std::int64_t kDigestRunBudget = std::int64_t{16} << 30;

// Devices exist only while Windows runs; an installation examined from outside says so.
bool DeviceProbeNotApplicable(SystemAccess& system) {
  return system.LastSystemError() == win_error::kCallNotImplemented;
}

}  // namespace

struct Scanner::Impl {
  Impl(SystemAccess& systemAccess, FileSystem& fileSystem, ScanReport& scanReport)
      : system(systemAccess),
        files(fileSystem),
        report(scanReport),
        streamSearch(fileSystem),
        probe(systemAccess, streamSearch),
        searcher(fileSystem) {}

  void CheckKnownVersion();
  void CheckRegistry();
  void CheckControlSets(RegistryConnection& native);
  // Every entry of the folder named name in any case: each file is checked, each entry that is
  // there but cannot be examined (a link, a pipe, a folder) is skipped with the reason.
  void CheckKnownFile(const std::string& folder, std::string_view name, std::string_view check,
                      bool library);
  void CheckFile(const std::string& path, std::string_view check, bool library);
  void CheckServiceManager();
  void Sweep();
  void SweepFolder(const std::string& folder, std::string_view mask, const std::string& expression,
                   std::string_view check);
  void Remove(RemovalJournal& journal, const ScanOptions& options);
  void Skip(std::string path, std::string reason);
  // The file's digest, made once per run: the sweep meets the known files again. walked: the
  // entry is opened through its folder, as the sweep's walk opens it.
  const FileDigest& Digest(std::string_view folder, std::string_view name, bool walked);
  void Found(const ScanFinding& finding, bool knownVersion);
  [[nodiscard]] ScanSummary Summarize() const;

  SystemAccess& system;
  FileSystem& files;
  ScanReport& report;
  StreamSearch streamSearch;
  KnownVersionProbe probe;
  SearchFileGrep searcher;
  SystemFolders folders;
  bool is64Bit = false;
  bool knownVersionFound = false;
  bool sweepFound = false;
  KnownVersionPlaces places;
  bool restartRequired = false;
  bool removalRefused = false;
  std::optional<std::string> quarantine;
  std::int64_t filesExamined = 0;
  std::int64_t bytesExamined = 0;
  // The known files read before the sweep, by folded folder: the sweep reads them again and
  // must not count them twice.
  std::vector<std::pair<std::string, std::int64_t>> knownExamined;
  std::int64_t skipped = 0;
  std::set<std::pair<std::string, std::string>> skippedEntries;
  ScanProgress progress;
  // By folded folder and exact name (case twins are two files).
  std::map<std::string, FileDigest> digests;
  std::int64_t digestBudget = kDigestRunBudget;
};

const FileDigest& Scanner::Impl::Digest(std::string_view folder, std::string_view name,
                                        bool walked) {
  const std::string path = AppendBackslash(folder) + std::string(name);
  const std::string key = FoldedAscii(ParentPath(path)) + "\\" + std::string(name);
  if (const auto known = digests.find(key); known != digests.end()) return known->second;
  const std::int64_t limit = std::min(kDigestLimit, digestBudget);
  FileDigest digest =
      walked ? DigestEntry(files, folder, name, limit) : DigestFile(files, path, limit);
  if (digest.Ok()) digestBudget -= digest.size;
  if (digest.TooLarge()) {
    report.Note({"sha256",
                 path + ": keine SHA-256-Prüfsumme, " +
                     (digest.size > kDigestLimit
                          ? std::to_string(digest.size) +
                                " Bytes sind mehr als die 1 GiB, über die lkscan eine bildet"
                          : std::string("die Prüfsummen dieses Laufs haben schon 16 GiB gelesen")) +
                     "; der Befund gilt für die ganze Datei"});
  }
  return digests.emplace(key, std::move(digest)).first->second;
}

void Scanner::Impl::Skip(std::string path, std::string reason) {
  // The known-file check and the sweep can meet the same entry (a linked Drivers folder, say):
  // it is one entry not examined, told and counted once.
  if (!skippedEntries.emplace(FoldedAscii(path), reason).second) return;
  ++skipped;
  report.Skipped({std::move(path), std::move(reason)});
}

void Scanner::Impl::Found(const ScanFinding& finding, bool knownVersion) {
  (knownVersion ? knownVersionFound : sweepFound) = true;
  report.Finding(finding);
}

void Scanner::Impl::CheckKnownVersion() {
  CheckRegistry();
  CheckKnownFile(folders.SystemDirectory, names::kLibraryFile, "library-file", true);
  if (is64Bit) {
    // A 32-bit variant of the library would be loaded by 32-bit processes from here.
    const std::string wow64 = JoinPath(ParentFolder(folders.SystemDirectory), "SysWOW64\\");
    CheckKnownFile(wow64, names::kLibraryFile, "library-file", true);
  }
  CheckKnownFile(folders.DriversDirectory, names::kDriverFile, "driver-file", false);
  CheckServiceManager();
  if (probe.DeviceReachable()) {
    ScanFinding device;
    device.check = "device";
    device.path = signatures::DevicePath();
    Found(device, true);
    places.deviceReachable = true;
  } else if (DeviceProbeNotApplicable(system)) {
    report.Note({"device", "Gerät " + signatures::DevicePath() +
                               ": nicht prüfbar, die untersuchte Installation läuft nicht"});
  }
}

void Scanner::Impl::CheckRegistry() {
  // SYSTEM is one key in both views of 64-bit Windows.
  std::unique_ptr<RegistryConnection> native = system.ConnectRegistry(RegistryView::Native);
  try {
    if (std::optional<std::string> imagePath = probe.ServiceImagePath(*native)) {
      ScanFinding service;
      service.check = "service";
      service.name = std::string(names::kServiceName);
      service.key = MachineKey(names::kServiceKey);
      service.value = std::string(names::kImagePathValue);
      service.data = std::move(*imagePath);
      Found(service, true);
      places.serviceKey = true;
    }
  } catch (const SystemError& error) {
    Skip(MachineKey(names::kServiceKey) + "\\" + std::string(names::kImagePathValue),
         ErrorText(system, error.Code()));
  }
  CheckControlSets(*native);
  native.reset();

  // AppInit_DLLs exists once per view: 64-bit programs load what the native one names, 32-bit
  // programs what the 32-bit one (SOFTWARE\Wow6432Node) names.
  struct View {
    RegistryView view;
    std::optional<std::string> name;
    std::string key;
  };
  std::vector<View> views;
  if (is64Bit) {
    views.push_back({RegistryView::Native, "64", MachineKey(names::kWindowsKey)});
    std::string wow32Key(names::kWindowsKey);
    wow32Key.insert(std::string_view("SOFTWARE\\").size(), "Wow6432Node\\");
    views.push_back({RegistryView::Wow32, "32", MachineKey(wow32Key)});
  } else {
    views.push_back({RegistryView::Default, std::nullopt, MachineKey(names::kWindowsKey)});
  }
  for (const View& view : views) {
    std::unique_ptr<RegistryConnection> registry = system.ConnectRegistry(view.view);
    try {
      if (std::optional<std::string> libraries = probe.AppInitNamingLibrary(*registry)) {
        ScanFinding appInit;
        appInit.check = "appinit";
        appInit.key = view.key;
        appInit.view = view.name;
        appInit.value = std::string(names::kAppInitValue);
        appInit.data = std::move(*libraries);
        Found(appInit, true);
        places.appInit.push_back({view.view, view.key});
      }
    } catch (const SystemError& error) {
      Skip(view.key + "\\" + std::string(names::kAppInitValue), ErrorText(system, error.Code()));
    }
    for (const ScanNote& note : AppInitCompanionNotes(*registry, view.key, view.name)) {
      report.Note(note);
    }
  }
}

void Scanner::Impl::CheckControlSets(RegistryConnection& native) {
  const ControlSets controlSets = ControlSets::Read(system);
  if (controlSets.problem) Skip("HKLM\\SYSTEM\\Select\\Current", *controlSets.problem);
  // A set Windows boots only on request still loads the service it holds then: the boot menu's
  // "Last Known Good Configuration" would bring the trojan back.
  for (const std::string& set : controlSets.Others()) {
    const std::string key = "SYSTEM\\" + set + "\\Services\\" + std::string(names::kServiceName);
    if (!native.OpenMachineKeyReadOnly(key)) {
      const std::uint32_t error = system.LastSystemError();
      if (error != win_error::kFileNotFound && error != win_error::kPathNotFound) {
        Skip(MachineKey(key), ErrorText(system, error));
      }
      continue;
    }
    ScanFinding service;
    service.check = "service";
    service.name = std::string(names::kServiceName);
    service.key = MachineKey(key);
    if (native.ValuePresent(names::kImagePathValue)) {
      try {
        service.value = std::string(names::kImagePathValue);
        service.data = native.ReadStringValue(names::kImagePathValue);
      } catch (const SystemError&) {
        service.value.reset();
      }
    }
    native.CloseMachineKey();
    Found(service, true);
    places.otherControlSets.push_back(set);
  }
}

void Scanner::Impl::CheckKnownFile(const std::string& folder, std::string_view name,
                                   std::string_view check, bool library) {
  const std::string wanted = FoldedAscii(name);
  std::vector<std::string> candidates;
  bool listed = false;
  std::unique_ptr<DirectoryEnumeration> listing = files.EnumerateDirectory(folder, name);
  DirectoryEntry entry;
  while (listing->Next(entry)) {
    if (FoldedAscii(entry.name) != wanted) continue;
    listed = true;
    const std::string path = AppendBackslash(folder) + entry.name;
    if (entry.error != 0) {
      Skip(path, FileErrorText(entry.error));
    } else if ((entry.attributes & file_attribute::kReparsePoint) != 0) {
      Skip(path, FileErrorText(file_error::kLinkNotFollowed));
    } else if (entry.IsDirectory()) {
      Skip(path, "ein Ordner, wo die Datei stehen sollte");
    } else {
      candidates.push_back(entry.name);
    }
  }
  const std::uint32_t listError = listing->Error();
  if (listError != 0 && listError != file_error::kFileNotFound &&
      listError != file_error::kPathNotFound) {
    // The folder is there but cannot be read (a link in its place, no access): the file in it
    // is not known to be absent.
    Skip(folder, FileErrorText(listError));
  }
  // A layer that lists nothing of that name may still open it by its name.
  if (!listed) candidates.emplace_back(name);
  for (const std::string& candidate : candidates) {
    const std::string path = AppendBackslash(folder) + candidate;
    if (listed && system.SystemFiles().FindFile(path) != 0) {
      const FileDigest& digest = Digest(folder, candidate, false);
      Skip(path, FileErrorText(digest.Ok() ? file_error::kNotARegularFile : digest.error));
      continue;
    }
    CheckFile(path, check, library);
  }
}

void Scanner::Impl::CheckFile(const std::string& path, std::string_view check, bool library) {
  if (system.SystemFiles().FindFile(path) != 0) return;
  ScanFinding finding;
  finding.check = std::string(check);
  finding.path = path;
  const FileDigest& digest = Digest(ParentPath(path), FileNamePart(path), false);
  const KnownVersionProbe::Signature signature =
      library ? probe.ConfirmLibrary(path) : probe.ConfirmDriver(path);
  if (signature != KnownVersionProbe::Signature::NoAccess) {
    finding.identified = signature == KnownVersionProbe::Signature::Identified;
  }
  // A file too large for a digest is still examined whole by the probe, which reads it through
  // its data and skips its holes.
  const bool examined =
      digest.Ok() || (digest.TooLarge() && signature != KnownVersionProbe::Signature::NoAccess);
  if (examined) {
    finding.size = digest.size;
    if (digest.Ok()) finding.sha256 = digest.sha256;
    ++filesExamined;
    bytesExamined += digest.size;
    knownExamined.emplace_back(FoldedAscii(ParentPath(path)), digest.size);
  }
  // The file is there whether or not it can be read: that alone is a finding.
  Found(finding, true);
  if (library) {
    places.libraryFiles.push_back(path);
  } else {
    places.driverFiles.push_back(path);
  }
  if (!examined)
    Skip(path, FileErrorText(digest.TooLarge() ? file_error::kReadFault : digest.error));
}

void Scanner::Impl::CheckServiceManager() {
  switch (probe.QueryService(names::kServiceName)) {
    case KnownVersionProbe::Registration::Registered: {
      ScanFinding service;
      service.check = "service";
      service.name = std::string(names::kServiceName);
      Found(service, true);
      places.serviceRegistered = true;
      break;
    }
    case KnownVersionProbe::Registration::ManagerUnavailable:
      Skip("Dienststeuerung", ErrorText(system, system.LastSystemError()));
      break;
    case KnownVersionProbe::Registration::NotRegistered:
      break;
  }
}

void Scanner::Impl::Sweep() {
  searcher.AnySingleCharacter = '?';
  searcher.AnySequenceCharacter = '*';
  searcher.ThreadedSearch = false;
  searcher.RecurseSubDirs = false;
  searcher.ResultValues = {SPResult::srsDir, SPResult::srsFilename, SPResult::srsSize};
  struct Category {
    std::string folder;
    std::string_view mask;
    std::string expression;
    std::string_view check;
  };
  std::vector<Category> categories{
      {folders.SystemDirectory, "*.dll", LibrarySweepExpression(), "sweep-library"}};
  if (is64Bit) {
    categories.push_back({JoinPath(ParentFolder(folders.SystemDirectory), "SysWOW64\\"), "*.dll",
                          LibrarySweepExpression(), "sweep-library"});
  }
  categories.push_back(
      {folders.DriversDirectory, "*.sys", DriverSweepExpression(), "sweep-driver"});

  // A counting pass (names only, nothing opened) gives the progress its total; what it cannot
  // enumerate the content pass reports.
  searcher.OnFound = nullptr;
  searcher.OnSkipped = nullptr;
  searcher.OnFileChange = nullptr;
  searcher.InternalFoundList = true;
  searcher.SetSearchString("");
  for (const Category& category : categories) {
    searcher.FileMasks = std::string(category.mask);
    searcher.Dirs = category.folder;
    searcher.RunSearch();
    progress.filesTotal += searcher.FoundList().Count();
  }
  searcher.InternalFoundList = false;
  for (const Category& category : categories) {
    SweepFolder(category.folder, category.mask, category.expression, category.check);
  }
}

void Scanner::Impl::SweepFolder(const std::string& folder, std::string_view mask,
                                const std::string& expression, std::string_view check) {
  searcher.FileMasks = std::string(mask);
  searcher.Dirs = folder;
  searcher.SetSearchString(expression);
  searcher.OnFound = [&](SearchFileGrep&, const SPFileRecord& file) {
    ScanFinding finding;
    finding.check = std::string(check);
    const std::string path = AppendBackslash(file.Dir) + file.Filename;
    finding.path = path;
    finding.size = file.Size;
    // Through the directory the search walked: the name is never parsed as a path again.
    const FileDigest& digest = Digest(file.Dir, file.Filename, true);
    if (digest.Ok()) finding.sha256 = digest.sha256;
    Found(finding, false);
  };
  searcher.OnSkipped = [&](SearchFileGrep&, const SPSkippedEntry& entry) {
    Skip(entry.Dir + entry.Filename, FileErrorText(entry.Error));
  };
  searcher.OnFileChange = [&](SearchFileGrep& sender, const std::string& name) {
    progress.currentFile = AppendBackslash(folder) + name;
    progress.filesDone = filesExamined + sender.ExaminedFiles();
    progress.bytesDone = bytesExamined + sender.ExaminedBytes();
    report.Progress(progress);
  };
  searcher.RunSearch();
  // The known files in this folder were counted when they were checked.
  std::int64_t again = 0;
  std::int64_t againBytes = 0;
  const std::string folded = FoldedAscii(ParentPath(AppendBackslash(folder) + "x"));
  for (const auto& [known, size] : knownExamined) {
    if (known == folded) {
      ++again;
      againBytes += size;
    }
  }
  filesExamined += std::max<std::int64_t>(0, searcher.ExaminedFiles() - again);
  bytesExamined += std::max<std::int64_t>(0, searcher.ExaminedBytes() - againBytes);
}

void Scanner::Impl::Remove(RemovalJournal& journal, const ScanOptions& options) {
  if (!places.Any()) return;
  if (options.removalSafety) {
    if (std::string why = options.removalSafety(); !why.empty()) {
      Skip("Entfernung", "nichts wurde entfernt: " + why);
      removalRefused = true;
      return;
    }
  }
  // A file too large for a digest could not be checked in the quarantine, neither when it is
  // kept nor when it is put back: the removal refuses it before it changes anything.
  for (const std::vector<std::string>* found : {&places.libraryFiles, &places.driverFiles}) {
    for (const std::string& path : *found) {
      const FileDigest& digest = Digest(ParentPath(path), FileNamePart(path), false);
      if (digest.TooLarge() && digest.size > kDigestLimit) {
        Skip("Entfernung", "nichts wurde entfernt: " + path + " ist " +
                               std::to_string(digest.size) +
                               " Bytes groß, mehr als 1 GiB; ihre Kopie in der Quarantäne ließe "
                               "sich nicht prüfen. Entfernen Sie die Datei von Hand, nachdem Sie "
                               "sie gesichert haben");
        removalRefused = true;
        return;
      }
    }
  }
  SleepingPacing sleeping;
  ScanRemoval removal(system, options.pacing != nullptr ? *options.pacing : sleeping, report,
                      journal);
  restartRequired = removal.Run(places);
  if (std::string location = journal.Location(); !location.empty()) {
    quarantine = std::move(location);
  }
}

ScanSummary Scanner::Impl::Summarize() const {
  ScanSummary summary;
  summary.verdict = knownVersionFound               ? ScanVerdict::Infected
                    : sweepFound                    ? ScanVerdict::Suspicious
                    : skipped > 0 || removalRefused ? ScanVerdict::Incomplete
                                                    : ScanVerdict::Clean;
  summary.filesExamined = filesExamined;
  summary.bytesExamined = bytesExamined;
  summary.skipped = skipped;
  summary.restartRequired = restartRequired;
  summary.quarantine = quarantine;
  // A removal that failed leaves the exit code at 1 as well: the action records tell.
  summary.exitCode = removalRefused                      ? scan_exit::kIncomplete
                     : (knownVersionFound || sweepFound) ? scan_exit::kFound
                     : skipped > 0                       ? scan_exit::kIncomplete
                                                         : scan_exit::kClean;
  return summary;
}

Scanner::Scanner(SystemAccess& system, FileSystem& files, ScanReport& report)
    : impl_(std::make_unique<Impl>(system, files, report)) {}

Scanner::~Scanner() = default;

int Scanner::Run(const ScanOptions& options) {
  if (options.remove && options.journal == nullptr) {
    throw std::invalid_argument("Entfernen ohne Quarantäne ist nicht vorgesehen");
  }
  Impl& s = *impl_;
  for (const ScanSkipped& skipped : options.unexamined) s.Skip(skipped.path, skipped.reason);
  Platform& platform = s.system.PlatformQueries();
  s.is64Bit = platform.Is64BitWindows();
  // Off for the scan and back on when it ends, on every way out.
  const std::unique_ptr<FsRedirectionScope> redirection =
      platform.RunningUnderWow64() ? platform.DisableFsRedirection() : nullptr;
  s.folders = SystemFolders::Determine(s.system);
  if (s.folders.SystemDirectory.empty()) {
    // Without it every file path would be relative to wherever lkscan was started: the
    // registry and the service manager can still be asked, the files cannot.
    s.CheckRegistry();
    s.CheckServiceManager();
    s.Skip("Systemordner", "Windows nennt keinen Systemordner; keine Datei wurde untersucht");
    if (options.remove) s.Remove(*options.journal, options);
  } else {
    s.CheckKnownVersion();
    // Removed before the sweep, not after it: the removal acts on what the checks saw moments
    // ago rather than minutes later, the trojan's driver is stopped before the sweep reads every
    // driver, and a sweep that is broken off does not leave the known version in place.
    if (options.remove) s.Remove(*options.journal, options);
    s.searcher.Workers = options.threads;
    if (options.sweep) s.Sweep();
  }
  const ScanSummary summary = s.Summarize();
  s.report.Summary(summary);
  return summary.exitCode;
}

}  // namespace lk
