#pragma once
// The base of every window class of the toolkit: binds the C++ object to its HWND when the
// window is created (WM_NCCREATE) and routes the window procedure to HandleMessage.
//
// Guarantees: no exception leaves the window procedure. One that escapes a handler is caught at
// the boundary and shown by the general error display (a modal error message box with its text,
// titled with the top-level window's caption), and the message gets its default answer; the
// object owns its window (a UniqueWindow) until WM_NCDESTROY: a parent that destroys its children
// ends the ownership there, and a live object destroys its window in its destructor, so no
// window is destroyed twice. Owner-drawn glow buttons get their WM_DRAWITEM from here, whichever
// window is their parent.

#include <windows.h>

#include "system/win/UniqueHandle.h"

namespace lk::ui {

class Window {
 public:
  Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  virtual ~Window();

  [[nodiscard]] HWND Hwnd() const noexcept { return hwnd_.Get(); }

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
    return DefWindowProcW(hwnd_.Get(), message, wParam, lParam);
  }

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

  UniqueWindow hwnd_;
};

// A window that paints its whole client area itself, double-buffered: the painting messages
// are answered here, once for every such window. WM_PAINT draws through a memory bitmap
// (BufferedPaint), WM_ERASEBKGND erases nothing, as the paint covers every pixel, and with
// PrintClient::Answer WM_PRINTCLIENT draws straight into the DC it comes with (a window whose
// transparent children paint its background behind them). A derived class answers its own
// messages and hands the rest to BufferedWindow::HandleMessage.
enum class PrintClient { Default, Answer };

class BufferedWindow : public Window {
 protected:
  explicit BufferedWindow(PrintClient print = PrintClient::Default) : print_(print) {}

  // Draws the client area (client: its rectangle) into dc.
  virtual void Paint(HDC dc, const RECT& client) = 0;
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  PrintClient print_;
};

// The general error display for the failure being handled: a modal error message box with its
// text, titled with the caption of the window's top-level window. Call only inside a catch
// block, at a boundary where the failure may go no further (a window procedure, a callback).
void ShowCurrentFailure(HWND window) noexcept;

// The module the program's windows and resources come from.
[[nodiscard]] HINSTANCE ModuleInstance() noexcept;

}  // namespace lk::ui
