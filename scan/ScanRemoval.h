#pragma once
// The console scanner's removal: undoes what the known-version checks found, with the steps the
// window's removal takes too (trojan/RemovalSteps) in its order, and reports each change as an
// action record.
//
// It differs from the window's removal where a console program run by an administrator needs it
// to: no report entries, no pauses to follow (only the waits a service needs to settle), no
// restart question and never a restart; both registry views and the library in both system
// folders on 64-bit Windows; and before each change the journal keeps what the change destroys.
// When keeping fails, that change is not made: its record and the quarantine record say why.
//
// It changes nothing that the checks did not find and removes no sweep hit. It does not check
// its work afterwards: the records say what the system answered to each change.

#include <optional>
#include <string>
#include <vector>

#include "scan/RemovalJournal.h"
#include "scan/ScanReport.h"
#include "system/Desktop.h"
#include "system/SystemAccess.h"

namespace lk {

// Where the known-version checks found the trojan, as the removal needs it.
struct KnownVersionPlaces {
  // One registry view whose AppInit_DLLs names the library.
  struct AppInit {
    RegistryView view = RegistryView::Default;
    // The key as the records name it ("HKLM\SOFTWARE\Wow6432Node\..." for the 32-bit view).
    std::string shownKey;
  };

  bool serviceKey = false;  // the service key with its ImagePath
  std::vector<AppInit> appInit;
  std::vector<std::string> libraryFiles;  // in the system folder and SysWOW64, each case twin
  std::vector<std::string> driverFiles;   // every case twin of the driver's name
  bool serviceRegistered = false;         // the service manager knows the service
  bool deviceReachable = false;
  // The control sets other than the current one that hold the service's key ("ControlSet002").
  std::vector<std::string> otherControlSets;

  [[nodiscard]] bool Any() const {
    return serviceKey || !appInit.empty() || !libraryFiles.empty() || !driverFiles.empty() ||
           serviceRegistered || deviceReachable || !otherControlSets.empty();
  }
};

class ScanRemoval {
 public:
  ScanRemoval(SystemAccess& system, Pacing& pacing, ScanReport& report, RemovalJournal& journal)
      : system_(system), pacing_(pacing), report_(report), journal_(journal) {}

  // Removes what places names and reports every keep and every change. Returns whether a
  // restart is needed to complete the removal: a file is only marked for deletion at the next
  // restart, or the trojan's driver was loaded (its device answered, or its service had not
  // stopped when found) and its service is gone or marked for deletion.
  [[nodiscard]] bool Run(const KnownVersionPlaces& places);

 private:
  void UnregisterLibrary(const KnownVersionPlaces::AppInit& place);
  void RemoveFile(const std::string& path);
  void RemoveService(const KnownVersionPlaces& places);
  void StopAndDeleteService(bool driverLoaded);
  void DeleteServiceKey();
  void DeleteOtherServiceKey(const std::string& controlSet);
  [[nodiscard]] bool ServiceKeyPresent();
  // Asks the journal and reports the quarantine action; false when the thing was not kept.
  template <typename KeepCall>
  [[nodiscard]] bool Keep(const std::string& target, KeepCall&& keep, std::string* error);
  void Act(std::string action, std::string target, bool ok, std::optional<std::string> error);
  [[nodiscard]] std::string ErrorText(std::uint32_t code);

  SystemAccess& system_;
  Pacing& pacing_;
  ScanReport& report_;
  RemovalJournal& journal_;
  bool restartRequired_ = false;
};

}  // namespace lk
