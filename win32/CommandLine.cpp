#include "win32/CommandLine.h"

#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include "system/win/UniqueHandle.h"
#include "win32/Utf.h"

namespace lk {

std::optional<std::vector<std::string>> CommandLineArguments() {
  int count = 0;
  // The argument block is one LocalAlloc allocation.
  const UniqueLocalMemory block(CommandLineToArgvW(GetCommandLineW(), &count));
  if (!block) return std::nullopt;
  auto* const wide = static_cast<LPWSTR*>(block.Get());
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(Utf8FromWide(wide[i]));
  return args;
}

}  // namespace lk
