#pragma once
// An in-memory model of the parts of Windows that the analysis touches, for tests and lksim: the
// system (SystemAccess) and its desktop (Desktop) over one machine.
//
// Deterministic: nothing here waits, reads the clock or touches the host. It models registry
// keys with typed values (and keys that refuse read or write access), files and directories
// (files in use cannot be deleted now; deletion at restart is recorded), services with scripted
// reactions, devices that open, the platform flags, the redirection state and the system
// directory. It records clipboard text and shutdown requests, counts pumps and pauses (with hooks
// that run a callback at the n-th one: a test presses the cancel button that way), sets
// LastSystemError as Windows would, and logs every state-changing call so a test can assert what
// was changed and what was not.
//
// Paths (keys, files, services, devices) are compared without regard to ASCII case, as Windows
// does. Registry key paths are relative to HKEY_LOCAL_MACHINE, separated by '\'.
//
// Where Windows leaves a choice, the model decides as follows (every failure sets
// LastSystemError; success leaves it alone, as most Win32 calls do):
// - Registry: a missing key or value gives 2, a refused key 5, no open key 6, an open key that
//   was deleted meanwhile 1018. ReadStringValue behaves like the Windows implementation: when
//   the size query fails (no open key, a missing value, a deleted key) or gives 0 bytes, the
//   result is the empty text (the error is still set); a value of another type raises with 1630
//   (ERROR_UNSUPPORTED_TYPE). A key that has subkeys or refuses access cannot be deleted (5), so
//   DeleteSubKeyTree stops at a refused subkey and keeps its parents.
// - Files: a missing path gives 2 when its directory exists, else 3; deleting a directory gives
//   5, a file in use 32. DeleteFileAtRestart, like MoveFileEx, only writes the request down: it
//   accepts missing files and records the path as given, without redirection.
// - Services: a stop sent to a stopped service fails with 1062, to a start- or stop-pending one
//   with 1061, to one that refuses it with 1052. A deleted service is only marked for deletion:
//   it keeps working for its open handles, OpenServiceEntry still finds it, a second delete
//   fails with 1072; once it is stopped and its last handle is closed it disappears, and
//   OpenServiceEntry then fails with 1060.
// - Redirection: switching it off and back on fails with 127 where the system
//   does not offer them, with 1 on a 32-bit system (where they exist but refuse), and Revert
//   with 87 for a token that is not outstanding.
// - Registry views: on 64-bit Windows (RunningUnderWow64) the 32-bit view (Wow32, and Default,
//   since the program is a 32-bit process) sees HKLM\SOFTWARE\X at SOFTWARE\Wow6432Node\X, as
//   Windows redirects it; the Native view and every other key are not redirected. Keys are
//   scripted and read back by their paths in the native view.
// - ShutdownRequests records every call; the log tells what it did ("ExitWindowsEx 6", "nothing").
// - PauseSeconds(n) with n > 0 counts as one pause and adds n seconds; it does not pump. With
//   n <= 0 it returns at once, counts nothing and runs no hook.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "system/Desktop.h"
#include "system/FileOperations.h"
#include "system/ServiceHandleTable.h"
#include "system/SystemAccess.h"

namespace lk {

// How a scripted service reacts.
struct ServiceScript {
  ServiceState state = ServiceState::Running;
  // Whether the stop control is accepted (when refused, SendServiceStop fails with 1052).
  bool acceptsStop = true;
  // The states reported by the queries after an accepted stop, one per query; once used up the
  // last one stays. Empty means: stopped at once.
  std::vector<ServiceState> statesAfterStop;
  // While the state is StartPending, this many queries report StartPending; then Running.
  int startPendingQueries = 0;
  // The error DeleteServiceEntry fails with (0: it succeeds and marks the service for deletion;
  // a second delete of a marked service fails with 1072 by itself).
  std::uint32_t deleteError = 0;
};

// The redirection state before a switch, as the model hands it out and takes it back.
struct RedirectionToken {
  std::uintptr_t value = 0;
  friend bool operator==(RedirectionToken, RedirectionToken) = default;
};

struct ShutdownRequest {
  ShutdownMode mode = ShutdownMode::ShutDown;
  bool force = false;
  friend bool operator==(const ShutdownRequest&, const ShutdownRequest&) = default;
};

class ScriptedSystem : public SystemAccess,
                       public Platform,
                       public FileOperations,
                       public ServiceHandleTable,
                       public Desktop {
 public:
  ScriptedSystem();
  ~ScriptedSystem() override;

  // --- Scripting the machine ------------------------------------------------------------
  void SetNtFamily(bool ntFamily);
  void SetRunningUnderWow64(bool wow64);
  void SetSystemDirectory(std::string directory);  // default "C:\WINDOWS\system32"
  // Makes DisableFsRedirection fail (as on systems that do not offer it).
  void SetRedirectionAvailable(bool available);
  void SetServiceManagerAvailable(bool available);      // false: OpenServiceManager fails with 5
  void SetAdministratorRights(bool administrator);      // true by default
  void SetProgramDataDirectory(std::string directory);  // default "C:\ProgramData"

  void AddKey(std::string_view keyPath);  // with all missing parent keys
  void SetValue(std::string_view keyPath, std::string_view valueName, RegistryValue value);
  // Opening the key for reading (every access mask) or for writing fails with 5.
  void DenyKeyRead(std::string_view keyPath);
  void DenyKeyWrite(std::string_view keyPath);

  void AddDirectory(std::string_view path);                 // with all missing parent directories
  void AddFile(std::string_view path, bool inUse = false);  // with its parent directories
  void SetFileInUse(std::string_view path, bool inUse);
  void AddService(std::string_view name, ServiceScript script);
  void AddDevice(std::string_view devicePath);
  void RemoveDevice(std::string_view devicePath);

  // Called with the path of every file that DeleteFile removed (lksim deletes the real copy),
  // spelled as the model holds it, after the redirection.
  void OnFileDeleted(std::function<void(const std::string& path)> callback);
  // Runs callback during the n-th call (1-based) of PumpWindowMessages or PauseSeconds.
  void AtPump(int n, std::function<void()> callback);
  void AtPause(int n, std::function<void()> callback);
  // Runs callback during every PumpWindowMessages call (after the AtPump hooks).
  void OnEveryPump(std::function<void()> callback);

  // --- Reading the machine's state ------------------------------------------------------
  [[nodiscard]] bool KeyExists(std::string_view keyPath) const;
  [[nodiscard]] std::optional<RegistryValue> Value(std::string_view keyPath,
                                                   std::string_view valueName) const;
  // All keys in a stable order (sorted without regard to case), with their values by name.
  [[nodiscard]] std::vector<std::pair<std::string, std::map<std::string, RegistryValue>>>
  RegistrySnapshot() const;
  [[nodiscard]] bool FileExists(std::string_view path) const;
  [[nodiscard]] bool FileInUse(std::string_view path) const;
  [[nodiscard]] std::vector<std::string> Files() const;             // sorted without regard to case
  [[nodiscard]] std::vector<std::string> PendingDeletions() const;  // in request order
  [[nodiscard]] bool ServiceExists(std::string_view name) const;
  [[nodiscard]] std::optional<ServiceState> CurrentServiceState(std::string_view name) const;
  [[nodiscard]] bool ServiceMarkedForDeletion(std::string_view name) const;
  [[nodiscard]] std::vector<std::string> ServiceNames() const;
  [[nodiscard]] std::optional<std::string> Clipboard() const;
  [[nodiscard]] const std::vector<ShutdownRequest>& ShutdownRequests() const;
  [[nodiscard]] bool RedirectionDisabled() const;
  [[nodiscard]] int PumpCount() const;
  [[nodiscard]] int PauseCount() const;
  [[nodiscard]] int PausedSeconds() const;           // the sum of the arguments of PauseSeconds
  [[nodiscard]] int OpenServiceHandleCount() const;  // handles handed out and not yet closed
  [[nodiscard]] int OpenRegistryKeyCount() const;    // keys open in live connections
  // Closes of service handles that were closed before or never handed out. Each is also logged
  // ("CloseServiceObject <h> double-close" or "... invalid handle") and sets error 6.
  [[nodiscard]] int HandleFaultCount() const;
  // One line per state-changing call, e.g. "DeleteFileNow C:\WINDOWS\system32\mfc42ul.dll ok".
  [[nodiscard]] const std::vector<std::string>& Log() const;

  // The switch behind DisableFsRedirection, with the token the scope hands back, for tests of
  // the model's own rules (a token handed back twice or out of order).
  [[nodiscard]] std::optional<RedirectionToken> DisableRedirectionToken();
  bool RevertRedirectionToken(RedirectionToken token);

  // Maps a path as the program sees it to the path in the model: while the program is a 32-bit
  // process on 64-bit Windows and the redirection is on, the system directory stands for
  // SysWOW64 (as Windows redirects it). Used for FindFile and the deletions, and by lksim for
  // the file layer.
  [[nodiscard]] std::string RedirectedPath(std::string_view path) const;

  // --- SystemAccess ---------------------------------------------------------------------
  std::unique_ptr<RegistryConnection> ConnectRegistry(RegistryView view) override;
  FileOperations& SystemFiles() override { return *this; }
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
  // The scripted program is the 32-bit one: the PC is 64-bit Windows exactly when it runs
  // under WOW64.
  bool Is64BitWindows() override;
  std::unique_ptr<FsRedirectionScope> DisableFsRedirection() override;

  // --- FileOperations: the model's files; failures also set LastSystemError, as on Windows ---
  std::uint32_t FindFile(std::string_view path) override;
  std::uint32_t DeleteFile(std::string_view path) override;
  std::uint32_t DeleteFileAtRestart(std::string_view path) override;
  std::uint32_t CancelDeleteAtRestart(std::string_view path) override;

  // --- ServiceHandleTable: the handles behind the owners OpenServiceManager hands out ---
  ServiceHandle OpenServiceManagerHandle() override;
  ServiceHandle OpenServiceEntry(ServiceHandle manager, std::string_view serviceName) override;
  std::optional<ServiceState> QueryServiceState(ServiceHandle service) override;
  std::optional<ServiceState> SendServiceStop(ServiceHandle service) override;
  bool DeleteServiceEntry(ServiceHandle service) override;
  ServiceHandle CreateServiceEntry(ServiceHandle manager,
                                   const ServiceDefinition& definition) override;
  void CloseServiceObject(ServiceHandle handle) override;

  // --- Desktop --------------------------------------------------------------------------
  void PauseSeconds(int seconds) override;
  void PumpWindowMessages() override;
  void SetClipboardText(std::string_view text) override;
  void ShutdownWindows(ShutdownMode mode, bool force) override;

 private:
  struct Model;
  std::unique_ptr<Model> model_;
};

}  // namespace lk
