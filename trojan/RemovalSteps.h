#pragma once
// The steps that undo the known version, each on its own: taking the library out of
// AppInit_DLLs, deleting a file now or at the next restart, stopping and deleting the driver
// service, deleting the service key. Each says what it did and raises only what SystemAccess
// raises; reporting, pacing and asking are the caller's. The window's removal and the console
// scanner run the same steps, so they undo the same things in the same way.
//
// The one wait that stays in here is the one the system needs: a service between two states is
// given up to kMaxPendingPauses seconds to settle.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "system/Desktop.h"
#include "system/SystemAccess.h"

namespace lk {

class RemovalSteps {
 public:
  // At most this many one-second pauses while waiting for a service between states.
  static constexpr int kMaxPendingPauses = 5;

  // The AppInit_DLLs text before and after a removal that changed it.
  struct AppInitChange {
    std::string before;
    std::string after;
  };
  enum class FileDeletion : std::uint8_t { Deleted, AtRestart, AtRestartRefused };
  // Where the service removal stands when it tells its caller.
  enum class ServiceStage : std::uint8_t { Stopping, Deleting };
  struct ServiceRemoval {
    // The service is gone or marked for deletion (or there is no service manager at all).
    bool gone = false;
    // Why not, when not gone: the system's error code.
    std::uint32_t error = 0;

    // How far it got, for a caller that reports the stop and the deletion each on its own.
    // The service manager knew the service (its first open succeeded).
    bool opened = false;
    // Its state once it settled, before any stop; no value when not opened or the query failed.
    std::optional<ServiceState> stateFound;
    // A stop control was sent, and the system's refusal of it (0: accepted).
    bool stopSent = false;
    std::uint32_t stopError = 0;
    // The state once it settled after an accepted stop; no value otherwise or when a query failed.
    std::optional<ServiceState> stateAfterStop;
    // DeleteServiceEntry was called (the service had stopped, was stopping, or refused the stop).
    bool deleteTried = false;
  };

  // pacing waits while a service settles between two states.
  RemovalSteps(SystemAccess& system, Pacing& pacing) : system_(system), pacing_(pacing) {}

  // Takes every entry naming the library out of AppInit_DLLs (the key opened for writing and
  // closed again). No value when the key or the value is missing or nothing needed changing.
  // Raises SystemError when the value cannot be read or written as text.
  std::optional<AppInitChange> UnregisterLibrary(RegistryConnection& registry);
  // Deletes the file now; when that fails, calls beforeRestartRequest (if any) and registers the
  // file for deletion at the next restart. *restartError (when not null) receives why the
  // registration was refused, 0 when it was not asked or not refused.
  FileDeletion DeleteFileOrAtRestart(std::string_view path,
                                     const std::function<void()>& beforeRestartRequest = {},
                                     std::uint32_t* restartError = nullptr);
  // Stops the service (when it is not stopped) and deletes it. A refused stop does not prevent
  // the deletion: the service then goes at the next start. onStage is told when the stop and
  // when the deletion begin.
  ServiceRemoval StopAndDeleteService(std::string_view serviceName,
                                      const std::function<void(ServiceStage)>& onStage = {});
  // Deletes the driver's service key with its subtree; true when it went.
  bool DeleteServiceKey(RegistryConnection& registry);

 private:
  // Queries until the service is no longer between states (or the pauses are used up); no
  // value when a query fails.
  [[nodiscard]] std::optional<ServiceState> WaitWhilePending(Service& service);

  SystemAccess& system_;
  Pacing& pacing_;
};

}  // namespace lk
