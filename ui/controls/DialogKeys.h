#pragma once
// Keyboard navigation for our top-level windows: Tab and Shift+Tab between controls, Space and
// Enter on the focused button, Alt plus a caption's underlined letter. Windows that want it call
// EnableDialogKeys once; every message loop of the program (the main loop, the message dialog's
// modal loop, the analysis's message pump) passes each message to RouteDialogKeys first.

#include <windows.h>

namespace lk::ui {

void EnableDialogKeys(HWND topLevel) noexcept;
// Enter on a focused push button: the navigation reports it as IDOK without a control when no
// button is the default one. Returns true (and clicks the button) when the focus is on a button
// of the window.
bool ClickFocusedButtonOnEnter(HWND topLevel, WPARAM wParam, LPARAM lParam) noexcept;
// True when the message was a navigation key of one of those windows and has been handled.
[[nodiscard]] bool RouteDialogKeys(MSG& message) noexcept;

}  // namespace lk::ui
