// lkscan's entry point on Windows: it examines the running system. The arguments come from the
// UTF-16 command line; the output is UTF-8, on the console through its UTF-8 code page.
#include <windows.h>

#include <iostream>
#include <string>
#include <vector>

#include "system/win/WindowsFileStore.h"
#include "system/win/WindowsFileSystem.h"
#include "system/win/WindowsSystemAccess.h"
#include "tools/ConsoleTexts.h"
#include "tools/lkscan/LkScan.h"
#include "tools/lkscan/WindowsEventLog.h"
#include "tools/lkscan/WindowsOutputFile.h"
#include "win32/CommandLine.h"
#include "win32/LibrarySearch.h"
#include "win32/Utf.h"

namespace {

class RunningWindows final : public lk::ScanTarget {
 public:
  lk::SystemAccess& System() override { return system_; }
  lk::FileSystem& Files() override { return files_; }
  lk::FileStore& Store() override { return store_; }

 private:
  lk::WindowsSystemAccess system_;
  lk::WindowsFileSystem files_;
  lk::WindowsFileStore store_;
};

bool IsConsole(DWORD standardHandle) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(standardHandle), &mode) != 0;
}

}  // namespace

int main() {
  // Before anything else may load a library: never from the program's own folder.
  static_cast<void>(lk::RestrictLibrarySearch());

  const std::optional<std::vector<std::string>> args = lk::CommandLineArguments();
  if (!args) return 2;

  SetConsoleOutputCP(CP_UTF8);
  const lk::LkScanHost host{[](const std::optional<std::string>& root,
                               std::string* error) -> std::unique_ptr<lk::ScanTarget> {
                              if (root) {
                                *error = lk::lkscan_texts::kRootOnlyOnLinux;
                                return nullptr;
                              }
                              return std::make_unique<RunningWindows>();
                            },
                            std::cout,
                            std::cerr,
                            IsConsole(STD_ERROR_HANDLE),
                            lk::CreateWindowsOutputFile,
                            lk::OpenWindowsEventLog,
                            lk::RegisterWindowsEventSource};
  const int code = lk::RunLkScan(*args, host);
  std::cout.flush();
  return code;
}
