#include "analysis/KnownVersionCheck.h"

#include <exception>
#include <memory>
#include <optional>

#include "analysis/AnalysisTexts.h"
#include "analysis/Signatures.h"
#include "analysis/TextCase.h"

namespace lk {

namespace {

std::u16string WidenAscii(std::string_view text) {
  std::u16string wide;
  wide.reserve(text.size());
  for (char c : text) wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return wide;
}

}  // namespace

KnownVersionOutcome KnownVersionCheck::CheckKnownVersion() {
  KnownVersionOutcome outcome;
  ctx_.run.CancelRequested = false;

  Report(texts::kAnalysingRegistry, ReportKind::Plain);
  ctx_.progress.SetPosition(0);
  ctx_.progress.Show();
  bool completed = false;
  RunWithClosingSteps([&] { completed = RunChecks(outcome.findings); },
                      [&] {
                        ctx_.progress.Hide();
                        ctx_.progress.SetPosition(0);
                      });
  if (!completed || CancelRequested()) return outcome;

  AskForRemoval(outcome);
  return outcome;
}

bool KnownVersionCheck::RunChecks(KnownVersionFindings& findings) {
  SystemAccess& system = ctx_.system;

  CheckRegistry(findings);
  if (CancelRequested()) return false;

  Report(texts::kAnalysingSystemFiles, ReportKind::Plain);
  system.PauseSeconds(2);
  const std::string libraryPath = ctx_.run.SystemDirectory + std::string(names::kLibraryFile);
  if (system.FilePresent(libraryPath)) {
    Report(texts::kLibraryPresumablyPresent, ReportKind::Plain);
    findings.LibraryFileFound = true;
    ConfirmSignature(libraryPath, {signatures::LibrarySignature(), TextEncoding::Ansi,
                                   texts::kLibraryIdentified, texts::kLibraryNotIdentified,
                                   ReportKind::Concerning, texts::kNoAccessToLibrary});
  }
  if (CancelRequested()) return false;

  ctx_.progress.SetPosition(40);
  system.PauseSeconds(1);
  const std::string driverPath = ctx_.run.DriversDirectory + std::string(names::kDriverFile);
  if (system.FilePresent(driverPath)) {
    Report(texts::kDriverPresumablyPresent, ReportKind::Plain);
    findings.DriverFileFound = true;
    // Unlike the library, an unconfirmed driver is reported as plain information.
    ConfirmSignature(
        driverPath, {signatures::DriverSignature(), TextEncoding::Utf16Le, texts::kDriverIdentified,
                     texts::kDriverNotIdentified, ReportKind::Plain, texts::kNoAccessToDriver});
  }
  if (CancelRequested()) return false;

  ctx_.progress.SetPosition(60);
  Report(texts::kAnalysingServiceManager, ReportKind::Plain);
  system.PauseSeconds(2);
  if (IsServiceRegistered(names::kServiceName)) {
    findings.ServiceEntryFound = true;
    Report(texts::kDriverServiceRegistered, ReportKind::Critical);
  } else {
    Report(texts::kDriverServiceNotRegistered, ReportKind::Plain);
  }
  if (CancelRequested()) return false;

  ctx_.progress.SetPosition(80);
  Report(texts::kAnalysingDevices, ReportKind::Plain);
  system.PauseSeconds(2);
  if (system.DeviceCanBeOpened(signatures::DevicePath())) {
    findings.DeviceReachable = true;
    Report(texts::kDeviceReachable, ReportKind::Critical);
  }
  ctx_.progress.SetPosition(100);
  return true;
}

void KnownVersionCheck::CheckRegistry(KnownVersionFindings& findings) {
  // Any failure ends the group: a value of another type, a refused read. The connection closes
  // its key when it goes out of scope, on every path.
  try {
    ctx_.system.PauseSeconds(2);
    std::unique_ptr<RegistryConnection> registry = ctx_.system.ConnectRegistry();
    if (registry->OpenMachineKeyReadOnly(names::kServiceKey)) {
      if (registry->ValuePresent(names::kImagePathValue)) {
        static_cast<void>(registry->ReadStringValue(names::kImagePathValue));
        findings.ServiceKeyFound = true;
        Report(texts::kDriverRegistered, ReportKind::Critical);
      }
      registry->CloseMachineKey();
    }
    ctx_.progress.SetPosition(10);
    ctx_.system.PauseSeconds(1);
    if (registry->OpenMachineKeyReadOnly(names::kWindowsKey)) {
      if (registry->ValuePresent(names::kAppInitValue)) {
        const std::string libraries = registry->ReadStringValue(names::kAppInitValue);
        if (ContainsIgnoringCase(libraries, names::kLibraryFile)) {
          Report(texts::kLibraryRegistered, ReportKind::Critical);
          findings.AppInitEntryFound = true;
        }
      }
      registry->CloseMachineKey();
    }
    ctx_.progress.SetPosition(20);
  } catch (const std::exception&) {
    Report(texts::kRegistryCheckFailed, ReportKind::Critical);
  }
}

void KnownVersionCheck::ConfirmSignature(const std::string& path, const SignatureCheck& check) {
  // Only the file access is guarded: a failing report entry is not a file that cannot be read.
  std::optional<bool> found;
  try {
    ctx_.streamSearch.OpenStreamFile(path);
    found = ctx_.streamSearch.FindText(WidenAscii(check.signature), 0, check.encoding, {});
  } catch (const std::exception&) {
    found.reset();
  }
  // Let go of the file at once: an open handle without delete sharing would make the removal's
  // deletion of this very file fail, and the trojan's driver would survive until the restart.
  ctx_.streamSearch.OpenStreamFile("");
  if (!found) {
    Report(check.noAccess, ReportKind::Concerning);
  } else if (*found) {
    Report(check.identified, ReportKind::Critical);
  } else {
    Report(check.notIdentified, check.notIdentifiedKind);
  }
}

void KnownVersionCheck::AskForRemoval(KnownVersionOutcome& outcome) {
  const KnownVersionFindings& f = outcome.findings;
  if (!f.Any()) {
    std::string text = "<b>";
    text += texts::kVerdictCleanHeadline;
    text += "</b><br><br>";
    text += texts::kVerdictCleanNotice;
    static_cast<void>(ctx_.dialogs.ShowInformation(text));
    return;
  }
  // Files or a reachable device are parts of the trojan; registrations alone are clear signs.
  const bool partsFound = f.LibraryFileFound || f.DriverFileFound || f.DeviceReachable;
  const DialogResult answer =
      ctx_.dialogs.AskCritical(texts::kVerdictFoundTitle,
                               partsFound ? texts::kVerdictPartsFound : texts::kVerdictClearSigns);
  outcome.removalAgreed = answer == DialogResult::Yes;
}

bool KnownVersionCheck::IsServiceRegistered(std::string_view serviceName) {
  SystemAccess& system = ctx_.system;
  // Systems outside the NT family have no service manager to ask.
  if (!system.IsNtFamily()) return true;
  ScopedServiceObject manager(system, system.OpenServiceManager());
  if (!manager) {
    Report(texts::kServiceManagerUnavailable, ReportKind::Critical);
    return false;
  }
  // Declared after the manager, so it is closed first.
  ScopedServiceObject service(system, system.OpenServiceEntry(manager.Get(), serviceName));
  return static_cast<bool>(service);
}

}  // namespace lk
