#include "win32/CommandLine.h"

#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <memory>

#include "win32/Utf.h"

namespace lk {

namespace {

struct LocalFreeDeleter {
  void operator()(LPWSTR* block) const noexcept { LocalFree(block); }
};

}  // namespace

std::optional<std::vector<std::string>> CommandLineArguments() {
  int count = 0;
  const std::unique_ptr<LPWSTR, LocalFreeDeleter> wide(
      CommandLineToArgvW(GetCommandLineW(), &count));
  if (!wide) return std::nullopt;
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(Utf8FromWide(wide.get()[i]));
  return args;
}

}  // namespace lk
