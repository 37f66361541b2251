#include "ui/controls/Dpi.h"

#include "ui/controls/Gdi.h"

namespace lk::ui {
namespace {

template <typename Function>
Function LookUp(const char* name) noexcept {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (user32 == nullptr) return nullptr;
  // The documented way to reach a function that older systems lack.
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

}  // namespace

UINT DpiForWindow(HWND window) noexcept {
  using Fn = UINT(WINAPI*)(HWND);
  static const Fn getDpiForWindow = LookUp<Fn>("GetDpiForWindow");
  if (getDpiForWindow != nullptr && window != nullptr) {
    const UINT dpi = getDpiForWindow(window);
    if (dpi != 0) return dpi;
  }
  return DpiForSystem();
}

UINT DpiForSystem() noexcept {
  const WindowDc screen(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : kDesignDpi;
  return dpi > 0 ? static_cast<UINT>(dpi) : static_cast<UINT>(kDesignDpi);
}

SIZE WindowSizeForClient(int clientWidth, int clientHeight, DWORD style, DWORD exStyle,
                         UINT dpi) noexcept {
  using Fn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const Fn adjustForDpi = LookUp<Fn>("AdjustWindowRectExForDpi");
  RECT rect{0, 0, clientWidth, clientHeight};
  if (adjustForDpi == nullptr || !adjustForDpi(&rect, style, FALSE, exStyle, dpi)) {
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  }
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

}  // namespace lk::ui
