#pragma once
// The system seam over a Windows installation on a disk image: the registry from the offline
// layer over the hive copies of a PrivateHiveFolder, every file question answered from the
// image itself (through TskFileSystem), and nothing ever changed.
//
// It behaves as the offline layer does for a mounted volume (see OfflineSystemAccess), except
// that a file is present only when the image holds it, no file can be deleted (19, its
// ReadOnlyFileStore refuses every change), and nobody
// has administrator rights: the image is read-only, so a removal is never started on it.

#include <memory>

#include "system/ServiceHandleTable.h"
#include "system/SystemAccess.h"
#include "system/image/ReadOnlyFileStore.h"
#include "system/image/TskFileSystem.h"
#include "system/offline/OfflineSystemAccess.h"

namespace lk {

class ImageSystemAccess final : public SystemAccess, public Platform, public ServiceHandleTable {
 public:
  ImageSystemAccess(std::unique_ptr<OfflineSystemAccess> registry, TskFileSystem& files);
  ~ImageSystemAccess() override;

  [[nodiscard]] OfflineSystemAccess& Registry() noexcept { return *registry_; }
  // The image's file store, which refuses every change.
  [[nodiscard]] FileStore& Store() noexcept { return store_; }

  std::unique_ptr<RegistryConnection> ConnectRegistry(RegistryView view) override;
  FileOperations& SystemFiles() override { return store_; }
  Platform& PlatformQueries() override { return *this; }
  std::string QuerySystemDirectory() override;
  std::string QueryProgramDataDirectory() override;
  bool DeviceCanBeOpened(std::string_view devicePath) override;
  bool IsNtFamily() override;
  bool HasAdministratorRights() override;
  bool RunningUnderWow64() override;
  bool Is64BitWindows() override;
  std::unique_ptr<FsRedirectionScope> DisableFsRedirection() override;
  std::unique_ptr<ServiceManager> OpenServiceManager() override;
  std::uint32_t LastSystemError() override;
  std::string SystemErrorText(std::uint32_t code) override;

  // --- ServiceHandleTable: the handles behind the owners OpenServiceManager hands out ---
  ServiceHandle OpenServiceManagerHandle() override;
  ServiceHandle OpenServiceEntry(ServiceHandle manager, std::string_view serviceName) override;
  std::optional<ServiceState> QueryServiceState(ServiceHandle service) override;
  std::optional<ServiceState> SendServiceStop(ServiceHandle service) override;
  bool DeleteServiceEntry(ServiceHandle service) override;
  ServiceHandle CreateServiceEntry(ServiceHandle manager,
                                   const ServiceDefinition& definition) override;
  void CloseServiceObject(ServiceHandle handle) override;

 private:
  // The registry layer's answer, which also decides the last error from now on.
  template <typename Call>
  auto Inner(Call call) {
    ownError_.reset();
    return call(*registry_);
  }
  bool Own(std::uint32_t error) {
    ownError_ = error;
    return error == 0;
  }

  std::unique_ptr<OfflineSystemAccess> registry_;
  TskFileSystem& files_;
  ReadOnlyFileStore store_;
  std::optional<std::uint32_t> ownError_;
};

}  // namespace lk
