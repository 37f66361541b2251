#pragma once
// The system seam over a Windows installation that is not running: its system drive mounted at a
// host folder (from a rescue system), its registry read from the hive files through hivex.
//
// A kernel rootkit can hide files and keys from every program of the system it runs on; here it
// does not run, so nothing is hidden. What only exists while Windows runs does not apply:
// - the registry is HKLM\SYSTEM and HKLM\SOFTWARE (Windows\System32\config\SYSTEM, SOFTWARE);
//   every other key is missing. CurrentControlSet is ControlSet00N with N from Select\Current.
//   The 32-bit view of a 64-bit installation sees SOFTWARE\X at SOFTWARE\Wow6432Node\X; the
//   default view is the native one (no process of the installation is asking);
// - services are the keys below each control set's Services: a service is registered when its key
//   is in the current control set, and it is always stopped, so a stop fails with 1062 (not
//   active). Deleting one removes its key from every ControlSet00N at once; registering one
//   creates its key in the current control set;
// - devices cannot be opened (120: not applicable offline), and nothing is deleted at a restart:
//   deletions happen now (the file operations, a PosixFileStore over the drive, refuse
//   DeleteFileAtRestart with 120 and CancelDeleteAtRestart with 2);
// - there is no redirection (every folder is seen as it is), and no desktop (Desktop.h).
// Paths are resolved without regard to case, through the POSIX file layer rooted at the folder,
// which walks them by descriptor and follows no link on the way: a file is examined, deleted and
// a hive read and rewritten only where the walk reached it.
//
// It writes nothing until asked to change something. Administrator rights mean: both hive files,
// their folder and the drive's root can be written by this process (a volume mounted read-only
// gives none). Errors are Windows codes, as on Windows; a damaged hive gives 1015, and
// SystemErrorText(1015) names the file and what was wrong with it.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system/ServiceHandleTable.h"
#include "system/SystemAccess.h"
#include "system/posix/PosixFileSystem.h"

namespace lk {

class Hive;

class OfflineSystemAccess final : public SystemAccess, public Platform, public ServiceHandleTable {
 public:
  // Opens the installation whose system drive is mounted at root. No system, with a message that
  // names the folder or hive file, when the hives are missing or damaged.
  [[nodiscard]] static std::unique_ptr<OfflineSystemAccess> Open(const std::string& root,
                                                                 std::string* error);
  ~OfflineSystemAccess() override;

  // Called once per hive file with its host path, before the first change to it is written, so
  // the caller can keep a copy of the untouched file; when it returns false the change is refused
  // with 5 (and the hook is asked again at the next change).
  void SetBeforeFirstHiveWrite(std::function<bool(const std::string& hostPath)> hook);
  // The host paths of the hive files whose Windows did not shut down cleanly (see Hive::IsDirty).
  [[nodiscard]] std::vector<std::string> DirtyHives() const;
  // The same hives with what became of their transaction logs: the entries replayed, or why
  // they could not be (the hive is then read as the file has it, and not changed).
  struct DirtyHive {
    std::string hostPath;
    std::string logsApplied;
    std::string logFailure;
  };
  [[nodiscard]] std::vector<DirtyHive> DirtyHiveStates() const;
  // Why deleting the service's key from every control set, or changing the values of the keys
  // (as the seam names them, in their view), could not be done safely (see Hive::CheckDeleteKey);
  // empty when every change can be made. Asked before a removal changes anything.
  [[nodiscard]] std::string CheckChanges(
      std::string_view serviceName,
      const std::vector<std::pair<RegistryView, std::string>>& valueKeys);
  // The host folder of the drive.
  [[nodiscard]] const std::string& Root() const noexcept;

  // --- SystemAccess ---------------------------------------------------------------------
  std::unique_ptr<RegistryConnection> ConnectRegistry(RegistryView view) override;
  // A PosixFileStore over the drive's folder.
  FileOperations& SystemFiles() override;
  Platform& PlatformQueries() override { return *this; }
  std::unique_ptr<ServiceManager> OpenServiceManager() override;
  std::uint32_t LastSystemError() override;
  std::string SystemErrorText(std::uint32_t code) override;
  // --- Platform -------------------------------------------------------------------------
  std::string QuerySystemDirectory() override;
  std::string QueryProgramDataDirectory() override;
  bool DeviceCanBeOpened(std::string_view devicePath) override;
  bool IsNtFamily() override;
  bool HasAdministratorRights() override;
  bool RunningUnderWow64() override;
  bool Is64BitWindows() override;
  std::unique_ptr<FsRedirectionScope> DisableFsRedirection() override;

  // --- ServiceHandleTable: the handles behind the owners OpenServiceManager hands out ---
  ServiceHandle OpenServiceManagerHandle() override;
  ServiceHandle OpenServiceEntry(ServiceHandle manager, std::string_view serviceName) override;
  std::optional<ServiceState> QueryServiceState(ServiceHandle service) override;
  std::optional<ServiceState> SendServiceStop(ServiceHandle service) override;
  bool DeleteServiceEntry(ServiceHandle service) override;
  ServiceHandle CreateServiceEntry(ServiceHandle manager,
                                   const ServiceDefinition& definition) override;
  void CloseServiceObject(ServiceHandle handle) override;

  struct State;  // shared with the registry connections, which may outlive the system

 private:
  explicit OfflineSystemAccess(std::shared_ptr<State> state);
  // The Windows path of an existing folder as the drive spells it, or fallback.
  [[nodiscard]] std::string SpelledFolder(std::string_view windowsPath, std::string fallback) const;
  [[nodiscard]] std::optional<std::string> ServiceOf(ServiceHandle service);

  std::shared_ptr<State> state_;
  std::map<std::uintptr_t, std::string> services_;  // open handles: "" for the manager
  std::uintptr_t nextHandle_ = 1;
};

}  // namespace lk
