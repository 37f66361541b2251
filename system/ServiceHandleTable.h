#pragma once
// For implementations of the seam that keep their own table of numbered service handles (the
// scripted model, the offline layer): the handle operations they provide, and the owners over
// them that the seam hands out (ServiceManager.h).
//
// The numbers never leave the implementation: OpenOwnedServiceManager wraps the manager handle in
// an owner, each service it opens or creates is an owner too, and each owner closes its handle
// once. A table must outlive the owners made over it. Failures are the table's: it sets its last
// error, and the owners add nothing.

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "system/ServiceManager.h"

namespace lk {

// A handle to the service manager or to one service; the default value is "none".
struct ServiceHandle {
  std::uintptr_t value = 0;
  [[nodiscard]] explicit operator bool() const noexcept { return value != 0; }
  friend bool operator==(ServiceHandle, ServiceHandle) = default;
};

class ServiceHandleTable {
 public:
  ServiceHandleTable() = default;
  ServiceHandleTable(const ServiceHandleTable&) = delete;
  ServiceHandleTable& operator=(const ServiceHandleTable&) = delete;
  virtual ~ServiceHandleTable() = default;

  [[nodiscard]] virtual ServiceHandle OpenServiceManagerHandle() = 0;
  [[nodiscard]] virtual ServiceHandle OpenServiceEntry(ServiceHandle manager,
                                                       std::string_view serviceName) = 0;
  [[nodiscard]] virtual std::optional<ServiceState> QueryServiceState(ServiceHandle service) = 0;
  [[nodiscard]] virtual std::optional<ServiceState> SendServiceStop(ServiceHandle service) = 0;
  [[nodiscard]] virtual bool DeleteServiceEntry(ServiceHandle service) = 0;
  [[nodiscard]] virtual ServiceHandle CreateServiceEntry(ServiceHandle manager,
                                                         const ServiceDefinition& definition) = 0;
  // Closes a handle; keeps the last error as it was unless the handle is not open.
  virtual void CloseServiceObject(ServiceHandle handle) = 0;
};

// The manager handle of table in an owner; null when the table refuses it.
[[nodiscard]] std::unique_ptr<ServiceManager> OpenOwnedServiceManager(ServiceHandleTable& table);

}  // namespace lk
