#pragma once
// What the branches of a run (known-version checks, removal, heuristic sweep) work with: the
// system and its desktop, the window's parts and the run state, all owned by the
// AnalysisController.

#include <exception>

#include "analysis/AnalysisRun.h"
#include "analysis/AnalysisView.h"
#include "analysis/MessageDialogs.h"
#include "analysis/ProgressBar.h"
#include "analysis/ReportList.h"
#include "search/SearchFileGrep.h"
#include "streamsearch/StreamSearch.h"
#include "system/Desktop.h"
#include "system/SystemAccess.h"

namespace lk {

struct RunContext {
  SystemAccess& system;
  Desktop& desktop;
  AnalysisView& view;
  ReportList& report;
  MessageDialogs& dialogs;
  ProgressBar& progress;
  StreamSearch& streamSearch;
  SearchFileGrep& fileAnalyzer;
  AnalysisRun& run;
};

// Runs body, then closing, on every way out of body: a normal return as well as a failure,
// which goes on to the caller once closing has run.
template <typename Body, typename Closing>
void RunWithClosingSteps(Body&& body, Closing&& closing) {
  try {
    body();
  } catch (...) {
    closing();
    throw;
  }
  closing();
}

}  // namespace lk
