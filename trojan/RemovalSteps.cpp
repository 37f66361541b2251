#include "trojan/RemovalSteps.h"

#include "trojan/AppInitDlls.h"
#include "trojan/TrojanNames.h"

namespace lk {

namespace {

bool IsBetweenStates(ServiceState state) {
  return state == ServiceState::StartPending || state == ServiceState::StopPending ||
         state == ServiceState::ContinuePending;
}

}  // namespace

std::optional<RemovalSteps::AppInitChange> RemovalSteps::UnregisterLibrary(
    RegistryConnection& registry) {
  if (!registry.OpenMachineKeyReadWrite(names::kWindowsKey)) return std::nullopt;
  if (!registry.ValuePresent(names::kAppInitValue)) return std::nullopt;
  AppInitChange change;
  change.before = registry.ReadStringValue(names::kAppInitValue);
  change.after = RemoveLibraryEntries(change.before, names::kLibraryFile);
  if (change.after == change.before) return std::nullopt;
  // Written back in the value's own type and encoding: a REG_EXPAND_SZ stays one, and the other
  // entries keep their bytes, whatever they hold.
  std::optional<StoredRegistryValue> stored = registry.ReadStoredValue(names::kAppInitValue);
  if (!stored) {
    const std::uint32_t code = system_.LastSystemError();
    throw SystemError(code, "AppInit_DLLs (error " + std::to_string(code) + ")");
  }
  stored->bytes = RemoveLibraryEntriesStored(stored->bytes, names::kLibraryFile);
  if (!registry.WriteStoredValue(names::kAppInitValue, *stored)) {
    const std::uint32_t code = system_.LastSystemError();
    throw SystemError(code, "AppInit_DLLs (error " + std::to_string(code) + ")");
  }
  return change;
}

RemovalSteps::FileDeletion RemovalSteps::DeleteFileOrAtRestart(
    std::string_view path, const std::function<void()>& beforeRestartRequest,
    std::uint32_t* restartError) {
  FileOperations& files = system_.SystemFiles();
  if (files.DeleteFile(path) == 0) return FileDeletion::Deleted;
  if (beforeRestartRequest) beforeRestartRequest();
  const std::uint32_t refused = files.DeleteFileAtRestart(path);
  if (restartError != nullptr) *restartError = refused;
  return refused == 0 ? FileDeletion::AtRestart : FileDeletion::AtRestartRefused;
}

bool RemovalSteps::DeleteServiceKey(RegistryConnection& registry) {
  if (!registry.OpenMachineKeyReadWrite(names::kServicesKey)) return false;
  bool deleted = false;
  if (registry.SubKeyPresent(names::kServiceName)) {
    deleted = registry.DeleteSubKeyTree(names::kServiceName);
  }
  registry.CloseMachineKey();
  return deleted;
}

std::optional<ServiceState> RemovalSteps::WaitWhilePending(Service& service) {
  std::optional<ServiceState> state = service.QueryState();
  for (int pauses = 0; state && IsBetweenStates(*state) && pauses < kMaxPendingPauses; ++pauses) {
    pacing_.PauseSeconds(1);
    state = service.QueryState();
  }
  return state;
}

RemovalSteps::ServiceRemoval RemovalSteps::StopAndDeleteService(
    std::string_view serviceName, const std::function<void(ServiceStage)>& onStage) {
  if (!system_.PlatformQueries().IsNtFamily()) {
    ServiceRemoval nothingToDo;
    nothingToDo.gone = true;
    return nothingToDo;
  }

  std::unique_ptr<ServiceManager> manager;
  std::unique_ptr<Service> service;
  ServiceRemoval removal;
  bool deleted = false;
  // Each early return below stands for "go on with the evaluation".
  const auto stopAndDelete = [&] {
    manager = system_.OpenServiceManager();
    if (!manager) return;
    service = manager->OpenServiceEntry(serviceName);
    if (!service) return;
    removal.opened = true;
    if (onStage) onStage(ServiceStage::Stopping);

    std::optional<ServiceState> state = WaitWhilePending(*service);
    removal.stateFound = state;
    if (!state) return;
    if (*state != ServiceState::Stopped) {
      removal.stopSent = true;
      if (service->SendStop()) {
        state = WaitWhilePending(*service);
        removal.stateAfterStop = state;
        if (!state) return;
        if (*state != ServiceState::Stopped && *state != ServiceState::StopPending) return;
      } else {
        removal.stopError = system_.LastSystemError();
      }
    }

    if (onStage) onStage(ServiceStage::Deleting);
    service.reset();
    manager.reset();
    manager = system_.OpenServiceManager();
    if (!manager) return;
    service = manager->OpenServiceEntry(serviceName);
    if (!service) return;
    removal.deleteTried = true;
    deleted = service->Delete();
  };
  stopAndDelete();

  if (deleted) {
    removal.gone = true;
    return removal;
  }
  const std::uint32_t error = system_.LastSystemError();
  removal.gone =
      error == win_error::kServiceDoesNotExist || error == win_error::kServiceMarkedForDelete;
  if (!removal.gone) removal.error = error;
  return removal;
  // The handles still open are closed here, each once, by their owners.
}

}  // namespace lk
