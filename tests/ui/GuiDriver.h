#pragma once
// Drives the program from another process, as a user (or a screen reader) would reach it:
// starts it, finds its windows by class and control id, reads places and texts, reads the
// report list's rows across the process boundary, clicks buttons by posting BM_CLICK, posts
// keys and close requests, and takes screenshots of a window as PNG files.

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>

#include "system/win/UniqueHandle.h"

namespace lk::ui::testing {

struct Place {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const Place&, const Place&) = default;
};

class ProgramProcess {
 public:
  explicit ProgramProcess(const std::wstring& exePath);
  ProgramProcess(const ProgramProcess&) = delete;
  ProgramProcess& operator=(const ProgramProcess&) = delete;
  // Ends the program if it still runs: a close request first, then by force.
  ~ProgramProcess();

  [[nodiscard]] bool Started() const noexcept { return static_cast<bool>(process_); }
  [[nodiscard]] DWORD Id() const noexcept { return processId_; }
  [[nodiscard]] bool HasExited() const;
  // Waits until the program waits for input (its window is up and idle).
  void WaitForIdle() const;
  // Waits for the end; returns the exit code or nothing on timeout.
  [[nodiscard]] bool WaitForExit(std::chrono::milliseconds timeout, DWORD* exitCode = nullptr);

 private:
  static BOOL CALLBACK PostClose(HWND window, LPARAM);

  UniqueKernelHandle process_;
  UniqueKernelHandle thread_;
  DWORD processId_ = 0;
  DWORD threadId_ = 0;
};

// Polls until the predicate holds or the time is up.
bool WaitUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout);

// A visible (or, with visibleOnly false, any) top-level window of the class that belongs to the
// process.
HWND FindTopLevel(const wchar_t* className, DWORD processId, bool visibleOnly = true);
HWND WaitForTopLevel(const wchar_t* className, DWORD processId, std::chrono::milliseconds timeout);

HWND Control(HWND parent, int id);
// The control's place in its parent's client area.
Place PlaceOf(HWND control);
SIZE ClientSize(HWND window);
bool IsShown(HWND window);
std::wstring TextOf(HWND window);

int ListCount(HWND listView);
std::wstring ListItemText(HWND listView, int index);
int ListItemImage(HWND listView, int index);

void Click(HWND button);
// Alt + the letter, as the keyboard sends it to the window with the focus.
void PostAltKey(HWND window, wchar_t letter);

// Writes a PNG of the window's area on the screen. False when it could not be written.
bool Screenshot(HWND window, const std::wstring& pngPath);

// Converts a Linux path (as CMake gives it) to the Windows path Wine maps it to.
std::wstring WindowsPath(const std::string& path);

}  // namespace lk::ui::testing
