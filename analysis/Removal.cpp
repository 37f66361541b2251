#include "analysis/Removal.h"

#include <exception>
#include <memory>
#include <string>

#include "analysis/AnalysisTexts.h"
#include "analysis/AppInitDlls.h"

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

bool IsBetweenStates(ServiceState state) {
  return state == ServiceState::StartPending || state == ServiceState::StopPending ||
         state == ServiceState::ContinuePending;
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
  SystemAccess& system = ctx_.system;
  if (findings.AppInitEntryFound) {
    Guarded([&] {
      Report(texts::kRemovingLibraryRegistration);
      system.PauseSeconds(1);
      UnregisterLibrary();
    });
  }
  ctx_.progress.SetPosition(10);
  system.PauseSeconds(1);

  if (findings.LibraryFileFound) {
    Guarded([&] {
      Report(texts::kRemovingLibraryFile);
      system.PauseSeconds(1);
      DeleteFileOrAtRestart(ctx_.run.SystemDirectory + std::string(names::kLibraryFile),
                            texts::kLibraryDeleteAtRestart);
    });
  }
  ctx_.progress.SetPosition(30);

  if (findings.DeviceReachable || findings.ServiceEntryFound) {
    Guarded([&] {
      Report(texts::kDeactivatingDriver);
      static_cast<void>(StopAndDeleteService(names::kServiceName));
      system.PauseSeconds(2);
    });
  }
  ctx_.progress.SetPosition(50);

  if (findings.ServiceKeyFound) {
    Report(texts::kRemovingDriverRegistration);
    system.PauseSeconds(1);
    Guarded([&] { DeleteServiceKey(); });
  }
  ctx_.progress.SetPosition(70);

  if (findings.DriverFileFound) {
    Guarded([&] {
      Report(texts::kRemovingDriverFile);
      system.PauseSeconds(2);
      DeleteFileOrAtRestart(ctx_.run.DriversDirectory + std::string(names::kDriverFile),
                            texts::kDriverDeleteAtRestart);
    });
  }
  ctx_.progress.SetPosition(100);

  if (ctx_.dialogs.AskWarning(texts::kRestartRecommended) == DialogResult::Yes) {
    // Returns at once; the closing entries are still written.
    system.ShutdownWindows("2", true);
  }
}

void Removal::UnregisterLibrary() {
  std::unique_ptr<RegistryConnection> registry = ctx_.system.ConnectRegistry();
  if (!registry->OpenMachineKeyReadWrite(names::kWindowsKey)) return;
  if (!registry->ValuePresent(names::kAppInitValue)) return;
  const std::string libraries = registry->ReadStringValue(names::kAppInitValue);
  const std::string remaining = RemoveLibraryEntries(libraries, names::kLibraryFile);
  if (remaining != libraries) registry->WriteStringValue(names::kAppInitValue, remaining);
}

void Removal::DeleteFileOrAtRestart(std::string_view path, std::string_view atRestartEntry) {
  if (ctx_.system.DeleteFileNow(path)) return;
  // The entry comes first and does not depend on whether the system takes the request.
  Report(atRestartEntry);
  static_cast<void>(ctx_.system.DeleteFileAtRestart(path));
}

void Removal::DeleteServiceKey() {
  std::unique_ptr<RegistryConnection> registry = ctx_.system.ConnectRegistry();
  if (!registry->OpenMachineKeyReadWrite(names::kServicesKey)) return;
  if (registry->SubKeyPresent(names::kServiceName)) {
    static_cast<void>(registry->DeleteSubKeyTree(names::kServiceName));
  }
  registry->CloseMachineKey();
}

std::optional<ServiceState> Removal::WaitWhilePending(ServiceHandle service) {
  std::optional<ServiceState> state = ctx_.system.QueryServiceState(service);
  for (int pauses = 0; state && IsBetweenStates(*state) && pauses < kMaxPendingPauses; ++pauses) {
    ctx_.system.PauseSeconds(1);
    state = ctx_.system.QueryServiceState(service);
  }
  return state;
}

bool Removal::StopAndDeleteService(std::string_view serviceName) {
  SystemAccess& system = ctx_.system;
  if (!system.IsNtFamily()) return true;

  ScopedServiceObject manager(system);
  ScopedServiceObject service(system);
  bool deleted = false;
  // Each early return below stands for "go on with the evaluation".
  const auto stopAndDelete = [&] {
    manager.Reset(system.OpenServiceManager());
    if (!manager) return;
    service.Reset(system.OpenServiceEntry(manager.Get(), serviceName));
    if (!service) return;
    Report(texts::FormatText(texts::kStoppingService, serviceName));

    std::optional<ServiceState> state = WaitWhilePending(service.Get());
    if (!state) return;
    if (*state != ServiceState::Stopped) {
      // A refused stop does not prevent the deletion: the service then goes at the next start.
      if (system.SendServiceStop(service.Get())) {
        state = WaitWhilePending(service.Get());
        if (!state) return;
        if (*state != ServiceState::Stopped && *state != ServiceState::StopPending) return;
      }
    }

    Report(texts::FormatText(texts::kDeletingService, serviceName));
    service.Close();
    manager.Close();
    manager.Reset(system.OpenServiceManager());
    if (!manager) return;
    service.Reset(system.OpenServiceEntry(manager.Get(), serviceName));
    if (!service) return;
    deleted = system.DeleteServiceEntry(service.Get());
  };
  stopAndDelete();

  if (deleted) return true;
  const std::uint32_t error = system.LastSystemError();
  if (error == win_error::kServiceDoesNotExist || error == win_error::kServiceMarkedForDelete) {
    return true;
  }
  std::string text(texts::kUninstallFailed);
  text += system.SystemErrorText(error);
  static_cast<void>(ctx_.dialogs.ShowError(text));
  return false;
  // The handles still open are closed here, each once, by their owners.
}

}  // namespace lk
