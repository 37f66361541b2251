#include "analysis/HeuristicSweep.h"

#include "analysis/AnalysisTexts.h"
#include "base/WindowsPath.h"
#include "trojan/Signatures.h"
#include "trojan/SweepExpressions.h"
#include "trojan/TrojanNames.h"

namespace lk {

namespace {

// Every path followed by CR LF, the last one too: the dialog shows one path per line and a
// pasted list ends with a line break.
std::string JoinLines(const std::vector<std::string>& paths) {
  std::string text;
  for (const std::string& path : paths) {
    text += path;
    text += "\r\n";
  }
  return text;
}

}  // namespace

void HeuristicSweep::RunHeuristicSweep() {
  // Switched off on 64-bit systems only: elsewhere there is no redirection to switch.
  std::unique_ptr<FsRedirectionScope> redirection;
  if (ctx_.run.Is64BitSystem) redirection = ctx_.system.PlatformQueries().DisableFsRedirection();
  RunWithClosingSteps([&] { RunCategories(); }, [&] { CloseSweep(redirection); });
}

void HeuristicSweep::CloseSweep(std::unique_ptr<FsRedirectionScope>& redirection) {
  // Back on before the bar goes, while the sweep still owns the thread; only what was switched
  // off is switched back.
  redirection.reset();
  ctx_.progress.Hide();
  ctx_.progress.SetPosition(0);
  // A cancelled content pass leaves its file count as the range; the next run expects 100.
  ctx_.progress.SetMaximum(ProgressBar::kDefaultMaximum);
  HideStatus();
}

void HeuristicSweep::RunCategories() {
  AnalysisRun& run = ctx_.run;
  run.CancelRequested = false;
  // A cancel press made while no search ran must not end this sweep's first search.
  ctx_.fileAnalyzer.ClearStopRequest();
  run.SuspiciousDrivers.clear();
  run.SuspiciousLibraries.clear();

  const Category libraries{texts::kCountingLibraries,
                           true,
                           "*.dll",
                           run.SystemDirectory,
                           texts::kAnalysingLibraries,
                           LibrarySweepExpression(),
                           &run.SuspiciousLibraries};
  if (!RunCategory(libraries)) return;

  ctx_.progress.SetPosition(30);
  ctx_.progress.SetMaximum(100);

  // The drivers' content pass counts on from the libraries' position; the bar is not reset.
  const Category drivers{texts::kCountingDrivers,
                         false,
                         "*.sys",
                         run.SystemDirectory + std::string(names::kDriversSubdirectory),
                         texts::kAnalysingDrivers,
                         DriverSweepExpression(),
                         &run.SuspiciousDrivers};
  if (!RunCategory(drivers)) return;

  Evaluate();
}

bool HeuristicSweep::RunCategory(const Category& category) {
  AnalysisRun& run = ctx_.run;
  SearchFileGrep& searcher = ctx_.fileAnalyzer;

  ctx_.report.AddReportEntry(category.announcement, ReportKind::Plain);
  if (category.showsProgressBar) {
    ctx_.progress.SetPosition(0);
    ctx_.progress.Show();
  }

  // Counting pass: OnFound stays assigned so the found list fills, but nothing is reported.
  searcher.FileMasks = std::string(category.mask);
  searcher.SetSearchString("");
  searcher.OnFileChange = nullptr;
  searcher.Dirs = category.directory;
  searcher.RecurseSubDirs = false;
  searcher.InternalFoundList = true;
  run.ReportFoundFiles = false;
  searcher.RunSearch();
  if (run.CancelRequested) return false;

  const int count = searcher.FoundList().Count();
  if (count > 0) {
    ctx_.report.AddReportEntry(texts::FormatText(category.countEntry, std::to_string(count)),
                               ReportKind::Plain);
    ctx_.progress.SetMaximum(count);
    searcher.OnFound = [this](SearchFileGrep&, const SPFileRecord& file) {
      FileAnalyzerFound(file);
    };
    searcher.OnFileChange = [this](SearchFileGrep&, const std::string& name) {
      FileAnalyzerFileChange(name);
    };
    searcher.SetSearchString(category.expression);
    run.ReportFoundFiles = true;
    ctx_.view.SetStatusVisible(true);
    searcher.RunSearch();
    *category.results = searcher.FoundList().Items();
  }
  return !run.CancelRequested;
}

void HeuristicSweep::Evaluate() {
  const AnalysisRun& run = ctx_.run;
  const bool hasDrivers = !run.SuspiciousDrivers.empty();
  const bool hasLibraries = !run.SuspiciousLibraries.empty();
  bool deviceReachable = false;
  if (ctx_.system.PlatformQueries().DeviceCanBeOpened(signatures::DevicePath())) {
    deviceReachable = true;
    ctx_.report.AddReportEntry(texts::kDeviceReachable, ReportKind::Critical);
  }
  ctx_.progress.SetMaximum(100);
  ctx_.progress.SetPosition(100);

  const std::string driverText = JoinLines(run.SuspiciousDrivers);
  const std::string libraryText = JoinLines(run.SuspiciousLibraries);
  MessageDialogs& dialogs = ctx_.dialogs;
  if (!hasDrivers && !hasLibraries && !deviceReachable) {
    static_cast<void>(dialogs.ShowInformation(texts::kSweepNothingFound));
    return;
  }
  if (hasDrivers) {
    static_cast<void>(dialogs.ShowErrorTitled(texts::kDriverFoundTitle,
                                              std::string(texts::kSuspiciousContent) + driverText));
  } else if (deviceReachable) {
    static_cast<void>(
        dialogs.ShowErrorTitled(texts::kDriverFoundTitle, texts::kDeviceWithoutDriver));
  }
  if (hasLibraries) {
    static_cast<void>(dialogs.ShowErrorTitled(
        texts::kLibraryFoundTitle, std::string(texts::kSuspiciousContent) + libraryText));
  }
  if (hasDrivers || hasLibraries) {
    ctx_.desktop.SetClipboardText(driverText + libraryText);
    static_cast<void>(dialogs.ShowInformation(texts::kClipboardNotice));
  }
}

void HeuristicSweep::FileAnalyzerFound(const SPFileRecord& file) {
  if (!ctx_.run.ReportFoundFiles) return;
  ctx_.report.AddReportEntry(
      texts::FormatText(texts::kSuspiciousFileFound, AppendBackslash(file.Dir) + file.Filename),
      ReportKind::Critical);
}

void HeuristicSweep::FileAnalyzerFileChange(const std::string& name) {
  ctx_.view.SetStatusText(std::string(texts::kStatusAnalysing) + name);
  ctx_.progress.StepBy(1);
  ctx_.desktop.PumpWindowMessages();
}

void HeuristicSweep::FileAnalyzerFinished() { HideStatus(); }

void HeuristicSweep::FileAnalyzerCancel() {
  ctx_.run.CancelRequested = true;
  HideStatus();
}

void HeuristicSweep::HideStatus() {
  ctx_.view.SetStatusText("");
  ctx_.view.SetStatusVisible(false);
}

}  // namespace lk
