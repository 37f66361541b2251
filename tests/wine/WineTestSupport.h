#pragma once
// Helpers for the tests that run against Wine's (or Windows') real registry, files and service
// manager. The prefix is shared by every test executable, so everything a test creates gets a
// name of its own (UniqueName) and is removed again by an owner below.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system/win/UniqueHandle.h"

namespace lk::test {

// stem + "-" + process id + "-" + a counter: unique across concurrent test executables.
[[nodiscard]] std::string UniqueName(std::string_view stem);

// "win32" or "win64" when the test runs in one of the build tree's Wine prefixes (taken from
// the prefix folder's name), nothing elsewhere.
[[nodiscard]] std::optional<std::string> WinePrefixArchitecture();

// The folder of the running test executable, without a trailing backslash.
[[nodiscard]] std::wstring ExecutableDirectory();

// Creates a file with the given content (UTF-8 path); false on failure.
[[nodiscard]] bool WriteWholeFile(std::string_view path, std::string_view content);

// A fresh folder below the temporary folder, removed with everything in it on destruction.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  ~TemporaryDirectory();

  // The folder's path (UTF-8), without a trailing backslash.
  [[nodiscard]] const std::string& Path() const noexcept { return path_; }
  // Path() + "\" + name.
  [[nodiscard]] std::string operator/(std::string_view name) const;

 private:
  std::string path_;
};

// The test service of tests/wine/fixtures (lk_test_service.exe, beside the test executable)
// under names of its own. Each runs until its quit event is set; RemoveAll ends, stops and
// deletes every service named here, before the caller closes its service manager.
class TestServices {
 public:
  // The fixture's command line in mode "accept" or "refuse" (whether it takes the STOP control).
  [[nodiscard]] static std::wstring Command(std::wstring_view mode);
  // Creates the quit event of the service name and takes the name for RemoveAll; for a service
  // registered by the code under test.
  void Track(const std::wstring& name);
  // Registers the fixture under a new name made from stem; the name (UTF-8), or "" when the
  // service manager refused (GetLastError tells why).
  [[nodiscard]] std::string Register(SC_HANDLE manager, std::string_view stem,
                                     std::wstring_view mode);
  // Sets the quit event of the service tracked last.
  void QuitLast();
  void RemoveAll(SC_HANDLE manager);

 private:
  std::vector<std::wstring> names_;
  std::vector<UniqueKernelHandle> quitEvents_;
};

}  // namespace lk::test
