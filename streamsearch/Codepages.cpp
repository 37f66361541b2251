#include "streamsearch/Codepages.h"

#include <array>

namespace lk {

namespace {

// Windows-1252 bytes 0x80-0x9F; the five unassigned ones map to the C1 control of the same
// value, as the system's conversion does.
constexpr std::array<char16_t, 32> kAnsiHigh{
    u'\u20AC', u'\u0081', u'\u201A', u'\u0192', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
    u'\u02C6', u'\u2030', u'\u0160', u'\u2039', u'\u0152', u'\u008D', u'\u017D', u'\u008F',
    u'\u0090', u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
    u'\u02DC', u'\u2122', u'\u0161', u'\u203A', u'\u0153', u'\u009D', u'\u017E', u'\u0178'};

}  // namespace

int CharacterWidth(TextEncoding encoding) {
  return (encoding == TextEncoding::Utf16Le || encoding == TextEncoding::Utf16Be) ? 2 : 1;
}

const char* DisplayName(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::Ansi:
      return "ANSI (Windows)";
    case TextEncoding::Utf16Le:
      return "UTF-16 LE";
    case TextEncoding::Utf16Be:
      return "UTF-16 BE";
  }
  return "";
}

char16_t AnsiToUnicode(std::uint8_t byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kAnsiHigh[byte - 0x80u];
  return byte;
}

std::uint8_t UnicodeToAnsi(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<std::uint8_t>(unit);
  for (std::size_t i = 0; i < kAnsiHigh.size(); ++i) {
    if (kAnsiHigh[i] == unit) return static_cast<std::uint8_t>(0x80 + i);
  }
  return '?';
}

bool CanEncodeInAnsi(char16_t unit) { return unit == u'?' || UnicodeToAnsi(unit) != '?'; }

std::uint8_t LowerAnsi(std::uint8_t byte) {
  if ((byte >= 'A' && byte <= 'Z') || (byte >= 0xC0 && byte <= 0xDE && byte != 0xD7)) {
    return static_cast<std::uint8_t>(byte + 0x20);
  }
  switch (byte) {
    case 0x8A:
    case 0x8C:
    case 0x8E:
      return static_cast<std::uint8_t>(byte + 0x10);
    case 0x9F:
      return 0xFF;
    default:
      return byte;
  }
}

char16_t LowerUtf16(char16_t unit) {
  const auto plus = [unit](int delta) { return static_cast<char16_t>(unit + delta); };
  const bool even = (unit & 1u) == 0;
  if (unit < 0x80) return (unit >= u'A' && unit <= u'Z') ? plus(0x20) : unit;
  if (unit >= 0xC0 && unit <= 0xDE && unit != 0xD7) return plus(0x20);
  if (unit < 0x100) return unit;
  // Latin Extended-A: capitals and small letters alternate, with two shifts of the pairing.
  if (unit == 0x130) return u'i';
  if (unit == 0x178) return u'\u00FF';
  if ((unit <= 0x137 && unit != 0x131 && even) || (unit >= 0x139 && unit <= 0x148 && !even) ||
      (unit >= 0x14A && unit <= 0x177 && even) || (unit >= 0x179 && unit <= 0x17E && !even)) {
    return plus(1);
  }
  // Greek.
  if (unit >= 0x391 && unit <= 0x3A9 && unit != 0x3A2) return plus(0x20);
  if (unit == 0x386) return u'\u03AC';
  if (unit >= 0x388 && unit <= 0x38A) return plus(0x25);
  if (unit == 0x38C) return u'\u03CC';
  if (unit == 0x38E || unit == 0x38F) return plus(0x3F);
  // Cyrillic.
  if (unit >= 0x410 && unit <= 0x42F) return plus(0x20);
  if (unit >= 0x400 && unit <= 0x40F) return plus(0x50);
  if (((unit >= 0x460 && unit <= 0x481) || (unit >= 0x48A && unit <= 0x4BF)) && even) {
    return plus(1);
  }
  return unit;
}

}  // namespace lk
