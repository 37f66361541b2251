#include "testing/lksim/ScenarioText.h"

#include <cstdio>
#include <stdexcept>

#include "base/Utf8.h"
#include "base/Windows1252.h"

namespace lk::lksim {

namespace {

std::string CodePointName(char32_t character) {
  char name[16];
  std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(character));
  return name;
}

// The JSON parser has checked the text; a broken sequence here is a fault of ours.
void RequireUtf8(std::string_view utf8) {
  for (std::size_t at = 0; at < utf8.size();) {
    const Utf8Character character = DecodeUtf8At(utf8, at);
    if (character.length == 0) throw std::range_error("the text is not valid UTF-8");
    at += character.length;
  }
}

}  // namespace

std::string Utf16LeBytes(std::string_view utf8) {
  RequireUtf8(utf8);
  std::string bytes;
  for (const char16_t unit : Utf16FromUtf8(utf8)) {
    bytes.push_back(static_cast<char>(unit & 0xFFu));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::string Windows1252Bytes(std::string_view utf8) {
  RequireUtf8(utf8);
  std::string bytes;
  for (std::size_t at = 0; at < utf8.size();) {
    const Utf8Character character = DecodeUtf8At(utf8, at);
    if (!CanEncodeInWindows1252(character.codePoint)) {
      throw std::range_error("character " + CodePointName(character.codePoint) +
                             " is not in Windows-1252");
    }
    bytes.push_back(static_cast<char>(Windows1252FromUnicode(character.codePoint)));
    at += character.length;
  }
  return bytes;
}

}  // namespace lk::lksim
