// lkgrep on POSIX hosts: the whole host file system stands for the drive, so
// "lkgrep -e X /some/dir" searches Linux paths. Relative paths are taken from the current
// directory; found paths are printed with '/' separators.
#include "tools/lkgrep/LkGrepPosix.h"

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "system/posix/PosixFileSystem.h"

namespace lk {

int RunLkGrepOnPosix(int argc, char** argv, const LkGrepMatcherFactory& reference) {
  lk::PosixFileSystem files("/");
  lk::LkGrepHost host{
      files,
      [](std::string_view path) {
        std::error_code error;
        // The links of a path the user names are the user's to follow; the walk below follows
        // none.
        const std::filesystem::path absolute = std::filesystem::weakly_canonical(path, error);
        return error ? std::string(path) : absolute.string();
      },
      [](std::string_view path) {
        std::string display(path);
        for (char& c : display) {
          if (c == '\\') c = '/';
        }
        return display;
      },
      [](std::string_view text) { return std::string(text); },
  };
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int code = lk::RunLkGrep(args, host, std::cout, std::cerr, reference);
  std::cout.flush();
  return code;
}

}  // namespace lk
