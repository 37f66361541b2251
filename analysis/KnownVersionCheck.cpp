#include "analysis/KnownVersionCheck.h"

#include <exception>
#include <memory>
#include <optional>

#include "analysis/AnalysisTexts.h"
#include "trojan/TrojanNames.h"

namespace lk {

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
  Desktop& desktop = ctx_.desktop;

  CheckRegistry(findings);
  if (CancelRequested()) return false;

  Report(texts::kAnalysingSystemFiles, ReportKind::Plain);
  desktop.PauseSeconds(2);
  const std::string libraryPath = ctx_.run.SystemDirectory + std::string(names::kLibraryFile);
  if (system.SystemFiles().FindFile(libraryPath) == 0) {
    Report(texts::kLibraryPresumablyPresent, ReportKind::Plain);
    findings.LibraryFileFound = true;
    ReportSignature(probe_.ConfirmLibrary(libraryPath),
                    {texts::kLibraryIdentified, texts::kLibraryNotIdentified,
                     ReportKind::Concerning, texts::kNoAccessToLibrary});
  }
  if (CancelRequested()) return false;

  ctx_.progress.SetPosition(40);
  desktop.PauseSeconds(1);
  const std::string driverPath = ctx_.run.DriversDirectory + std::string(names::kDriverFile);
  if (system.SystemFiles().FindFile(driverPath) == 0) {
    Report(texts::kDriverPresumablyPresent, ReportKind::Plain);
    findings.DriverFileFound = true;
    // Unlike the library, an unconfirmed driver is reported as plain information.
    ReportSignature(probe_.ConfirmDriver(driverPath),
                    {texts::kDriverIdentified, texts::kDriverNotIdentified, ReportKind::Plain,
                     texts::kNoAccessToDriver});
  }
  if (CancelRequested()) return false;

  ctx_.progress.SetPosition(60);
  Report(texts::kAnalysingServiceManager, ReportKind::Plain);
  desktop.PauseSeconds(2);
  if (IsServiceRegistered(names::kServiceName)) {
    findings.ServiceEntryFound = true;
    Report(texts::kDriverServiceRegistered, ReportKind::Critical);
  } else {
    Report(texts::kDriverServiceNotRegistered, ReportKind::Plain);
  }
  if (CancelRequested()) return false;

  ctx_.progress.SetPosition(80);
  Report(texts::kAnalysingDevices, ReportKind::Plain);
  desktop.PauseSeconds(2);
  if (probe_.DeviceReachable()) {
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
    ctx_.desktop.PauseSeconds(2);
    std::unique_ptr<RegistryConnection> registry =
        ctx_.system.ConnectRegistry(RegistryView::Default);
    if (probe_.ServiceImagePath(*registry)) {
      findings.ServiceKeyFound = true;
      Report(texts::kDriverRegistered, ReportKind::Critical);
    }
    ctx_.progress.SetPosition(10);
    ctx_.desktop.PauseSeconds(1);
    if (probe_.AppInitNamingLibrary(*registry)) {
      Report(texts::kLibraryRegistered, ReportKind::Critical);
      findings.AppInitEntryFound = true;
    }
    ctx_.progress.SetPosition(20);
  } catch (const std::exception&) {
    Report(texts::kRegistryCheckFailed, ReportKind::Critical);
  }
}

void KnownVersionCheck::ReportSignature(KnownVersionProbe::Signature signature,
                                        const SignatureTexts& texts) {
  switch (signature) {
    case KnownVersionProbe::Signature::NoAccess:
      Report(texts.noAccess, ReportKind::Concerning);
      break;
    case KnownVersionProbe::Signature::Identified:
      Report(texts.identified, ReportKind::Critical);
      break;
    case KnownVersionProbe::Signature::NotIdentified:
      Report(texts.notIdentified, texts.notIdentifiedKind);
      break;
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
  switch (probe_.QueryService(serviceName)) {
    case KnownVersionProbe::Registration::Registered:
      return true;
    case KnownVersionProbe::Registration::ManagerUnavailable:
      Report(texts::kServiceManagerUnavailable, ReportKind::Critical);
      return false;
    case KnownVersionProbe::Registration::NotRegistered:
      break;
  }
  return false;
}

}  // namespace lk
