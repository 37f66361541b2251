#include "scan/ScanRemoval.h"

#include <exception>
#include <memory>
#include <utility>

#include "trojan/RemovalSteps.h"
#include "trojan/TrojanNames.h"

namespace lk {

namespace {

std::string MachineKey(std::string_view keyPath) { return "HKLM\\" + std::string(keyPath); }

std::string OtherServiceKey(const std::string& controlSet) {
  return "SYSTEM\\" + controlSet + "\\Services\\" + std::string(names::kServiceName);
}

}  // namespace

bool ScanRemoval::Run(const KnownVersionPlaces& places) {
  restartRequired_ = false;
  // The window's order: the library's registration, the library, the service, its key, the
  // driver. The service is stopped and deleted before its key and its file go.
  for (const KnownVersionPlaces::AppInit& place : places.appInit) UnregisterLibrary(place);
  for (const std::string& path : places.libraryFiles) RemoveFile(path);
  RemoveService(places);
  for (const std::string& path : places.driverFiles) RemoveFile(path);
  return restartRequired_;
}

void ScanRemoval::UnregisterLibrary(const KnownVersionPlaces::AppInit& place) {
  const std::string target = place.shownKey + "\\" + std::string(names::kAppInitValue);
  std::string error;
  if (!Keep(
          target,
          [&] {
            return journal_.KeepRegistryValue(place.view, names::kWindowsKey, names::kAppInitValue);
          },
          &error)) {
    Act("registry-write", target, false, error);
    return;
  }
  RemovalSteps steps(system_, pacing_);
  std::unique_ptr<RegistryConnection> registry = system_.ConnectRegistry(place.view);
  try {
    if (steps.UnregisterLibrary(*registry)) {
      Act("registry-write", target, true, std::nullopt);
      return;
    }
    // The key could not be opened for writing, or the value changed since the check.
    const std::uint32_t code = system_.LastSystemError();
    Act("registry-write", target, false,
        code != 0 ? ErrorText(code) : "der Wert nennt die Bibliothek nicht mehr");
  } catch (const SystemError& failure) {
    Act("registry-write", target, false, ErrorText(failure.Code()));
  }
}

void ScanRemoval::RemoveFile(const std::string& path) {
  std::string error;
  if (!Keep(
          path, [&] { return journal_.KeepFile(path); }, &error)) {
    Act("delete", path, false, error);
    return;
  }
  RemovalSteps steps(system_, pacing_);
  std::uint32_t restartError = 0;
  switch (steps.DeleteFileOrAtRestart(path, {}, &restartError)) {
    case RemovalSteps::FileDeletion::Deleted:
      Act("delete", path, true, std::nullopt);
      break;
    case RemovalSteps::FileDeletion::AtRestart:
      Act("delete-at-restart", path, true, std::nullopt);
      restartRequired_ = true;
      break;
    case RemovalSteps::FileDeletion::AtRestartRefused:
      Act("delete-at-restart", path, false, ErrorText(restartError));
      break;
  }
}

void ScanRemoval::RemoveService(const KnownVersionPlaces& places) {
  // As in the window: a reachable device alone calls for the stop as well.
  const bool serviceStep = places.serviceRegistered || places.deviceReachable;
  const bool keyStep = places.serviceKey;
  bool currentKept = serviceStep || keyStep;
  // A registered service has its key. Without one there is nothing to keep, and nothing for the
  // stop and the deletion to find (a driver still loaded without a registration goes at the
  // restart).
  if (currentKept && ServiceKeyPresent()) {
    const std::string keyTarget = MachineKey(names::kServiceKey);
    std::string error;
    if (!Keep(
            keyTarget, [&] { return journal_.KeepServiceKey(names::kServiceName); }, &error)) {
      if (serviceStep) Act("service-delete", std::string(names::kServiceName), false, error);
      if (keyStep) Act("registry-write", keyTarget, false, error);
      currentKept = false;
    }
  }
  // Every other control set's key is kept before the service goes: where the deletion of the
  // service takes its key from every set at once, nothing would be left to keep afterwards.
  std::vector<std::string> keptSets;
  for (const std::string& set : places.otherControlSets) {
    const std::string target = MachineKey(OtherServiceKey(set));
    std::string error;
    if (Keep(
            target, [&] { return journal_.KeepControlSetServiceKey(set, names::kServiceName); },
            &error)) {
      keptSets.push_back(set);
    } else {
      Act("registry-write", target, false, error);
    }
  }
  if (currentKept) {
    if (serviceStep) StopAndDeleteService(places.deviceReachable);
    if (keyStep) DeleteServiceKey();
  }
  for (const std::string& set : keptSets) DeleteOtherServiceKey(set);
}

void ScanRemoval::DeleteOtherServiceKey(const std::string& controlSet) {
  const std::string target = MachineKey(OtherServiceKey(controlSet));
  std::unique_ptr<RegistryConnection> registry = system_.ConnectRegistry(RegistryView::Native);
  const std::string services = "SYSTEM\\" + controlSet + "\\Services";
  if (!registry->OpenMachineKeyReadWrite(services)) {
    Act("registry-write", target, false, ErrorText(system_.LastSystemError()));
    return;
  }
  // Gone already when deleting the service took it from every set.
  if (!registry->SubKeyPresent(names::kServiceName) &&
      system_.LastSystemError() == win_error::kFileNotFound) {
    Act("registry-write", target, true, std::nullopt);
    return;
  }
  if (registry->DeleteSubKeyTree(names::kServiceName)) {
    Act("registry-write", target, true, std::nullopt);
  } else {
    Act("registry-write", target, false, ErrorText(system_.LastSystemError()));
  }
}

void ScanRemoval::StopAndDeleteService(bool driverLoaded) {
  const std::string target(names::kServiceName);
  RemovalSteps steps(system_, pacing_);
  const RemovalSteps::ServiceRemoval removal = steps.StopAndDeleteService(names::kServiceName);

  if (removal.stateFound && *removal.stateFound != ServiceState::Stopped) {
    driverLoaded = true;
    if (removal.stopError != 0) {
      Act("service-stop", target, false, ErrorText(removal.stopError));
    } else if (!removal.stateAfterStop) {
      Act("service-stop", target, false, ErrorText(removal.error));
    } else if (*removal.stateAfterStop == ServiceState::Stopped) {
      Act("service-stop", target, true, std::nullopt);
    } else if (*removal.stateAfterStop == ServiceState::StopPending) {
      Act("service-stop", target, false, "der Dienst hält noch an");
    } else {
      Act("service-stop", target, false,
          "der Dienst läuft nach der Aufforderung zum Anhalten weiter");
    }
  }

  // Without an open service there is nothing to report unless the service manager failed: a
  // service it does not know (1060) is already gone.
  if (removal.opened || !removal.gone) {
    if (removal.gone) {
      Act("service-delete", target, true, std::nullopt);
    } else if (removal.opened && !removal.deleteTried && removal.stateAfterStop) {
      Act("service-delete", target, false, "nicht gelöscht, weil der Dienst nicht anhielt");
    } else {
      Act("service-delete", target, false, ErrorText(removal.error));
    }
  }
  // A driver that ran in this session and is now gone or marked for deletion: only a restart
  // gives a system that never had it loaded (and unloads one that did not stop).
  if (removal.gone && driverLoaded) restartRequired_ = true;
}

void ScanRemoval::DeleteServiceKey() {
  // The service manager deletes the key itself with a stopped service; then nothing is left.
  if (!ServiceKeyPresent()) return;
  const std::string target = MachineKey(names::kServiceKey);
  RemovalSteps steps(system_, pacing_);
  std::unique_ptr<RegistryConnection> registry = system_.ConnectRegistry(RegistryView::Native);
  if (steps.DeleteServiceKey(*registry)) {
    Act("registry-write", target, true, std::nullopt);
  } else {
    Act("registry-write", target, false, ErrorText(system_.LastSystemError()));
  }
}

bool ScanRemoval::ServiceKeyPresent() {
  // SYSTEM is one key in both views of 64-bit Windows.
  std::unique_ptr<RegistryConnection> registry = system_.ConnectRegistry(RegistryView::Native);
  if (registry->OpenMachineKeyReadOnly(names::kServiceKey)) {
    registry->CloseMachineKey();
    return true;
  }
  // A key that cannot be read is there all the same.
  const std::uint32_t error = system_.LastSystemError();
  return error != win_error::kFileNotFound && error != win_error::kPathNotFound;
}

template <typename KeepCall>
bool ScanRemoval::Keep(const std::string& target, KeepCall&& keep, std::string* error) {
  RemovalJournal::Kept kept;
  try {
    kept = std::forward<KeepCall>(keep)();
  } catch (const std::exception& failure) {
    kept = {false, failure.what()};
  }
  if (!kept.ok && kept.error.empty()) kept.error = "keine Quarantänekopie angelegt";
  Act("quarantine", target, kept.ok,
      kept.ok ? std::nullopt : std::optional<std::string>(kept.error));
  *error = kept.error;
  return kept.ok;
}

void ScanRemoval::Act(std::string action, std::string target, bool ok,
                      std::optional<std::string> error) {
  ScanAction record;
  record.action = std::move(action);
  record.target = std::move(target);
  record.ok = ok;
  record.error = std::move(error);
  report_.Action(record);
}

std::string ScanRemoval::ErrorText(std::uint32_t code) {
  std::string text = system_.SystemErrorText(code);
  if (text.empty()) text = "Fehler " + std::to_string(code);
  return text;
}

}  // namespace lk
