#include "system/ServiceHandleTable.h"

namespace lk {

namespace {

// Closes its handle once, when it ends.
class OwnedHandle {
 public:
  OwnedHandle(ServiceHandleTable& table, ServiceHandle handle) noexcept
      : table_(table), handle_(handle) {}
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() { table_.CloseServiceObject(handle_); }

  [[nodiscard]] ServiceHandleTable& Table() const noexcept { return table_; }
  [[nodiscard]] ServiceHandle Get() const noexcept { return handle_; }

 private:
  ServiceHandleTable& table_;
  ServiceHandle handle_;
};

class TableService final : public Service {
 public:
  TableService(ServiceHandleTable& table, ServiceHandle handle) : handle_(table, handle) {}

  std::optional<ServiceState> QueryState() override {
    return handle_.Table().QueryServiceState(handle_.Get());
  }
  std::optional<ServiceState> SendStop() override {
    return handle_.Table().SendServiceStop(handle_.Get());
  }
  bool Delete() override { return handle_.Table().DeleteServiceEntry(handle_.Get()); }

 private:
  OwnedHandle handle_;
};

std::unique_ptr<Service> Owned(ServiceHandleTable& table, ServiceHandle handle) {
  if (!handle) return nullptr;
  return std::make_unique<TableService>(table, handle);
}

class TableServiceManager final : public ServiceManager {
 public:
  TableServiceManager(ServiceHandleTable& table, ServiceHandle handle) : handle_(table, handle) {}

  std::unique_ptr<Service> OpenServiceEntry(std::string_view serviceName) override {
    return Owned(handle_.Table(), handle_.Table().OpenServiceEntry(handle_.Get(), serviceName));
  }
  std::unique_ptr<Service> CreateServiceEntry(const ServiceDefinition& definition) override {
    return Owned(handle_.Table(), handle_.Table().CreateServiceEntry(handle_.Get(), definition));
  }

 private:
  OwnedHandle handle_;
};

}  // namespace

std::unique_ptr<ServiceManager> OpenOwnedServiceManager(ServiceHandleTable& table) {
  const ServiceHandle manager = table.OpenServiceManagerHandle();
  if (!manager) return nullptr;
  return std::make_unique<TableServiceManager>(table, manager);
}

}  // namespace lk
