#include "analysis/Removal.h"

#include <exception>
#include <memory>
#include <string>

#include "analysis/AnalysisTexts.h"
#include "trojan/TrojanNames.h"

namespace lk {

namespace {

// A removal step that must never stop the next one: every failure inside it is dropped.
template <typename Step>
void Guarded(Step&& step) {
  try {
    step();
  } catch (const std::exception&) {
    // Deliberately silent: the user sees the step's entry and the removal goes on.
  }
}

}  // namespace

void Removal::RunRemoval(const KnownVersionFindings& findings) {
  ctx_.progress.SetPosition(0);
  ctx_.progress.Show();
  RunWithClosingSteps([&] { RunSteps(findings); },
                      [&] {
                        Report(texts::kRemovalFinished);
                        ctx_.progress.Hide();
                        ctx_.progress.SetPosition(0);
                      });
}

void Removal::RunSteps(const KnownVersionFindings& findings) {
  Desktop& desktop = ctx_.desktop;
  if (findings.AppInitEntryFound) {
    Guarded([&] {
      Report(texts::kRemovingLibraryRegistration);
      desktop.PauseSeconds(1);
      UnregisterLibrary();
    });
  }
  ctx_.progress.SetPosition(10);
  desktop.PauseSeconds(1);

  if (findings.LibraryFileFound) {
    Guarded([&] {
      Report(texts::kRemovingLibraryFile);
      desktop.PauseSeconds(1);
      DeleteFileOrAtRestart(ctx_.run.SystemDirectory + std::string(names::kLibraryFile),
                            texts::kLibraryDeleteAtRestart);
    });
  }
  ctx_.progress.SetPosition(30);

  if (findings.DeviceReachable || findings.ServiceEntryFound) {
    Guarded([&] {
      Report(texts::kDeactivatingDriver);
      static_cast<void>(StopAndDeleteService(names::kServiceName));
      desktop.PauseSeconds(2);
    });
  }
  ctx_.progress.SetPosition(50);

  if (findings.ServiceKeyFound) {
    Report(texts::kRemovingDriverRegistration);
    desktop.PauseSeconds(1);
    Guarded([&] { DeleteServiceKey(); });
  }
  ctx_.progress.SetPosition(70);

  if (findings.DriverFileFound) {
    Guarded([&] {
      Report(texts::kRemovingDriverFile);
      desktop.PauseSeconds(2);
      DeleteFileOrAtRestart(ctx_.run.DriversDirectory + std::string(names::kDriverFile),
                            texts::kDriverDeleteAtRestart);
    });
  }
  ctx_.progress.SetPosition(100);

  if (ctx_.dialogs.AskWarning(texts::kRestartRecommended) == DialogResult::Yes) {
    // Returns at once; the closing entries are still written.
    desktop.ShutdownWindows(ShutdownMode::Restart, true);
  }
}

void Removal::UnregisterLibrary() {
  std::unique_ptr<RegistryConnection> registry = ctx_.system.ConnectRegistry(RegistryView::Default);
  static_cast<void>(steps_.UnregisterLibrary(*registry));
}

void Removal::DeleteFileOrAtRestart(std::string_view path, std::string_view atRestartEntry) {
  // The entry comes first and does not depend on whether the system takes the request.
  static_cast<void>(steps_.DeleteFileOrAtRestart(path, [&] { Report(atRestartEntry); }));
}

void Removal::DeleteServiceKey() {
  std::unique_ptr<RegistryConnection> registry = ctx_.system.ConnectRegistry(RegistryView::Default);
  static_cast<void>(steps_.DeleteServiceKey(*registry));
}

bool Removal::StopAndDeleteService(std::string_view serviceName) {
  const RemovalSteps::ServiceRemoval removal =
      steps_.StopAndDeleteService(serviceName, [&](RemovalSteps::ServiceStage stage) {
        Report(texts::FormatText(stage == RemovalSteps::ServiceStage::Stopping
                                     ? texts::kStoppingService
                                     : texts::kDeletingService,
                                 serviceName));
      });
  if (removal.gone) return true;
  std::string text(texts::kUninstallFailed);
  text += ctx_.system.SystemErrorText(removal.error);
  static_cast<void>(ctx_.dialogs.ShowError(text));
  return false;
}

}  // namespace lk
