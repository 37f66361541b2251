#include "system/win/WindowsDesktop.h"

#include <cstring>

#include "win32/Utf.h"

namespace lk {

namespace {

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

// Only the NT family knows the shutdown privilege and the forced ends of a session.
bool IsNtFamily() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  return GetVersionExW(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

}  // namespace

void WindowsDesktop::ShutdownWindows(ShutdownMode mode, bool force) {
  if (!IsNtFamily()) return;
  EnableShutdownPrivilege();
  UINT flags = 0;
  switch (mode) {
    case ShutdownMode::ShutDown:
      flags = EWX_SHUTDOWN;
      break;
    case ShutdownMode::Restart:
      flags = EWX_REBOOT;
      break;
    case ShutdownMode::LogOff:
      flags = EWX_LOGOFF;
      break;
    case ShutdownMode::MonitorOff:
      if (force && applicationWindow_ != nullptr) {
        constexpr LPARAM kMonitorOff = 2;
        SendMessageW(applicationWindow_, WM_SYSCOMMAND, SC_MONITORPOWER, kMonitorOff);
      }
      return;
    default:
      return;
  }
  if (force) flags |= EWX_FORCE;
  ExitWindowsEx(flags, 0);
}

HWND WindowsDesktop::ClipboardOwner() {
  if (applicationWindow_ != nullptr) return applicationWindow_;
  // EmptyClipboard makes the opener's window the owner; without a window the data could be
  // refused, so a hidden message-only window stands in.
  if (!clipboardWindow_) {
    clipboardWindow_.Reset(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                           GetModuleHandleW(nullptr), nullptr));
  }
  return clipboardWindow_.Get();
}

void WindowsDesktop::SetClipboardText(std::string_view text) {
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

void WindowsDesktop::PumpWindowMessages() {
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

void WindowsDesktop::PauseSeconds(int seconds) {
  const long long slices = 10LL * seconds;
  for (long long slice = 0; slice < slices; ++slice) {
    Sleep(100);
    PumpWindowMessages();
  }
}

}  // namespace lk
