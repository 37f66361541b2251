#include "system/offline/HiveText.h"

#include "base/Utf8.h"

namespace lk {

namespace {

std::u16string Units(std::string_view utf16le) {
  std::u16string units;
  units.reserve(utf16le.size() / 2);
  // An odd trailing byte is no character: it is dropped.
  for (std::size_t i = 0; i + 1 < utf16le.size(); i += 2) {
    const auto low = static_cast<unsigned char>(utf16le[i]);
    const auto high = static_cast<unsigned char>(utf16le[i + 1]);
    units.push_back(static_cast<char16_t>(low | (high << 8U)));
  }
  return units;
}

}  // namespace

std::string TextFromHiveString(std::string_view utf16le) {
  std::u16string units = Units(utf16le);
  const std::size_t nul = units.find(u'\0');
  if (nul != std::u16string::npos) units.resize(nul);
  return Utf8FromUtf16(units);
}

std::string Utf8FromHiveData(std::string_view utf16le) {
  if (utf16le.empty()) return {};
  std::string text = Utf8FromUtf16(Units(utf16le));
  if (text.empty() || text.back() != '\0') text.push_back('\0');
  return text;
}

std::string HiveDataFromUtf8(std::string_view utf8) {
  const std::u16string units = Utf16FromUtf8(utf8);
  std::string bytes;
  bytes.reserve(units.size() * 2);
  for (const char16_t unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xFFU));
    bytes.push_back(static_cast<char>((unit >> 8U) & 0xFFU));
  }
  return bytes;
}

}  // namespace lk
