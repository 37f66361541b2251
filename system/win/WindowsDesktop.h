#pragma once
// The desktop on Windows: pauses that pump the window's messages, the message pump with an
// optional filter, the clipboard and the end of the session through the Win32 calls.
//
// The front end sets the application window (the target of the monitor-off command and the
// clipboard owner) and may install a message filter for the pump, e.g. to route keyboard
// messages of a modeless dialog through IsDialogMessageW. All calls belong on the window's
// thread. Texts are UTF-8 at the interface, UTF-16 towards Windows.

#include <windows.h>

#include <functional>
#include <string_view>
#include <utility>

#include "system/Desktop.h"
#include "system/win/UniqueHandle.h"

namespace lk {

class WindowsDesktop final : public Desktop {
 public:
  // Returns true when it handled the message itself; the pump then neither translates nor
  // dispatches it. Never sees WM_QUIT.
  using MessageFilter = std::function<bool(MSG&)>;

  WindowsDesktop() = default;
  ~WindowsDesktop() override = default;

  // The application's main window: SendMessageW target of the forced monitor-off command and
  // the owner of the clipboard data. Without one, the monitor-off command does nothing and the
  // clipboard gets a hidden message-only window of our own as owner.
  void SetApplicationWindow(HWND window) noexcept { applicationWindow_ = window; }
  [[nodiscard]] HWND ApplicationWindow() const noexcept { return applicationWindow_; }
  void SetMessageFilter(MessageFilter filter) { messageFilter_ = std::move(filter); }

  // Ten slices of 100 ms per second, each followed by PumpWindowMessages.
  void PauseSeconds(int seconds) override;
  void PumpWindowMessages() override;
  // Unicode beside the ANSI text, owned by the application window.
  void SetClipboardText(std::string_view text) override;
  // ExitWindowsEx with the shutdown privilege enabled first; nothing outside the NT family.
  void ShutdownWindows(ShutdownMode mode, bool force) override;

 private:
  // The window that owns what we put on the clipboard.
  HWND ClipboardOwner();

  HWND applicationWindow_ = nullptr;
  UniqueWindow clipboardWindow_;
  MessageFilter messageFilter_;
};

}  // namespace lk
