#pragma once
// The base of every window class of the toolkit: binds the C++ object to its HWND when the
// window is created (WM_NCCREATE) and routes the window procedure to HandleMessage.
//
// Guarantees: no exception leaves the window procedure. One that escapes a handler is caught at
// the boundary and shown by the general error display (a modal error message box with its text,
// titled with the top-level window's caption), and the message gets its default answer; the
// object forgets its HWND at WM_NCDESTROY, and a live object destroys its window in its
// destructor. Owner-drawn glow buttons get their WM_DRAWITEM
// from here, whichever window is their parent.

#include <windows.h>

namespace lk::ui {

class Window {
 public:
  Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  virtual ~Window();

  [[nodiscard]] HWND Hwnd() const noexcept { return hwnd_; }

  void Show(bool visible) const noexcept;
  [[nodiscard]] bool IsShown() const noexcept;
  // Places the window; coordinates in device pixels of the parent's client area.
  void Place(int x, int y, int width, int height) const noexcept;

 protected:
  // Registers the class once per process (later calls do nothing).
  static void RegisterWindowClass(const wchar_t* className, UINT classStyle, HCURSOR cursor,
                                  HICON icon = nullptr, HICON smallIcon = nullptr);
  // Creates the window of a registered class, bound to this object. False when it failed.
  bool CreateBound(DWORD exStyle, const wchar_t* className, const wchar_t* text, DWORD style, int x,
                   int y, int width, int height, HWND parent, HMENU menuOrId) noexcept;

  virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    return DefWindowProcW(hwnd_, message, wParam, lParam);
  }

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

  HWND hwnd_ = nullptr;
};

// The module the program's windows and resources come from.
[[nodiscard]] HINSTANCE ModuleInstance() noexcept;

}  // namespace lk::ui
