// The program entry: no command line is read. Initialises the toolkit, creates the main window
// (which runs its FormCreate) and runs the message loop until the window is closed.

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "system/win/WindowsDesktop.h"
#include "system/win/WindowsFileSystem.h"
#include "system/win/WindowsSystemAccess.h"
#include "ui/MainWindow.h"
#include "ui/VersionLibrary.h"
#include "ui/controls/DialogKeys.h"
#include "ui/controls/GdiPlusLibrary.h"
#include "ui/controls/Msimg32Library.h"
#include "ui/controls/Picture.h"
#include "win32/LibrarySearch.h"

namespace {

constexpr wchar_t kApplicationTitle[] = L"Tessivar Anti-Lauschkobold";

// Why the program cannot run (a system library it loads at run time is missing), or nothing.
std::wstring MissingLibrary() {
  for (const std::wstring* error :
       {&lk::ui::GdiPlusLibrary::Shared().Error(), &lk::ui::Msimg32Library::Shared().Error(),
        &lk::ui::VersionLibrary::Shared().Error()}) {
    if (!error->empty()) return *error;
  }
  return {};
}

int Run() {
  if (const std::wstring missing = MissingLibrary(); !missing.empty()) {
    MessageBoxW(nullptr, missing.c_str(), kApplicationTitle, MB_ICONERROR | MB_OK);
    return 1;
  }

  // 1. The toolkit: common controls (version 6 through the manifest) and GDI+.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  lk::ui::GdiplusSession gdiplus;

  lk::WindowsSystemAccess system;
  lk::WindowsDesktop desktop;
  lk::WindowsFileSystem files;
  // Tab, Space, Enter and Alt accelerators also while a run pumps the messages.
  desktop.SetMessageFilter([](MSG& message) { return lk::ui::RouteDialogKeys(message); });

  // 2.-4. The main window is the taskbar entry itself (no hidden application window); creating
  // it runs FormCreate.
  lk::ui::MainWindow window(system, desktop, files);
  if (!window.Create()) {
    MessageBoxW(nullptr, L"Das Hauptfenster konnte nicht erstellt werden.", kApplicationTitle,
                MB_ICONERROR | MB_OK);
    return 1;
  }
  desktop.SetApplicationWindow(window.Hwnd());

  // 5. The message loop, until the main window is closed.
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (lk::ui::RouteDialogKeys(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Before anything can load a library: none may come from the folder the program was saved in.
  lk::RestrictLibrarySearch();
  try {
    return Run();
  } catch (...) {
    MessageBoxW(nullptr, L"Unerwarteter Fehler.", kApplicationTitle, MB_ICONERROR | MB_OK);
    return 1;
  }
}
