#include "search/expression/SearchExpression.h"

namespace lk {

std::string DumpExpression(const SearchExpression& expression) {
  std::string out;
  for (std::size_t i = 0; i < expression.Count(); ++i) {
    if (expression.IsText(i)) {
      out += "?\n";
      continue;
    }
    switch (expression.Integer(i)) {
      case static_cast<std::int32_t>(OpCode::Term):
        out += "opTerm ";
        if (i + 1 < expression.Count() && expression.IsText(i + 1)) {
          ++i;
          out += expression.Text(i);
        }
        out += '\n';
        break;
      case static_cast<std::int32_t>(OpCode::And):
        out += "opAnd\n";
        break;
      case static_cast<std::int32_t>(OpCode::Or):
        out += "opOr\n";
        break;
      case static_cast<std::int32_t>(OpCode::Near):
        out += "opNear\n";
        break;
      case static_cast<std::int32_t>(OpCode::Not):
        out += "opNot\n";
        break;
      default:
        out += "?\n";
        break;
    }
  }
  return out;
}

}  // namespace lk
