#include "tests/ui/GuiDriver.h"

#include <commctrl.h>

#include <thread>
#include <vector>

#include "ui/controls/Gdi.h"
#include "ui/controls/GdiPlus.h"

namespace lk::ui::testing {

ProgramProcess::ProgramProcess(const std::wstring& exePath) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  std::wstring commandLine = L"\"" + exePath + L"\"";
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &info)) {
    return;
  }
  process_.Reset(info.hProcess);
  thread_.Reset(info.hThread);
  processId_ = info.dwProcessId;
  threadId_ = info.dwThreadId;
}

ProgramProcess::~ProgramProcess() {
  if (!process_ || HasExited()) return;
  EnumThreadWindows(threadId_, &ProgramProcess::PostClose, 0);
  if (WaitForSingleObject(process_.Get(), 5000) != WAIT_OBJECT_0) {
    TerminateProcess(process_.Get(), 99);
    WaitForSingleObject(process_.Get(), 5000);
  }
}

BOOL CALLBACK ProgramProcess::PostClose(HWND window, LPARAM) {
  PostMessageW(window, WM_CLOSE, 0, 0);
  return TRUE;
}

void ProgramProcess::WaitForIdle() const { WaitForInputIdle(process_.Get(), 15000); }

bool ProgramProcess::HasExited() const {
  return WaitForSingleObject(process_.Get(), 0) == WAIT_OBJECT_0;
}

bool ProgramProcess::WaitForExit(std::chrono::milliseconds timeout, DWORD* exitCode) {
  if (WaitForSingleObject(process_.Get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    return false;
  }
  if (exitCode != nullptr) GetExitCodeProcess(process_.Get(), exitCode);
  return true;
}

bool WaitUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (predicate()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    // Keep our own queue moving: the program posts its answers to our window.
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
}

HWND FindTopLevel(const wchar_t* className, DWORD processId, bool visibleOnly) {
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, className, nullptr)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == processId && (!visibleOnly || IsWindowVisible(window))) return window;
  }
  return nullptr;
}

HWND WaitForTopLevel(const wchar_t* className, DWORD processId, std::chrono::milliseconds timeout) {
  HWND found = nullptr;
  WaitUntil([&] { return (found = FindTopLevel(className, processId)) != nullptr; }, timeout);
  return found;
}

HWND Control(HWND parent, int id) { return GetDlgItem(parent, id); }

Place PlaceOf(HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return Place{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

SIZE ClientSize(HWND window) {
  RECT rect{};
  GetClientRect(window, &rect);
  return SIZE{rect.right, rect.bottom};
}

bool IsShown(HWND window) { return (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0; }

std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 15000, &length);
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_NORMAL, 15000, &copied);
  text.resize(copied);
  return text;
}

int ListCount(HWND listView) {
  DWORD_PTR count = 0;
  SendMessageTimeoutW(listView, LVM_GETITEMCOUNT, 0, 0, SMTO_NORMAL, 15000, &count);
  return static_cast<int>(count);
}

namespace {

// An item query carried out in the list's own process: the LVITEMW and its text buffer live in
// memory of that process.
bool QueryItem(HWND listView, int index, UINT mask, std::wstring* text, int* image) {
  DWORD processId = 0;
  GetWindowThreadProcessId(listView, &processId);
  const UniqueKernelHandle owner(
      OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId));
  if (!owner) return false;
  const HANDLE process = owner.Get();
  constexpr SIZE_T kChars = 1024;
  const SIZE_T size = sizeof(LVITEMW) + kChars * sizeof(wchar_t);
  auto* remote = static_cast<unsigned char*>(
      VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  bool ok = false;
  if (remote != nullptr) {
    LVITEMW item{};
    item.mask = mask;
    item.iItem = index;
    item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
    item.cchTextMax = static_cast<int>(kChars);
    DWORD_PTR result = 0;
    if (WriteProcessMemory(process, remote, &item, sizeof item, nullptr) &&
        SendMessageTimeoutW(listView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote),
                            SMTO_NORMAL, 15000, &result) != 0) {
      std::vector<wchar_t> buffer(kChars + 1, L'\0');
      LVITEMW answer{};
      if (ReadProcessMemory(process, remote, &answer, sizeof answer, nullptr) &&
          ReadProcessMemory(process, remote + sizeof(LVITEMW), buffer.data(),
                            kChars * sizeof(wchar_t), nullptr)) {
        if (text != nullptr) *text = buffer.data();
        if (image != nullptr) *image = answer.iImage;
        ok = true;
      }
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  }
  return ok;
}

}  // namespace

std::wstring ListItemText(HWND listView, int index) {
  std::wstring text;
  QueryItem(listView, index, LVIF_TEXT, &text, nullptr);
  return text;
}

int ListItemImage(HWND listView, int index) {
  int image = -1;
  QueryItem(listView, index, LVIF_IMAGE, nullptr, &image);
  return image;
}

void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

void PostAltKey(HWND window, wchar_t letter) {
  const UINT scan = MapVirtualKeyW(static_cast<UINT>(towupper(letter)), MAPVK_VK_TO_VSC);
  const LPARAM keyData = static_cast<LPARAM>(1 | (scan << 16) | (1u << 29));
  PostMessageW(window, WM_SYSKEYDOWN, static_cast<WPARAM>(towupper(letter)), keyData);
  PostMessageW(window, WM_SYSCHAR, static_cast<WPARAM>(letter), keyData);
}

namespace {

bool PngEncoder(CLSID& clsid) {
  UINT count = 0;
  UINT size = 0;
  Gdiplus::GetImageEncodersSize(&count, &size);
  if (size == 0) return false;
  std::vector<unsigned char> buffer(size);
  auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  Gdiplus::GetImageEncoders(count, size, encoders);
  for (UINT i = 0; i < count; ++i) {
    if (std::wstring(encoders[i].MimeType) == L"image/png") {
      clsid = encoders[i].Clsid;
      return true;
    }
  }
  return false;
}

}  // namespace

bool Screenshot(HWND window, const std::wstring& pngPath) {
  static ULONG_PTR token = 0;
  if (token == 0) {
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
  }
  RECT rect{};
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return false;
  const WindowDc screen(nullptr);
  const UniqueMemoryDc memory(CreateCompatibleDC(screen.Get()));
  const UniqueBitmap bitmap(CreateCompatibleBitmap(screen.Get(), width, height));
  if (!screen || !memory || !bitmap) return false;
  {
    // The bitmap must leave the DC before GDI+ reads it.
    const ScopedSelect select(memory.Get(), bitmap.Get());
    BitBlt(memory.Get(), 0, 0, width, height, screen.Get(), rect.left, rect.top, SRCCOPY);
  }
  Gdiplus::Bitmap image(bitmap.Get(), nullptr);
  CLSID png{};
  return PngEncoder(png) && image.Save(pngPath.c_str(), &png, nullptr) == Gdiplus::Ok;
}

std::wstring WindowsPath(const std::string& path) {
  std::wstring result;
  if (!path.empty() && path.front() == '/') result = L"Z:";
  for (char c : path)
    result += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
  return result;
}

}  // namespace lk::ui::testing
