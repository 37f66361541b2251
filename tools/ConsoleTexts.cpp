#include "tools/ConsoleTexts.h"

namespace lk::console_texts {

std::string Fill(std::string_view pattern, std::initializer_list<std::string_view> arguments) {
  std::string text;
  text.reserve(pattern.size());
  const std::string_view* next = arguments.begin();
  while (true) {
    const std::size_t at = pattern.find("%s");
    if (at == std::string_view::npos || next == arguments.end()) break;
    text.append(pattern.substr(0, at));
    text.append(*next++);
    pattern.remove_prefix(at + 2);
  }
  text.append(pattern);
  return text;
}

}  // namespace lk::console_texts
