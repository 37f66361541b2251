#include "base/Windows1252.h"

#include <array>

#include "base/Utf8.h"

namespace lk {

namespace {

// Bytes 0x80-0x9F.
constexpr std::array<char16_t, 32> kHigh{
    u'\u20AC', u'\u0081', u'\u201A', u'\u0192', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
    u'\u02C6', u'\u2030', u'\u0160', u'\u2039', u'\u0152', u'\u008D', u'\u017D', u'\u008F',
    u'\u0090', u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
    u'\u02DC', u'\u2122', u'\u0161', u'\u203A', u'\u0153', u'\u009D', u'\u017E', u'\u0178'};

}  // namespace

char16_t UnicodeFromWindows1252(std::uint8_t byte) noexcept {
  if (byte >= 0x80 && byte <= 0x9F) return kHigh[byte - 0x80u];
  return byte;
}

std::uint8_t Windows1252FromUnicode(char32_t codePoint) noexcept {
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
    return static_cast<std::uint8_t>(codePoint);
  }
  for (std::size_t i = 0; i < kHigh.size(); ++i) {
    if (kHigh[i] == codePoint) return static_cast<std::uint8_t>(0x80 + i);
  }
  return kWindows1252DefaultCharacter;
}

bool CanEncodeInWindows1252(char32_t codePoint) noexcept {
  return codePoint == kWindows1252DefaultCharacter ||
         Windows1252FromUnicode(codePoint) != kWindows1252DefaultCharacter;
}

std::string Windows1252FromUtf8(std::string_view utf8) {
  std::string result;
  result.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const Utf8Character c = DecodeUtf8At(utf8, i);
    i += c.length == 0 ? 1 : c.length;
    result.push_back(static_cast<char>(Windows1252FromUnicode(c.codePoint)));
  }
  return result;
}

std::string Utf8FromWindows1252(std::string_view bytes) {
  std::string result;
  result.reserve(bytes.size());
  for (const char byte : bytes) {
    AppendUtf8(UnicodeFromWindows1252(static_cast<std::uint8_t>(byte)), result);
  }
  return result;
}

}  // namespace lk
