#include "system/hstringfunc.h"

namespace lk {

std::string AppendBackslash(std::string_view path) {
  std::string result(path);
  if (!result.empty() && result.back() != '\\') result.push_back('\\');
  return result;
}

}  // namespace lk
