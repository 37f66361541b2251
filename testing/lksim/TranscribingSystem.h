#pragma once
// A SystemAccess that hands every call to the scripted system and tells the transcript about
// the two effects that leave the machine: the clipboard text and a shutdown request.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "system/SystemAccess.h"

namespace lk::lksim {

class TranscribingSystem final : public SystemAccess {
 public:
  struct Listener {
    std::function<void(std::string_view text)> clipboard;
    std::function<void(std::string_view mode, bool force)> shutdown;
  };

  TranscribingSystem(SystemAccess& inner, Listener listener)
      : inner_(inner), listener_(std::move(listener)) {}

  std::unique_ptr<RegistryConnection> ConnectRegistry(RegistryView view) override {
    return inner_.ConnectRegistry(view);
  }
  bool FilePresent(std::string_view path) override { return inner_.FilePresent(path); }
  bool DeleteFileNow(std::string_view path) override { return inner_.DeleteFileNow(path); }
  bool DeleteFileAtRestart(std::string_view path) override {
    return inner_.DeleteFileAtRestart(path);
  }
  bool CancelDeleteAtRestart(std::string_view path) override {
    return inner_.CancelDeleteAtRestart(path);
  }
  std::string QuerySystemDirectory() override { return inner_.QuerySystemDirectory(); }
  std::string QueryProgramDataDirectory() override { return inner_.QueryProgramDataDirectory(); }
  bool DeviceCanBeOpened(std::string_view devicePath) override {
    return inner_.DeviceCanBeOpened(devicePath);
  }
  bool IsNtFamily() override { return inner_.IsNtFamily(); }
  bool HasAdministratorRights() override { return inner_.HasAdministratorRights(); }
  bool RunningUnderWow64() override { return inner_.RunningUnderWow64(); }
  bool Is64BitWindows() override { return inner_.Is64BitWindows(); }
  std::optional<RedirectionToken> DisableFsRedirection() override {
    return inner_.DisableFsRedirection();
  }
  bool RevertFsRedirection(RedirectionToken token) override {
    return inner_.RevertFsRedirection(token);
  }
  void ShutdownWindows(std::string_view mode, bool force) override {
    if (listener_.shutdown) listener_.shutdown(mode, force);
    inner_.ShutdownWindows(mode, force);
  }
  void SetClipboardText(std::string_view text) override {
    if (listener_.clipboard) listener_.clipboard(text);
    inner_.SetClipboardText(text);
  }
  ServiceHandle OpenServiceManager() override { return inner_.OpenServiceManager(); }
  ServiceHandle OpenServiceEntry(ServiceHandle manager, std::string_view serviceName) override {
    return inner_.OpenServiceEntry(manager, serviceName);
  }
  std::optional<ServiceState> QueryServiceState(ServiceHandle service) override {
    return inner_.QueryServiceState(service);
  }
  std::optional<ServiceState> SendServiceStop(ServiceHandle service) override {
    return inner_.SendServiceStop(service);
  }
  bool DeleteServiceEntry(ServiceHandle service) override {
    return inner_.DeleteServiceEntry(service);
  }
  ServiceHandle CreateServiceEntry(ServiceHandle manager,
                                   const ServiceDefinition& definition) override {
    return inner_.CreateServiceEntry(manager, definition);
  }
  void CloseServiceObject(ServiceHandle handle) override { inner_.CloseServiceObject(handle); }
  std::uint32_t LastSystemError() override { return inner_.LastSystemError(); }
  std::string SystemErrorText(std::uint32_t code) override { return inner_.SystemErrorText(code); }
  void PumpWindowMessages() override { inner_.PumpWindowMessages(); }
  void PauseSeconds(int seconds) override { inner_.PauseSeconds(seconds); }

 private:
  SystemAccess& inner_;
  Listener listener_;
};

}  // namespace lk::lksim
