#pragma once
// lkgrep: the content search engine on the command line, for users who want the sweep's
// matching on their own folders and for our acceptance checks.
//
//   lkgrep [--match-case] --compile EXPR
//   lkgrep [--match-case] [--whole-words] [--near N] [--recurse] [--mask MASKS] [-j N]
//          (-e EXPR | --preset libraries|drivers) DIR...
//   lkgrep --find-text TEXT [--encoding ansi|utf16le|utf16be] [--case-sensitive]
//          [--whole-words] [--backward] [--start N] FILE
//
// The portable part: it parses the arguments and runs the compiler, the file searcher or the
// stream search over the FileSystem that the platform's entry point hands in. The shipped program
// searches with the production matcher only; a test build that hands in the reference matcher
// (testing/reference) also takes --reference, to compare the two on the command line.

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "search/matcher/Refine.h"
#include "system/FileSystem.h"

namespace lk {

struct LkGrepHost {
  FileSystem& files;
  // A path from the command line (UTF-8) as the file system takes it.
  std::function<std::string(std::string_view)> toFileSystemPath;
  // A found path as it is printed.
  std::function<std::string(std::string_view)> toDisplayPath;
  // An expression from the command line (UTF-8) as the bytes the matcher compares.
  std::function<std::string(std::string_view)> toExpressionBytes;
};

// Exit codes: 0 found (or compiled), 1 nothing found, 2 nothing found but some entry could not be
// examined (each is named on stderr), invalid expression or arguments, or a file that could not
// be searched (--find-text).
[[nodiscard]] int RunLkGrep(const std::vector<std::string>& args, const LkGrepHost& host,
                            std::ostream& out, std::ostream& err);

// A second matcher that --reference selects; empty in the shipped program.
using LkGrepMatcherFactory = std::function<std::unique_ptr<Refine>()>;

// The same, taking --reference when reference is set.
[[nodiscard]] int RunLkGrep(const std::vector<std::string>& args, const LkGrepHost& host,
                            std::ostream& out, std::ostream& err,
                            const LkGrepMatcherFactory& reference);

}  // namespace lk
