#pragma once
// The known-version branch of a run: looks in the places where the known version of the trojan
// installs itself (two registry places, two files with their signatures, the service manager,
// the device), writes one report entry per observation, pausing between the groups so the user
// can follow, and ends with the verdict dialog that offers the removal.
//
// Tests the cancel flag between the check groups and after the last one; a cancel ends the
// branch without a verdict. Only failures inside the registry group and the two signature
// confirmations are caught here (each becomes a report entry); any other failure goes on to the
// run, after the progress bar has been hidden. Runs on 32-bit systems only, so it never deals
// with the 64-bit redirection.

#include <string>
#include <string_view>

#include "analysis/RunContext.h"
#include "trojan/KnownVersionProbe.h"

namespace lk {

// What one known-version analysis found; all false at the start of each run.
struct KnownVersionFindings {
  bool ServiceKeyFound = false;
  bool AppInitEntryFound = false;
  bool LibraryFileFound = false;
  bool DriverFileFound = false;
  bool ServiceEntryFound = false;
  bool DeviceReachable = false;

  [[nodiscard]] bool Any() const {
    return ServiceKeyFound || AppInitEntryFound || LibraryFileFound || DriverFileFound ||
           ServiceEntryFound || DeviceReachable;
  }
  friend bool operator==(const KnownVersionFindings&, const KnownVersionFindings&) = default;
};

struct KnownVersionOutcome {
  KnownVersionFindings findings;
  // The user answered Yes to the verdict question (false when a cancel ended the branch).
  bool removalAgreed = false;
};

class KnownVersionCheck {
 public:
  explicit KnownVersionCheck(RunContext& context)
      : ctx_(context), probe_(context.system, context.streamSearch) {}

  [[nodiscard]] KnownVersionOutcome CheckKnownVersion();

  // True when the service manager knows the service; always true outside the NT family.
  [[nodiscard]] bool IsServiceRegistered(std::string_view serviceName);

 private:
  // The checks from the registry group to the device; false when a test point ended them.
  [[nodiscard]] bool RunChecks(KnownVersionFindings& findings);
  void CheckRegistry(KnownVersionFindings& findings);
  struct SignatureTexts {
    std::string_view identified;
    std::string_view notIdentified;
    ReportKind notIdentifiedKind;
    std::string_view noAccess;
  };
  void ReportSignature(KnownVersionProbe::Signature signature, const SignatureTexts& texts);
  void AskForRemoval(KnownVersionOutcome& outcome);
  [[nodiscard]] bool CancelRequested() const { return ctx_.run.CancelRequested; }
  void Report(std::string_view text, ReportKind kind) { ctx_.report.AddReportEntry(text, kind); }

  RunContext& ctx_;
  KnownVersionProbe probe_;
};

}  // namespace lk
