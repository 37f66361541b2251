#include "tools/lksim/ScenarioText.h"

#include <cstdio>
#include <cwchar>
#include <locale>
#include <stdexcept>

#include "streamsearch/Codepages.h"

namespace lk::lksim {

namespace {

// The characters (char32_t) or UTF-16 code units (char16_t) of UTF-8 text.
template <typename Unit>
std::basic_string<Unit> Decode(std::string_view utf8) {
  using Facet = std::codecvt<Unit, char8_t, std::mbstate_t>;
  const auto& facet = std::use_facet<Facet>(std::locale::classic());
  const std::u8string bytes(utf8.begin(), utf8.end());
  std::basic_string<Unit> units(bytes.size(), Unit{});  // never more units than bytes
  std::mbstate_t state{};
  const char8_t* read = nullptr;
  Unit* written = nullptr;
  const auto result = facet.in(state, bytes.data(), bytes.data() + bytes.size(), read, units.data(),
                               units.data() + units.size(), written);
  if (result != Facet::ok) throw std::range_error("the text is not valid UTF-8");
  units.resize(static_cast<std::size_t>(written - units.data()));
  return units;
}

std::string CodePointName(char32_t character) {
  char name[16];
  std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(character));
  return name;
}

}  // namespace

std::string Utf16LeBytes(std::string_view utf8) {
  std::string bytes;
  for (const char16_t unit : Decode<char16_t>(utf8)) {
    bytes.push_back(static_cast<char>(unit & 0xFFu));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::string Windows1252Bytes(std::string_view utf8) {
  std::string bytes;
  for (const char32_t character : Decode<char32_t>(utf8)) {
    const auto unit = static_cast<char16_t>(character);
    if (character > 0xFFFF || !CanEncodeInAnsi(unit)) {
      throw std::range_error("character " + CodePointName(character) + " is not in Windows-1252");
    }
    bytes.push_back(static_cast<char>(UnicodeToAnsi(unit)));
  }
  return bytes;
}

}  // namespace lk::lksim
