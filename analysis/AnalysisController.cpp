#include "analysis/AnalysisController.h"

#include <exception>
#include <string>

#include "analysis/AnalysisTexts.h"
#include "analysis/HeuristicSweep.h"
#include "analysis/KnownVersionCheck.h"
#include "analysis/MessageDialogs.h"
#include "analysis/ProgressBar.h"
#include "analysis/Removal.h"
#include "analysis/ReportList.h"
#include "analysis/RunContext.h"
#include "analysis/StartButtonAnimation.h"
#include "search/SearchFileGrep.h"
#include "streamsearch/StreamSearch.h"

namespace lk {

struct AnalysisController::Impl {
  Impl(SystemAccess& systemAccess, Desktop& theDesktop, FileSystem& files,
       AnalysisView& analysisView)
      : system(systemAccess),
        desktop(theDesktop),
        view(analysisView),
        report(analysisView, theDesktop),
        dialogs(analysisView),
        progress(analysisView),
        streamSearch(files),
        fileAnalyzer(files),
        context{system, desktop, view, report, dialogs, progress, streamSearch, fileAnalyzer, run},
        knownVersion(context),
        removal(context),
        sweep(context) {
    ConfigureFileAnalyzer();
  }

  void ConfigureFileAnalyzer();
  void RunAnalysis();
  void CloseRun();
  [[nodiscard]] bool ChooseSweep();

  SystemAccess& system;
  Desktop& desktop;
  AnalysisView& view;
  AnalysisRun run;
  ReportList report;
  MessageDialogs dialogs;
  ProgressBar progress;
  StreamSearch streamSearch;
  SearchFileGrep fileAnalyzer;
  RunContext context;
  KnownVersionCheck knownVersion;
  Removal removal;
  HeuristicSweep sweep;
  bool running = false;
  bool closeRequested = false;
};

void AnalysisController::Impl::ConfigureFileAnalyzer() {
  SearchFileGrep& searcher = fileAnalyzer;
  searcher.AnySingleCharacter = '?';
  searcher.AnySequenceCharacter = '*';
  searcher.InternalFoundList = false;
  searcher.ResultValues = {SPResult::srsDir,
                           SPResult::srsFilename,
                           SPResult::srsAttr,
                           SPResult::srsSize,
                           SPResult::srsCreateDate,
                           SPResult::srsLastAccessDate,
                           SPResult::srsLastModifiedDate};
  searcher.FileMasks = "*.*";
  // Everything runs on the window's thread; the searcher pumps messages once per directory.
  searcher.ThreadedSearch = false;
  searcher.PumpMessages = [this] { desktop.PumpWindowMessages(); };
  searcher.OnFinished = [this](SearchFileGrep&) { sweep.FileAnalyzerFinished(); };
  searcher.OnCancel = [this](SearchFileGrep&) { sweep.FileAnalyzerCancel(); };
  searcher.OnFound = [this](SearchFileGrep&, const SPFileRecord& file) {
    sweep.FileAnalyzerFound(file);
  };
  searcher.OnFileChange = [this](SearchFileGrep&, const std::string& name) {
    sweep.FileAnalyzerFileChange(name);
  };
  searcher.ShowMessageBox = [this](const std::string& caption, const std::string& text) {
    static_cast<void>(dialogs.ShowErrorTitled(caption, text));
  };
}

bool AnalysisController::Impl::ChooseSweep() {
  // On 64-bit systems the sweep is the only analysis offered.
  if (run.Is64BitSystem) return true;
  return dialogs.AskQuestion(texts::kSweepQuestion) == DialogResult::Yes;
}

void AnalysisController::Impl::RunAnalysis() {
  AnimateStartButtonWidth(view, desktop, kStartButtonRunWidth);
  report.Clear();
  view.SetBusy(true);
  view.SetCancelButtonVisible(true);
  RunWithClosingSteps(
      [&] {
        if (ChooseSweep()) {
          sweep.RunHeuristicSweep();
          return;
        }
        const KnownVersionOutcome outcome = knownVersion.CheckKnownVersion();
        if (outcome.removalAgreed) removal.RunRemoval(outcome.findings);
      },
      [&] { CloseRun(); });
}

void AnalysisController::Impl::CloseRun() {
  if (run.CancelRequested) {
    report.AddReportEntry(texts::kCancelledByUser, ReportKind::Concerning);
  } else {
    report.AddReportEntry(texts::kAnalysisFinished, ReportKind::Plain);
  }
  view.SetCancelButtonVisible(false);
  view.SetBusy(false);
  AnimateStartButtonWidth(view, desktop, kStartButtonIdleWidth);
}

AnalysisController::AnalysisController(SystemAccess& system, Desktop& desktop, FileSystem& files,
                                       AnalysisView& view)
    : impl_(std::make_unique<Impl>(system, desktop, files, view)) {}

AnalysisController::~AnalysisController() = default;

void AnalysisController::FormCreate() {
  Impl& s = *impl_;
  s.run.Is64BitSystem = s.system.PlatformQueries().RunningUnderWow64();
  s.run.DetermineDirectories(s.system);
  s.run.SuspiciousLibraries.clear();
  s.run.SuspiciousDrivers.clear();
  if (s.run.Is64BitSystem) {
    std::string notice(texts::kNotice64BitBegin);
    notice += "<a href=\"";
    notice += texts::kProductPageUrl;
    notice += "\">";
    notice += texts::kPublisherLinkText;
    notice += "</a>";
    notice += texts::kNotice64BitEnd;
    static_cast<void>(s.dialogs.ShowInformation(notice));
    s.report.AddReportEntry(texts::kNote64Bit, ReportKind::Note);
  }
}

void AnalysisController::btnStartAnalyzeClick() {
  Impl& s = *impl_;
  // The start button stays usable during a run; a press that reaches us through the run's own
  // message pumping must not start a second run inside the first.
  if (s.running) return;
  s.running = true;
  std::exception_ptr failure;
  try {
    s.RunAnalysis();
  } catch (...) {
    // The run's closing steps have run by now; the failure still has to be shown.
    failure = std::current_exception();
  }
  s.running = false;
  if (s.closeRequested) {
    // The user asked to close during the run: close as the very last step (the window may
    // destroy this controller in CloseWindow). A failure of that run has nobody left to read it.
    s.closeRequested = false;
    s.dialogs.SetClosing(false);
    s.view.CloseWindow();
    return;
  }
  if (failure) std::rethrow_exception(failure);
}

void AnalysisController::btnAbbruchClick() {
  impl_->fileAnalyzer.StopSearch();
  impl_->run.CancelRequested = true;
}

bool AnalysisController::RequestClose() {
  if (!impl_->running) return true;
  impl_->closeRequested = true;
  impl_->dialogs.SetClosing(true);
  btnAbbruchClick();
  return false;
}

bool AnalysisController::IsClosing() const { return impl_->closeRequested; }

bool AnalysisController::IsRunning() const { return impl_->running; }

bool AnalysisController::Is64BitSystem() const { return impl_->run.Is64BitSystem; }

const AnalysisRun& AnalysisController::Run() const { return impl_->run; }

}  // namespace lk
