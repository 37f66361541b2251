#pragma once
// Byte classes shared by the expression scanner and the matchers: which content bytes separate
// words, and the upper-case mapping of the single-byte ANSI code page (Windows-1252).
//
// Both are pure table look-ups; UpperByte never turns a separator into a word byte or back, and
// applying it twice gives the same byte as applying it once.

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

constexpr std::array<std::uint8_t, 256> MakeUpperTable() {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) {
    int upper = b;
    if (!kSeparators[static_cast<std::size_t>(b)]) {
      if (b >= 'a' && b <= 'z') {
        upper = b - 0x20;
      } else if (b >= 0xE0 && b <= 0xFE && b != 0xF7) {
        upper = b - 0x20;
      } else if (b == 0x9A || b == 0x9C || b == 0x9E) {
        upper = b - 0x10;
      } else if (b == 0xFF) {
        upper = 0x9F;
      }
    }
    table[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(upper);
  }
  return table;
}

inline constexpr std::array<std::uint8_t, 256> kUpper = MakeUpperTable();

}  // namespace ansi_detail

// Control bytes, the space, most ASCII punctuation and 0xA6 separate words; every other byte
// (letters, digits, '_', '~', 0x7F, the high bytes) belongs to a word.
[[nodiscard]] constexpr bool IsWordSeparator(std::uint8_t b) noexcept {
  return ansi_detail::kSeparators[b];
}

// The Windows-1252 upper-case form of a byte; separators are left as they are.
[[nodiscard]] constexpr std::uint8_t UpperByte(std::uint8_t b) noexcept {
  return ansi_detail::kUpper[b];
}

}  // namespace lk
