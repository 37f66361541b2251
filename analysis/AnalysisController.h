#pragma once
// The non-visual half of the main window: owns the run state (AnalysisRun), the stream search,
// the file searcher and the report list model, and carries out an analysis run from a press of
// the start button to its end.
//
// Everything runs on the window's thread. A run is one synchronous call of btnStartAnalyzeClick;
// the window stays responsive because the run pumps window messages through SystemAccess, and
// through that pumping btnAbbruchClick (and a close request) can run in the middle of a run.

#include <memory>

#include "analysis/AnalysisRun.h"
#include "analysis/AnalysisView.h"
#include "system/Desktop.h"
#include "system/FileSystem.h"
#include "system/SystemAccess.h"

namespace lk {

class AnalysisController {
 public:
  AnalysisController(SystemAccess& system, Desktop& desktop, FileSystem& files, AnalysisView& view);
  ~AnalysisController();
  AnalysisController(const AnalysisController&) = delete;
  AnalysisController& operator=(const AnalysisController&) = delete;

  // The window's creation steps that belong to the analysis: the 64-bit query, the system and
  // drivers directories, the result lists and, on 64-bit systems, the notice dialog and the note
  // entry. The window calls it once, before it is shown.
  void FormCreate();

  // The start button: one whole analysis run. A press while a run is in progress is ignored.
  // A failure that no step catches leaves through the run's closing steps and is then thrown on
  // to the caller, whose general error display shows it; when the window was asked to close
  // during the run, the window is closed instead.
  void btnStartAnalyzeClick();
  // The cancel button: stops a running search and sets the cancel flag.
  void btnAbbruchClick();

  [[nodiscard]] bool IsRunning() const;
  [[nodiscard]] bool Is64BitSystem() const;

  // The window is asked to close. Without a run it may close at once: true. During a run the
  // run is cancelled as by the cancel button, every dialog the rest of the run would show
  // answers Cancel unseen, and false is returned; the window is then closed through
  // AnalysisView::CloseWindow once the run has unwound (after a removal's last step, since a
  // removal is never cut short), also when the run fails.
  [[nodiscard]] bool RequestClose();
  // A close was requested and the run has not unwound yet.
  [[nodiscard]] bool IsClosing() const;

  // The run state, for the tests and tools that watch a run.
  [[nodiscard]] const AnalysisRun& Run() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lk
