#pragma once
// Case folding of 8-bit text, in two strengths.
//
// ASCII: only A-Z and a-z fold. This is what names of files, registry keys, services and tags
// are compared with: in every ANSI code page no other byte folds to an ASCII letter, so for the
// ASCII names the program looks for the answers agree with the system's comparison.
//
// Windows-1252: the letters of that code page as well (the accented capitals 0xC0-0xDE but not
// 0xD7, S/OE/Z with caron 0x8A/0x8C/0x8E, Y with diaeresis 0x9F, and their small forms). This is
// what the content search folds file bytes with. Both directions are table look-ups; they are
// inverse on letters, and applying either twice gives what applying it once gives.
//
// No locale is consulted anywhere: the results never depend on the process's settings.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace lk {

// ---- ASCII ----

[[nodiscard]] constexpr bool IsAsciiLetter(char c) noexcept {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The lower-case form of an ASCII capital; every other byte as it is.
[[nodiscard]] constexpr char FoldAscii(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The upper-case form of an ASCII small letter; every other byte as it is.
[[nodiscard]] constexpr char UpperAscii(char c) noexcept {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// text with every ASCII capital made small.
[[nodiscard]] inline std::string FoldedAscii(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = FoldAscii(c);
  return folded;
}

[[nodiscard]] constexpr bool EqualsIgnoringAsciiCase(std::string_view a,
                                                     std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

[[nodiscard]] constexpr bool StartsWithIgnoringAsciiCase(std::string_view text,
                                                         std::string_view prefix) noexcept {
  return text.size() >= prefix.size() &&
         EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

// needle occurs anywhere in text; the empty needle occurs in every text.
[[nodiscard]] constexpr bool ContainsIgnoringAsciiCase(std::string_view text,
                                                       std::string_view needle) noexcept {
  if (needle.size() > text.size()) return false;
  for (std::size_t at = 0; at + needle.size() <= text.size(); ++at) {
    if (EqualsIgnoringAsciiCase(text.substr(at, needle.size()), needle)) return true;
  }
  return false;
}

// Orders texts as if both were folded with FoldAscii (a strict weak order for sorting).
[[nodiscard]] constexpr bool LessIgnoringAsciiCase(std::string_view a,
                                                   std::string_view b) noexcept {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    const auto x = static_cast<unsigned char>(FoldAscii(a[i]));
    const auto y = static_cast<unsigned char>(FoldAscii(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

// ---- Windows-1252 ----

namespace text_case_detail {

constexpr std::array<std::uint8_t, 256> MakeUpperWindows1252() {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) {
    int upper = b;
    if ((b >= 'a' && b <= 'z') || (b >= 0xE0 && b <= 0xFE && b != 0xF7)) {
      upper = b - 0x20;
    } else if (b == 0x9A || b == 0x9C || b == 0x9E) {
      upper = b - 0x10;
    } else if (b == 0xFF) {
      upper = 0x9F;
    }
    table[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(upper);
  }
  return table;
}

constexpr std::array<std::uint8_t, 256> MakeLowerWindows1252() {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) table[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(b);
  const std::array<std::uint8_t, 256> upper = MakeUpperWindows1252();
  for (int b = 0; b < 256; ++b) {
    const std::uint8_t u = upper[static_cast<std::size_t>(b)];
    if (u != b) table[u] = static_cast<std::uint8_t>(b);
  }
  return table;
}

inline constexpr std::array<std::uint8_t, 256> kUpperWindows1252 = MakeUpperWindows1252();
inline constexpr std::array<std::uint8_t, 256> kLowerWindows1252 = MakeLowerWindows1252();

}  // namespace text_case_detail

// The Windows-1252 capital of a small letter (0xDF sharp s and 0xB5 micro have none and stay);
// every other byte as it is.
[[nodiscard]] constexpr std::uint8_t UpperWindows1252(std::uint8_t b) noexcept {
  return text_case_detail::kUpperWindows1252[b];
}

// The Windows-1252 small letter of a capital; every other byte as it is.
[[nodiscard]] constexpr std::uint8_t LowerWindows1252(std::uint8_t b) noexcept {
  return text_case_detail::kLowerWindows1252[b];
}

}  // namespace lk
