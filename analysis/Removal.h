#pragma once
// Undoes what the known-version checks found, after the user agreed: the library's registration
// in AppInit_DLLs, the library file, the driver service, the service key and the driver file, in
// this order (the service is stopped and deleted before its key and its file). Each step runs
// only for its finding and is guarded on its own: a failing step is dropped silently and the
// next one runs. Files in use are registered for deletion at the next restart, so the removal
// ends by recommending a restart.
//
// Has no test points: once begun it runs all its steps; a cancel press changes only the run's
// final entry. Does not check its work afterwards.

#include <string_view>

#include "analysis/KnownVersionCheck.h"
#include "analysis/RunContext.h"
#include "trojan/RemovalSteps.h"

namespace lk {

class Removal {
 public:
  explicit Removal(RunContext& context) : ctx_(context), steps_(context.system, context.desktop) {}

  void RunRemoval(const KnownVersionFindings& findings);

  // Stops the service (when it is not stopped) and deletes it; true when it is gone or marked
  // for deletion. Shows the error dialog when it fails for another reason.
  [[nodiscard]] bool StopAndDeleteService(std::string_view serviceName);

 private:
  void RunSteps(const KnownVersionFindings& findings);
  void UnregisterLibrary();
  void DeleteFileOrAtRestart(std::string_view path, std::string_view atRestartEntry);
  void DeleteServiceKey();
  void Report(std::string_view text) { ctx_.report.AddReportEntry(text, ReportKind::Plain); }

  RunContext& ctx_;
  RemovalSteps steps_;
};

}  // namespace lk
