// lkgrep's entry point on Windows: the arguments come from the UTF-16 command line (argv would
// be in the ANSI code page and lose characters), paths go to the "W" calls as UTF-8, and an
// expression is compared as the ANSI bytes the program would hold.
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "system/win/WindowsFileSystem.h"
#include "tools/lkgrep/LkGrep.h"
#include "win32/CommandLine.h"
#include "win32/LibrarySearch.h"
#include "win32/Utf.h"

int main() {
  // Before anything can load a library: none may come from the folder the program was saved in.
  lk::RestrictLibrarySearch();
  const std::optional<std::vector<std::string>> args = lk::CommandLineArguments();
  if (!args) return 2;

  SetConsoleOutputCP(CP_UTF8);
  lk::WindowsFileSystem files;
  lk::LkGrepHost host{
      files,
      [](std::string_view path) { return std::string(path); },
      [](std::string_view path) { return std::string(path); },
      [](std::string_view text) { return lk::AnsiFromWide(lk::WideFromUtf8(text)); },
  };
  const int code = lk::RunLkGrep(*args, host, std::cout, std::cerr);
  std::cout.flush();
  return code;
}
