#pragma once
// SystemAccess on Windows: the registry, files (its WindowsFileStore), the device, the service
// manager and the 64-bit redirection through the Win32 calls (the desktop is WindowsDesktop).
//
// Texts are UTF-8 at the interface and UTF-16 towards Windows: every call is the Unicode ("W")
// form, so a file whose name lies outside the ANSI code page is found, opened and deleted like
// any other. IsWow64Process and the two redirection functions are looked up in kernel32.dll at
// run time, since older systems lack them; where they are missing the operations answer false.
//
// Every operation reports failure through its result (LastSystemError tells the code); only the
// registry string reads and writes raise lk::SystemError. The service manager and each service
// are owners of their SC_HANDLE; closing one keeps the last error.

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "system/SystemAccess.h"
#include "system/win/UniqueHandle.h"
#include "system/win/WindowsFileStore.h"

namespace lk {

class WindowsSystemAccess final : public SystemAccess, public Platform {
 public:
  WindowsSystemAccess() = default;
  ~WindowsSystemAccess() override = default;

  [[nodiscard]] std::unique_ptr<RegistryConnection> ConnectRegistry(RegistryView view) override;

  // Its file store: the files are the Win32 calls'.
  [[nodiscard]] FileOperations& SystemFiles() override { return files_; }
  // Its platform queries: the Win32 calls' answers.
  [[nodiscard]] Platform& PlatformQueries() override { return *this; }

  // --- Platform -------------------------------------------------------------------------
  [[nodiscard]] std::string QuerySystemDirectory() override;
  [[nodiscard]] std::string QueryProgramDataDirectory() override;
  [[nodiscard]] bool DeviceCanBeOpened(std::string_view devicePath) override;

  [[nodiscard]] bool IsNtFamily() override;
  [[nodiscard]] bool HasAdministratorRights() override;
  [[nodiscard]] bool RunningUnderWow64() override;
  [[nodiscard]] bool Is64BitWindows() override;
  [[nodiscard]] std::unique_ptr<FsRedirectionScope> DisableFsRedirection() override;

  [[nodiscard]] std::unique_ptr<ServiceManager> OpenServiceManager() override;
  [[nodiscard]] std::uint32_t LastSystemError() override;
  [[nodiscard]] std::string SystemErrorText(std::uint32_t code) override;

 private:
  WindowsFileStore files_;
};

}  // namespace lk
