#include "ui/controls/Window.h"

#include <exception>
#include <string>

#include "ui/controls/Gdi.h"
#include "ui/controls/GlowButton.h"
#include "win32/Utf.h"

namespace lk::ui {
namespace {

constexpr char kUnknownFailure[] = "Unbekannter Fehler.";

// The general error display: a modal error message owned by the failing window's top-level
// window, titled with that window's caption.
void ShowErrorMessageBox(HWND owner, const std::string& text) {
  HWND root = owner != nullptr ? GetAncestor(owner, GA_ROOT) : nullptr;
  if (root != nullptr && !IsWindow(root)) root = nullptr;
  wchar_t title[256] = L"";
  if (root != nullptr) GetWindowTextW(root, title, static_cast<int>(std::size(title)));
  MessageBoxW(root, WideFromUtf8(text).c_str(), title, MB_ICONERROR | MB_OK);
}

// The text of the failure being handled; call only inside a catch block.
std::string CurrentFailureText() {
  try {
    throw;
  } catch (const std::exception& failure) {
    const char* what = failure.what();
    return what != nullptr && *what != '\0' ? what : kUnknownFailure;
  } catch (...) {
    return kUnknownFailure;
  }
}

}  // namespace

HINSTANCE ModuleInstance() noexcept { return GetModuleHandleW(nullptr); }

void ShowCurrentFailure(HWND window) noexcept {
  // The display runs a modal loop of its own, so nothing else may throw here.
  std::string text;
  try {
    text = CurrentFailureText();
  } catch (...) {
    text = kUnknownFailure;
  }
  try {
    ShowErrorMessageBox(window, text);
  } catch (...) {
    // Nothing is left to show it with: the message box itself failed.
  }
}

Window::~Window() {
  // Unbound first: the messages of the destruction find no half-destroyed object.
  if (hwnd_) SetWindowLongPtrW(hwnd_.Get(), GWLP_USERDATA, 0);
}

void Window::Show(bool visible) const noexcept {
  if (hwnd_) ShowWindow(hwnd_.Get(), visible ? SW_SHOWNA : SW_HIDE);
}

bool Window::IsShown() const noexcept {
  return hwnd_ && (GetWindowLongW(hwnd_.Get(), GWL_STYLE) & WS_VISIBLE) != 0;
}

void Window::Place(int x, int y, int width, int height) const noexcept {
  if (hwnd_) {
    SetWindowPos(hwnd_.Get(), nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void Window::RegisterWindowClass(const wchar_t* className, UINT classStyle, HCURSOR cursor,
                                 HICON icon, HICON smallIcon) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(ModuleInstance(), className, &existing)) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = classStyle;
  wc.lpfnWndProc = &Window::Procedure;
  wc.hInstance = ModuleInstance();
  wc.hCursor = cursor != nullptr ? cursor : LoadCursorW(nullptr, IDC_ARROW);
  wc.hIcon = icon;
  wc.hIconSm = smallIcon;
  wc.lpszClassName = className;
  RegisterClassExW(&wc);
}

bool Window::CreateBound(DWORD exStyle, const wchar_t* className, const wchar_t* text, DWORD style,
                         int x, int y, int width, int height, HWND parent,
                         HMENU menuOrId) noexcept {
  CreateWindowExW(exStyle, className, text, style, x, y, width, height, parent, menuOrId,
                  ModuleInstance(), this);
  return static_cast<bool>(hwnd_);
}

LRESULT Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DRAWITEM) {
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (GlowButton* button = GlowButton::FromHwnd(item->hwndItem)) {
      button->Draw(*item);
      return TRUE;
    }
  }
  return Default(message, wParam, lParam);
}

LRESULT BufferedWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      const BufferedPaint paint(Hwnd());
      Paint(paint.Dc(), paint.Client());
      return 0;
    }
    case WM_PRINTCLIENT: {
      if (print_ == PrintClient::Default) break;
      RECT client{};
      GetClientRect(Hwnd(), &client);
      Paint(reinterpret_cast<HDC>(wParam), client);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    default:
      break;
  }
  return Window::HandleMessage(message, wParam, lParam);
}

LRESULT CALLBACK Window::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  Window* self = nullptr;
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    self = static_cast<Window*>(create->lpCreateParams);
    self->hwnd_.Reset(hwnd);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  LRESULT result = 0;
  try {
    result = self->HandleMessage(message, wParam, lParam);
  } catch (...) {
    // The default answer keeps the message loop sound; the failure itself is shown, never
    // swallowed.
    ShowCurrentFailure(hwnd);
    result = IsWindow(hwnd) ? DefWindowProcW(hwnd, message, wParam, lParam) : 0;
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    // The window is gone, destroyed by us or with its parent: nothing left to own.
    static_cast<void>(self->hwnd_.Release());
  }
  return result;
}

}  // namespace lk::ui
