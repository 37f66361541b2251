#pragma once
// Display scaling: the layout is designed in pixels at 96 dots per inch and scaled to the
// window's monitor. The per-monitor calls are looked up at run time (Windows 10 1607 and later);
// older systems and Wine fall back to the system-wide value.

#include <windows.h>

namespace lk::ui {

inline constexpr int kDesignDpi = 96;

[[nodiscard]] UINT DpiForWindow(HWND window) noexcept;
[[nodiscard]] UINT DpiForSystem() noexcept;

// A designed distance at the given DPI, rounded to the nearest pixel.
[[nodiscard]] inline int Scale(int designPixels, UINT dpi) noexcept {
  return MulDiv(designPixels, static_cast<int>(dpi), kDesignDpi);
}

// The outer size for the wanted client size, at the given DPI.
[[nodiscard]] SIZE WindowSizeForClient(int clientWidth, int clientHeight, DWORD style,
                                       DWORD exStyle, UINT dpi) noexcept;

}  // namespace lk::ui
