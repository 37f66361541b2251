#pragma once
// SystemAccess on Windows: the registry, files, the device, the service manager, the 64-bit
// redirection, shutdown, the clipboard and the message loop through the Win32 calls.
//
// Texts are UTF-8 at the interface and UTF-16 towards Windows: every call is the Unicode ("W")
// form, so a file whose name lies outside the ANSI code page is found, opened and deleted like
// any other. IsWow64Process and the two redirection functions are looked up in kernel32.dll at
// run time, since older systems lack them; where they are missing the operations answer false.
//
// Every operation reports failure through its result (LastSystemError tells the code); only the
// registry string reads and writes raise lk::SystemError. Service handles cross the interface
// as raw values: the caller closes each once (ScopedServiceObject does that).
//
// The front end sets the application window (the target of the monitor-off command and the
// clipboard owner) and may install a message filter for the pump, e.g. to route keyboard
// messages of a modeless dialog through IsDialogMessageW. All calls belong on the window's
// thread.

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "system/SystemAccess.h"
#include "system/win/UniqueHandle.h"

namespace lk {

class WindowsSystemAccess final : public SystemAccess {
 public:
  // Returns true when it handled the message itself; the pump then neither translates nor
  // dispatches it. Never sees WM_QUIT.
  using MessageFilter = std::function<bool(MSG&)>;

  WindowsSystemAccess() = default;
  ~WindowsSystemAccess() override = default;

  // The application's main window: SendMessageW target of ShutdownWindows("4", true) and the
  // owner of the clipboard data. Without one, the monitor-off command does nothing and the
  // clipboard gets a hidden message-only window of our own as owner.
  void SetApplicationWindow(HWND window) noexcept { applicationWindow_ = window; }
  [[nodiscard]] HWND ApplicationWindow() const noexcept { return applicationWindow_; }
  void SetMessageFilter(MessageFilter filter) { messageFilter_ = std::move(filter); }

  [[nodiscard]] std::unique_ptr<RegistryConnection> ConnectRegistry(RegistryView view) override;

  [[nodiscard]] bool FilePresent(std::string_view path) override;
  [[nodiscard]] bool DeleteFileNow(std::string_view path) override;
  [[nodiscard]] bool DeleteFileAtRestart(std::string_view path) override;
  [[nodiscard]] bool CancelDeleteAtRestart(std::string_view path) override;
  [[nodiscard]] std::string QuerySystemDirectory() override;
  [[nodiscard]] std::string QueryProgramDataDirectory() override;
  [[nodiscard]] bool DeviceCanBeOpened(std::string_view devicePath) override;

  [[nodiscard]] bool IsNtFamily() override;
  [[nodiscard]] bool HasAdministratorRights() override;
  [[nodiscard]] bool RunningUnderWow64() override;
  [[nodiscard]] bool Is64BitWindows() override;
  [[nodiscard]] std::optional<RedirectionToken> DisableFsRedirection() override;
  bool RevertFsRedirection(RedirectionToken token) override;
  void ShutdownWindows(std::string_view mode, bool force) override;
  void SetClipboardText(std::string_view text) override;

  [[nodiscard]] ServiceHandle OpenServiceManager() override;
  [[nodiscard]] ServiceHandle OpenServiceEntry(ServiceHandle manager,
                                               std::string_view serviceName) override;
  [[nodiscard]] std::optional<ServiceState> QueryServiceState(ServiceHandle service) override;
  [[nodiscard]] std::optional<ServiceState> SendServiceStop(ServiceHandle service) override;
  [[nodiscard]] bool DeleteServiceEntry(ServiceHandle service) override;
  [[nodiscard]] ServiceHandle CreateServiceEntry(ServiceHandle manager,
                                                 const ServiceDefinition& definition) override;
  void CloseServiceObject(ServiceHandle handle) override;
  [[nodiscard]] std::uint32_t LastSystemError() override;
  [[nodiscard]] std::string SystemErrorText(std::uint32_t code) override;

  void PumpWindowMessages() override;
  void PauseSeconds(int seconds) override;

  // The raw handle behind a ServiceHandle, for calls the interface does not offer.
  [[nodiscard]] static SC_HANDLE ToScHandle(ServiceHandle handle) noexcept;
  [[nodiscard]] static ServiceHandle FromScHandle(SC_HANDLE handle) noexcept;

 private:
  // The window that owns what we put on the clipboard.
  HWND ClipboardOwner();

  HWND applicationWindow_ = nullptr;
  UniqueWindow clipboardWindow_;
  MessageFilter messageFilter_;
};

}  // namespace lk
