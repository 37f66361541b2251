#pragma once
// Compiling an expression text into its postfix program, the way the matcher's Compile does it:
// upper-case the text with UpperWindows1252 unless the match is case-sensitive, scan, parse.

#include <string>
#include <string_view>

#include "search/expression/SearchExpression.h"

namespace lk {

struct CompileResult {
  bool valid = false;
  // Empty unless valid.
  SearchExpression expression;
  // The scanner's output: one diagnostic a line, each ended by a line feed.
  std::string diagnostics;
};

[[nodiscard]] CompileResult CompileExpression(std::string_view text, bool matchCase);

}  // namespace lk
