#pragma once
// Case-insensitive comparisons of the ASCII names the analysis looks for (library and driver
// names) inside texts from the registry. Only ASCII letters fold: in the ANSI code pages no
// other character folds to an ASCII letter, so the answers are those of the ANSI comparison.

#include <string_view>

namespace lk {

[[nodiscard]] constexpr char FoldAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

[[nodiscard]] constexpr bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

// needle occurs anywhere in text; the empty needle occurs in every text.
[[nodiscard]] constexpr bool ContainsIgnoringCase(std::string_view text, std::string_view needle) {
  if (needle.size() > text.size()) return false;
  for (std::size_t at = 0; at + needle.size() <= text.size(); ++at) {
    if (EqualsIgnoringCase(text.substr(at, needle.size()), needle)) return true;
  }
  return false;
}

}  // namespace lk
