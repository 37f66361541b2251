#include "streamsearch/Codepages.h"

namespace lk {

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
