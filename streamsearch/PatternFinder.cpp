#include "streamsearch/PatternFinder.h"

#include <utility>

namespace lk {

PatternFinder::PatternFinder(std::u16string_view text)
    : forward_(Build(std::u16string(text))),
      backward_(Build(std::u16string(text.rbegin(), text.rend()))) {}

PatternFinder::Automaton PatternFinder::Build(std::u16string text) {
  Automaton automaton{std::move(text), {}};
  const std::u16string& units = automaton.text;
  std::vector<std::size_t>& border = automaton.border;
  border.assign(units.size(), 0);
  std::size_t length = 0;
  for (std::size_t i = 1; i < units.size(); ++i) {
    while (length > 0 && units[i] != units[length]) length = border[length - 1];
    if (units[i] == units[length]) ++length;
    border[i] = length;
  }
  return automaton;
}

}  // namespace lk
