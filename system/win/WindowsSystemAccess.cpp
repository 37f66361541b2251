#include "system/win/WindowsSystemAccess.h"

#include <shlobj.h>

#include <cstring>
#include <vector>

#include "system/win/FsRedirection.h"
#include "system/win/RegistryValueData.h"
#include "system/win/SystemMessage.h"
#include "system/win/WindowsRegistryConnection.h"
#include "win32/Utf.h"

namespace lk {

namespace {

using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);

// Looks a kernel32 function up by name: older systems lack the 64-bit helpers, and a static
// import would keep the program from starting there.
template <typename Function>
Function LookUpKernel32(const char* name) {
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) return nullptr;
  // The detour through a plain function pointer is the sanctioned way to change its type.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(kernel32, name)));
}

// A service-manager or service handle whose closing keeps the last error: the caller reads the
// error of the call that failed after the owners on the way there have ended.
struct ServiceObjectTraits {
  using Type = SC_HANDLE;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept {
    const DWORD lastError = GetLastError();
    CloseServiceHandle(value);
    SetLastError(lastError);
  }
};
using ServiceObject = UniqueHandle<ServiceObjectTraits>;

class WindowsService final : public Service {
 public:
  explicit WindowsService(ServiceObject handle) : handle_(std::move(handle)) {}

  std::optional<ServiceState> QueryState() override {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(handle_.Get(), &status)) return std::nullopt;
    return static_cast<ServiceState>(status.dwCurrentState);
  }
  std::optional<ServiceState> SendStop() override {
    SERVICE_STATUS status{};
    if (!ControlService(handle_.Get(), SERVICE_CONTROL_STOP, &status)) return std::nullopt;
    return static_cast<ServiceState>(status.dwCurrentState);
  }
  bool Delete() override { return DeleteService(handle_.Get()) != FALSE; }

 private:
  ServiceObject handle_;
};

std::unique_ptr<Service> Owned(SC_HANDLE handle) {
  ServiceObject service(handle);
  if (!service) return nullptr;
  return std::make_unique<WindowsService>(std::move(service));
}

class WindowsServiceManager final : public ServiceManager {
 public:
  explicit WindowsServiceManager(ServiceObject handle) : handle_(std::move(handle)) {}

  std::unique_ptr<Service> OpenServiceEntry(std::string_view serviceName) override {
    const std::wstring name = WideFromUtf8(serviceName);
    return Owned(OpenServiceW(handle_.Get(), name.c_str(), SERVICE_ALL_ACCESS));
  }
  std::unique_ptr<Service> CreateServiceEntry(const ServiceDefinition& definition) override {
    const std::wstring name = WideFromUtf8(definition.name);
    const std::wstring displayName = WideFromUtf8(definition.displayName);
    const std::wstring imagePath = WideFromUtf8(definition.imagePath);
    return Owned(CreateServiceW(
        handle_.Get(), name.c_str(), displayName.empty() ? nullptr : displayName.c_str(),
        SERVICE_ALL_ACCESS, definition.type, definition.start, definition.errorControl,
        imagePath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  }

 private:
  ServiceObject handle_;
};

class WindowsFsRedirectionScope final : public FsRedirectionScope {
 public:
  explicit WindowsFsRedirectionScope(UniqueFsRedirection previous)
      : previous_(std::move(previous)) {}

 private:
  UniqueFsRedirection previous_;
};

}  // namespace

std::unique_ptr<RegistryConnection> WindowsSystemAccess::ConnectRegistry(RegistryView view) {
  return std::make_unique<WindowsRegistryConnection>(view);
}

// Files, directories and the device ----------------------------------------------------------

std::string WindowsSystemAccess::QueryProgramDataDirectory() {
  wchar_t buffer[MAX_PATH + 1] = {};
  // The folder as the shell has it now: an administrator may have moved it.
  if (FAILED(
          SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer))) {
    return {};
  }
  std::wstring_view folder(buffer);
  while (folder.size() > 3 && folder.back() == L'\\') folder.remove_suffix(1);
  return Utf8FromWide(folder);
}

bool WindowsSystemAccess::HasAdministratorRights() {
  BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
  DWORD size = sizeof(administrators);
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)) {
    return false;
  }
  // Asks the thread's effective token. Under UAC an administrator's unelevated token holds the
  // Administrators group for denying only, and CheckTokenMembership does not count it.
  BOOL member = FALSE;
  return CheckTokenMembership(nullptr, administrators, &member) && member;
}

std::string WindowsSystemAccess::QuerySystemDirectory() {
  const UINT needed = GetSystemDirectoryW(nullptr, 0);
  if (needed == 0) return {};
  std::vector<wchar_t> buffer(needed + 1, L'\0');
  if (GetSystemDirectoryW(buffer.data(), needed + 1) == 0) return {};
  return Utf8FromWide(buffer.data());
}

bool WindowsSystemAccess::DeviceCanBeOpened(std::string_view devicePath) {
  const UniqueFile device(
      CreateFileW(WideFromUtf8(devicePath).c_str(), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  return static_cast<bool>(device);
}

// Platform ------------------------------------------------------------------------------------

bool WindowsSystemAccess::IsNtFamily() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  return GetVersionExW(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

bool WindowsSystemAccess::Is64BitWindows() {
  // A 64-bit process runs only on 64-bit Windows; a 32-bit one there runs under WOW64.
  return sizeof(void*) == 8 || RunningUnderWow64();
}

bool WindowsSystemAccess::RunningUnderWow64() {
  const auto isWow64Process = LookUpKernel32<IsWow64ProcessFunction>("IsWow64Process");
  if (isWow64Process == nullptr) return false;
  BOOL wow64 = FALSE;
  return isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

std::unique_ptr<FsRedirectionScope> WindowsSystemAccess::DisableFsRedirection() {
  UniqueFsRedirection previous = DisableFsRedirectionForScope();
  if (!previous) return nullptr;
  return std::make_unique<WindowsFsRedirectionScope>(std::move(previous));
}

// Service control manager --------------------------------------------------------------------

std::unique_ptr<ServiceManager> WindowsSystemAccess::OpenServiceManager() {
  ServiceObject manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return nullptr;
  return std::make_unique<WindowsServiceManager>(std::move(manager));
}

std::uint32_t WindowsSystemAccess::LastSystemError() { return GetLastError(); }

std::string WindowsSystemAccess::SystemErrorText(std::uint32_t code) { return SystemMessage(code); }

}  // namespace lk
