#include "base/Utf8.h"

#include <algorithm>

namespace lk {

namespace {

constexpr bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

}  // namespace

Utf8Character DecodeUtf8At(std::string_view text, std::size_t at) noexcept {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return {lead, 1};
  std::size_t length = 0;
  char32_t code = 0;
  // C0 and C1 could only start overlong forms of ASCII; F5 and above only values past U+10FFFF.
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07u;
  } else {
    return {};
  }
  if (length > text.size() - at) return {};
  for (std::size_t k = 1; k < length; ++k) {
    if (!IsUtf8Continuation(text[at + k])) return {};
    code = (code << 6) | (static_cast<unsigned char>(text[at + k]) & 0x3Fu);
  }
  const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  if (overlong || code > 0x10FFFF || IsSurrogate(code)) return {};
  return {code, length};
}

void AppendUtf8(char32_t codePoint, std::string& out) {
  if (codePoint > 0x10FFFF || IsSurrogate(codePoint)) codePoint = kReplacementCharacter;
  const auto put = [&out](char32_t bits) { out.push_back(static_cast<char>(bits)); };
  if (codePoint < 0x80) {
    put(codePoint);
  } else if (codePoint < 0x800) {
    put(0xC0 | (codePoint >> 6));
    put(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    put(0xE0 | (codePoint >> 12));
    put(0x80 | ((codePoint >> 6) & 0x3F));
    put(0x80 | (codePoint & 0x3F));
  } else {
    put(0xF0 | (codePoint >> 18));
    put(0x80 | ((codePoint >> 12) & 0x3F));
    put(0x80 | ((codePoint >> 6) & 0x3F));
    put(0x80 | (codePoint & 0x3F));
  }
}

std::u16string Utf16FromUtf8(std::string_view text) {
  std::u16string result;
  result.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const Utf8Character c = DecodeUtf8At(text, i);
    i += c.length == 0 ? 1 : c.length;
    if (c.codePoint >= 0x10000) {
      const char32_t offset = c.codePoint - 0x10000;
      result.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
      result.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
    } else {
      result.push_back(static_cast<char16_t>(c.codePoint));
    }
  }
  return result;
}

std::string Utf8FromUtf16(std::u16string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    char32_t code = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
             (static_cast<char32_t>(text[i + 1]) - 0xDC00);
      ++i;
    }
    AppendUtf8(code, result);  // a lone surrogate comes out as U+FFFD
  }
  return result;
}

std::string EscapeForDisplay(std::string_view text, bool escapeBackslash) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string shown;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const Utf8Character character = DecodeUtf8At(text, i);
    const std::size_t length = character.length;
    // C1 controls too: some terminals take U+009B as the start of an escape sequence.
    const bool control = byte < 0x20 || byte == 0x7F ||
                         (length > 0 && character.codePoint >= 0x80 && character.codePoint <= 0x9F);
    if (length == 0 || control || (escapeBackslash && byte == '\\')) {
      for (std::size_t k = 0; k < std::max<std::size_t>(length, 1); ++k) {
        const auto escaped = static_cast<unsigned char>(text[i + k]);
        shown += "\\x";
        shown += kHex[escaped >> 4];
        shown += kHex[escaped & 0xF];
      }
      i += std::max<std::size_t>(length, 1);
      continue;
    }
    shown.append(text.substr(i, length));
    i += length;
  }
  return shown;
}

}  // namespace lk
