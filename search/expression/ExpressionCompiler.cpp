#include "search/expression/ExpressionCompiler.h"

#include "base/TextCase.h"
#include "search/expression/RefineLexer.h"
#include "search/expression/RefineParser.h"

namespace lk {

CompileResult CompileExpression(std::string_view text, bool matchCase) {
  std::string input(text);
  if (!matchCase) {
    for (char& c : input) c = static_cast<char>(UpperWindows1252(static_cast<std::uint8_t>(c)));
  }
  RefineLexer lexer(input);
  RefineParser parser(lexer);
  CompileResult result;
  result.valid = parser.Parse();
  if (result.valid) result.expression = parser.Result();
  result.diagnostics = parser.Diagnostics();
  return result;
}

}  // namespace lk
