#include "analysis/AnalysisTexts.h"

namespace lk::texts {

std::string FormatText(std::string_view pattern, std::string_view argument) {
  std::string text(pattern);
  std::size_t at = text.find('%');
  while (at != std::string::npos && at + 1 < text.size()) {
    if (text[at + 1] == 's' || text[at + 1] == 'd') {
      text.replace(at, 2, argument);
      break;
    }
    at = text.find('%', at + 1);
  }
  return text;
}

}  // namespace lk::texts
