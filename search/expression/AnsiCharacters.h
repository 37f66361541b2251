#pragma once
// The byte class shared by the expression scanner and the matchers: which content bytes separate
// words. A table look-up. Content is folded with UpperWindows1252 (base/TextCase.h), the
// upper-case mapping of the single-byte ANSI code page, which never turns a separator into a
// word byte or back.

#include <array>
#include <cstdint>

namespace lk {

namespace ansi_detail {

constexpr std::array<bool, 256> MakeSeparatorTable() {
  std::array<bool, 256> table{};
  for (int b = 0; b <= 0x20; ++b) table[static_cast<std::size_t>(b)] = true;
  constexpr const char* kPunctuation = "!#$%&'()*+,-./:;<=>?[\\]^{|}\"@`";
  for (const char* p = kPunctuation; *p != '\0'; ++p) {
    table[static_cast<unsigned char>(*p)] = true;
  }
  table[0xA6] = true;
  return table;
}

inline constexpr std::array<bool, 256> kSeparators = MakeSeparatorTable();

}  // namespace ansi_detail

// Control bytes, the space, most ASCII punctuation and 0xA6 separate words; every other byte
// (letters, digits, '_', '~', 0x7F, the high bytes) belongs to a word.
[[nodiscard]] constexpr bool IsWordSeparator(std::uint8_t b) noexcept {
  return ansi_detail::kSeparators[b];
}

}  // namespace lk
