#include "system/image/ImageSystemAccess.h"

namespace lk {

ImageSystemAccess::ImageSystemAccess(std::unique_ptr<OfflineSystemAccess> registry,
                                     TskFileSystem& files)
    : registry_(std::move(registry)), files_(files), store_(files) {}

ImageSystemAccess::~ImageSystemAccess() = default;

std::unique_ptr<RegistryConnection> ImageSystemAccess::ConnectRegistry(RegistryView view) {
  return Inner([&](OfflineSystemAccess& r) { return r.ConnectRegistry(view); });
}

std::string ImageSystemAccess::QuerySystemDirectory() {
  ownError_.reset();
  return files_.SpelledPath("C:\\Windows\\System32").value_or("C:\\Windows\\System32");
}

std::string ImageSystemAccess::QueryProgramDataDirectory() {
  ownError_.reset();
  return files_.SpelledPath("C:\\ProgramData").value_or("C:\\ProgramData");
}

bool ImageSystemAccess::DeviceCanBeOpened(std::string_view devicePath) {
  return Inner([&](OfflineSystemAccess& r) { return r.DeviceCanBeOpened(devicePath); });
}

bool ImageSystemAccess::IsNtFamily() { return true; }

bool ImageSystemAccess::HasAdministratorRights() { return false; }

bool ImageSystemAccess::RunningUnderWow64() { return false; }

bool ImageSystemAccess::Is64BitWindows() {
  std::uint32_t ignored = 0;
  return static_cast<bool>(files_.OpenDirectory("C:\\Windows\\SysWOW64", &ignored)) ||
         registry_->Is64BitWindows();
}

std::unique_ptr<FsRedirectionScope> ImageSystemAccess::DisableFsRedirection() {
  return Inner([&](OfflineSystemAccess& r) { return r.DisableFsRedirection(); });
}

std::unique_ptr<ServiceManager> ImageSystemAccess::OpenServiceManager() {
  return OpenOwnedServiceManager(*this);
}

ServiceHandle ImageSystemAccess::OpenServiceManagerHandle() {
  return Inner([&](OfflineSystemAccess& r) { return r.OpenServiceManagerHandle(); });
}

ServiceHandle ImageSystemAccess::OpenServiceEntry(ServiceHandle manager,
                                                  std::string_view serviceName) {
  return Inner([&](OfflineSystemAccess& r) { return r.OpenServiceEntry(manager, serviceName); });
}

std::optional<ServiceState> ImageSystemAccess::QueryServiceState(ServiceHandle service) {
  return Inner([&](OfflineSystemAccess& r) { return r.QueryServiceState(service); });
}

std::optional<ServiceState> ImageSystemAccess::SendServiceStop(ServiceHandle service) {
  return Inner([&](OfflineSystemAccess& r) { return r.SendServiceStop(service); });
}

bool ImageSystemAccess::DeleteServiceEntry(ServiceHandle) { return Own(win_error::kAccessDenied); }

ServiceHandle ImageSystemAccess::CreateServiceEntry(ServiceHandle manager,
                                                    const ServiceDefinition& definition) {
  return Inner([&](OfflineSystemAccess& r) { return r.CreateServiceEntry(manager, definition); });
}

void ImageSystemAccess::CloseServiceObject(ServiceHandle handle) {
  Inner([&](OfflineSystemAccess& r) { r.CloseServiceObject(handle); });
}

std::uint32_t ImageSystemAccess::LastSystemError() {
  return ownError_ ? *ownError_ : registry_->LastSystemError();
}

std::string ImageSystemAccess::SystemErrorText(std::uint32_t code) {
  return registry_->SystemErrorText(code);
}

}  // namespace lk
