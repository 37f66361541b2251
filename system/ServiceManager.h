#pragma once
// The service manager as the seam hands it out: an open connection that opens and registers
// services, each an owner that closes itself.
//
// SystemAccess::OpenServiceManager returns the connection; every service it opens or creates is
// an owner of its own, so no handle crosses the seam and nothing is closed twice or not at all.
// The connection and the services may end in any order. Failures are reported through the result
// (null, no value, false) with the code in SystemAccess::LastSystemError, as the Win32 calls do;
// closing keeps the last error as it was, so a caller reads the code of the call that failed
// even after the owners of the way there have ended.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace lk {

// The state of a service as the service manager reports it, with the Windows values.
enum class ServiceState : std::uint32_t {
  Stopped = 1,
  StartPending = 2,
  StopPending = 3,
  Running = 4,
  ContinuePending = 5,
  PausePending = 6,
  Paused = 7,
};

// What registering a service anew needs; the rest of its key is written as values afterwards.
struct ServiceDefinition {
  std::string name;
  std::string displayName;
  std::uint32_t type = 1;          // SERVICE_KERNEL_DRIVER
  std::uint32_t start = 3;         // SERVICE_DEMAND_START
  std::uint32_t errorControl = 1;  // SERVICE_ERROR_NORMAL
  std::string imagePath;
};

// One open service; ending the owner closes it.
class Service {
 public:
  Service() = default;
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;
  virtual ~Service() = default;

  [[nodiscard]] virtual std::optional<ServiceState> QueryState() = 0;
  // The state reported with an accepted stop control; no value when refused or failed.
  [[nodiscard]] virtual std::optional<ServiceState> SendStop() = 0;
  // Marks the service for deletion; it goes once it is stopped and its last owner has ended.
  [[nodiscard]] virtual bool Delete() = 0;
};

// An open connection to the service manager; ending the owner closes it.
class ServiceManager {
 public:
  ServiceManager() = default;
  ServiceManager(const ServiceManager&) = delete;
  ServiceManager& operator=(const ServiceManager&) = delete;
  virtual ~ServiceManager() = default;

  // Null when there is no service of that name (1060) or it cannot be opened.
  [[nodiscard]] virtual std::unique_ptr<Service> OpenServiceEntry(std::string_view serviceName) = 0;
  // Registers a service anew (stopped); null when refused (1073: it exists, 1072: it is still
  // marked for deletion).
  [[nodiscard]] virtual std::unique_ptr<Service> CreateServiceEntry(
      const ServiceDefinition& definition) = 0;
};

}  // namespace lk
