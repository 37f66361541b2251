#include "system/win/WindowsSystemAccess.h"

#include <shlobj.h>

#include <cstring>
#include <vector>

#include "system/win/FsRedirection.h"
#include "system/win/PendingRenames.h"
#include "system/win/RegistryValueData.h"
#include "system/win/WindowsRegistryConnection.h"
#include "win32/Utf.h"

namespace lk {

namespace {

using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);

constexpr wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenamesValue[] = L"PendingFileRenameOperations";

// Looks a kernel32 function up by name: older systems lack the 64-bit helpers, and a static
// import would keep the program from starting there.
template <typename Function>
Function LookUpKernel32(const char* name) {
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) return nullptr;
  // The detour through a plain function pointer is the sanctioned way to change its type.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(kernel32, name)));
}

// Opens the clipboard for one change and closes it again. Another program may hold the
// clipboard for a moment, so the open is tried a few times.
class ClipboardSession {
 public:
  explicit ClipboardSession(HWND owner) {
    for (int attempt = 0; attempt < 10 && !open_; ++attempt) {
      open_ = OpenClipboard(owner) != FALSE;
      if (!open_) Sleep(10);
    }
  }
  ClipboardSession(const ClipboardSession&) = delete;
  ClipboardSession& operator=(const ClipboardSession&) = delete;
  ~ClipboardSession() {
    if (open_) CloseClipboard();
  }
  [[nodiscard]] explicit operator bool() const noexcept { return open_; }

 private:
  bool open_ = false;
};

UniqueGlobalMemory CopyToGlobal(const void* data, std::size_t length) {
  UniqueGlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, length));
  if (!memory) return memory;
  void* target = GlobalLock(memory.Get());
  if (target == nullptr) return UniqueGlobalMemory();
  std::memcpy(target, data, length);
  GlobalUnlock(memory.Get());
  return memory;
}

void EnableShutdownPrivilege() {
  UniqueKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Put())) {
    return;
  }
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid)) {
    return;
  }
  AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr);
}

bool IsBlankOrDot(wchar_t c) { return c <= L' ' || c == L'.'; }

}  // namespace

SC_HANDLE WindowsSystemAccess::ToScHandle(ServiceHandle handle) noexcept {
  return reinterpret_cast<SC_HANDLE>(handle.value);
}

ServiceHandle WindowsSystemAccess::FromScHandle(SC_HANDLE handle) noexcept {
  return ServiceHandle{reinterpret_cast<std::uintptr_t>(handle)};
}

std::unique_ptr<RegistryConnection> WindowsSystemAccess::ConnectRegistry(RegistryView view) {
  return std::make_unique<WindowsRegistryConnection>(view);
}

// Files, directories and the device ----------------------------------------------------------

bool WindowsSystemAccess::FilePresent(std::string_view path) {
  const std::wstring widePath = WideFromUtf8(path);
  const DWORD attributes = GetFileAttributesW(widePath.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
      error == ERROR_INVALID_NAME) {
    return false;
  }
  // A file the system holds locked (a paging file, say) may refuse its attributes but still
  // shows in its directory.
  WIN32_FIND_DATAW found{};
  const UniqueFind search(FindFirstFileW(widePath.c_str(), &found));
  return search && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool WindowsSystemAccess::DeleteFileNow(std::string_view path) {
  return DeleteFileW(WideFromUtf8(path).c_str()) != FALSE;
}

bool WindowsSystemAccess::DeleteFileAtRestart(std::string_view path) {
  return MoveFileExW(WideFromUtf8(path).c_str(), nullptr,
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

bool WindowsSystemAccess::CancelDeleteAtRestart(std::string_view path) {
  UniqueRegistryKey sessionManager;
  if (const LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0,
                                           KEY_QUERY_VALUE | KEY_SET_VALUE, sessionManager.Put());
      status != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(status));
    return false;
  }
  DWORD type = REG_NONE;
  std::vector<BYTE> stored;
  if (const LSTATUS status =
          QueryRegistryValue(sessionManager.Get(), kPendingRenamesValue, type, stored);
      status != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(status));
    return false;
  }
  PendingRenames renames(std::move(stored));
  if (type != REG_MULTI_SZ || !renames.RemoveDeletionsOf(NtPathOf(WideFromUtf8(path)))) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  // The system deletes the value once it has carried the requests out; an empty list is the
  // same state.
  const std::vector<BYTE>& remaining = renames.Data();
  const LSTATUS status =
      renames.IsEmpty()
          ? RegDeleteValueW(sessionManager.Get(), kPendingRenamesValue)
          : RegSetValueExW(sessionManager.Get(), kPendingRenamesValue, 0, REG_MULTI_SZ,
                           remaining.data(), static_cast<DWORD>(remaining.size()));
  if (status != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(status));
    return false;
  }
  return true;
}

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

ServiceHandle WindowsSystemAccess::CreateServiceEntry(ServiceHandle manager,
                                                      const ServiceDefinition& definition) {
  const std::wstring name = WideFromUtf8(definition.name);
  const std::wstring displayName = WideFromUtf8(definition.displayName);
  const std::wstring imagePath = WideFromUtf8(definition.imagePath);
  return FromScHandle(CreateServiceW(
      ToScHandle(manager), name.c_str(), displayName.empty() ? nullptr : displayName.c_str(),
      SERVICE_ALL_ACCESS, definition.type, definition.start, definition.errorControl,
      imagePath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
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

std::optional<RedirectionToken> WindowsSystemAccess::DisableFsRedirection() {
  const std::optional<PVOID> previous = DisableWow64FsRedirection();
  if (!previous) return std::nullopt;
  return RedirectionToken{reinterpret_cast<std::uintptr_t>(*previous)};
}

bool WindowsSystemAccess::RevertFsRedirection(RedirectionToken token) {
  return RevertWow64FsRedirection(reinterpret_cast<PVOID>(token.value));
}

void WindowsSystemAccess::ShutdownWindows(std::string_view mode, bool force) {
  if (!IsNtFamily()) return;
  EnableShutdownPrivilege();
  UINT flags = 0;
  if (mode == "1") {
    flags = EWX_SHUTDOWN;
  } else if (mode == "2") {
    flags = EWX_REBOOT;
  } else if (mode == "3") {
    flags = EWX_LOGOFF;
  } else if (mode == "4") {
    if (force && applicationWindow_ != nullptr) {
      constexpr LPARAM kMonitorOff = 2;
      SendMessageW(applicationWindow_, WM_SYSCOMMAND, SC_MONITORPOWER, kMonitorOff);
    }
    return;
  } else {
    return;
  }
  if (force) flags |= EWX_FORCE;
  ExitWindowsEx(flags, 0);
}

HWND WindowsSystemAccess::ClipboardOwner() {
  if (applicationWindow_ != nullptr) return applicationWindow_;
  // EmptyClipboard makes the opener's window the owner; without a window the data could be
  // refused, so a hidden message-only window stands in.
  if (!clipboardWindow_) {
    clipboardWindow_.Reset(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                           GetModuleHandleW(nullptr), nullptr));
  }
  return clipboardWindow_.Get();
}

void WindowsSystemAccess::SetClipboardText(std::string_view text) {
  // Unicode beside the ANSI text: a path outside the ANSI code page survives a paste.
  const std::wstring wide = WideFromUtf8(text);
  const std::string ansi = AnsiFromWide(wide);
  UniqueGlobalMemory unicodeData = CopyToGlobal(wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
  UniqueGlobalMemory ansiData = CopyToGlobal(ansi.c_str(), ansi.size() + 1);
  if (!unicodeData || !ansiData) return;
  const ClipboardSession clipboard(ClipboardOwner());
  if (!clipboard) return;
  EmptyClipboard();
  // Once set, the data belongs to the clipboard.
  if (SetClipboardData(CF_UNICODETEXT, unicodeData.Get()) != nullptr) {
    static_cast<void>(unicodeData.Release());
  }
  if (SetClipboardData(CF_TEXT, ansiData.Get()) != nullptr) {
    static_cast<void>(ansiData.Release());
  }
}

// Service control manager --------------------------------------------------------------------

ServiceHandle WindowsSystemAccess::OpenServiceManager() {
  return FromScHandle(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

ServiceHandle WindowsSystemAccess::OpenServiceEntry(ServiceHandle manager,
                                                    std::string_view serviceName) {
  const std::wstring name = WideFromUtf8(serviceName);
  return FromScHandle(OpenServiceW(ToScHandle(manager), name.c_str(), SERVICE_ALL_ACCESS));
}

std::optional<ServiceState> WindowsSystemAccess::QueryServiceState(ServiceHandle service) {
  SERVICE_STATUS status{};
  if (!QueryServiceStatus(ToScHandle(service), &status)) return std::nullopt;
  return static_cast<ServiceState>(status.dwCurrentState);
}

std::optional<ServiceState> WindowsSystemAccess::SendServiceStop(ServiceHandle service) {
  SERVICE_STATUS status{};
  if (!ControlService(ToScHandle(service), SERVICE_CONTROL_STOP, &status)) return std::nullopt;
  return static_cast<ServiceState>(status.dwCurrentState);
}

bool WindowsSystemAccess::DeleteServiceEntry(ServiceHandle service) {
  return DeleteService(ToScHandle(service)) != FALSE;
}

void WindowsSystemAccess::CloseServiceObject(ServiceHandle handle) {
  if (!handle) return;
  const DWORD lastError = GetLastError();
  CloseServiceHandle(ToScHandle(handle));
  SetLastError(lastError);
}

std::uint32_t WindowsSystemAccess::LastSystemError() { return GetLastError(); }

std::string WindowsSystemAccess::SystemErrorText(std::uint32_t code) {
  wchar_t buffer[256];
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, buffer, 256, nullptr);
  while (length > 0 && IsBlankOrDot(buffer[length - 1])) --length;
  return Utf8FromWide(std::wstring_view(buffer, length));
}

// Window message loop ------------------------------------------------------------------------

void WindowsSystemAccess::PumpWindowMessages() {
  MSG message{};
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // The loop that owns the program's end must still see it.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (messageFilter_ && messageFilter_(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void WindowsSystemAccess::PauseSeconds(int seconds) {
  const long long slices = 10LL * seconds;
  for (long long slice = 0; slice < slices; ++slice) {
    Sleep(100);
    PumpWindowMessages();
  }
}

}  // namespace lk
