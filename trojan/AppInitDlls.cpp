#include "trojan/AppInitDlls.h"

#include <string>
#include <type_traits>
#include <vector>

#include "base/TextCase.h"

namespace lk {

namespace {

template <typename Char>
constexpr bool IsSeparator(Char c) {
  return c == Char(' ') || c == Char(',') || c == Char(';') || c == Char('\t');
}

template <typename Char>
struct Entry {
  std::basic_string_view<Char> text;
  std::basic_string_view<Char> separatorAfter;
};

// The library's name anywhere in the text, ASCII letters compared without regard to case; a
// character beyond ASCII matches none of the name's.
template <typename Char>
bool ContainsName(std::basic_string_view<Char> text, std::string_view name) {
  if (name.empty()) return true;
  for (std::size_t at = 0; at + name.size() <= text.size(); ++at) {
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i) {
      const auto c = static_cast<char32_t>(static_cast<std::make_unsigned_t<Char>>(text[at + i]));
      same = c < 0x80 && FoldAscii(static_cast<char>(c)) == FoldAscii(name[i]);
    }
    if (same) return true;
  }
  return false;
}

// The end of the entry that begins at begin (not a separator). A quoted entry runs to its
// closing quote, or to the end of the text when it has none; an unquoted one ends before a
// separator or before a quote that opens the next entry.
template <typename Char>
std::size_t EntryEnd(std::basic_string_view<Char> value, std::size_t begin) {
  if (value[begin] == Char('"')) {
    const std::size_t closing = value.find(Char('"'), begin + 1);
    return closing == std::basic_string_view<Char>::npos ? value.size() : closing + 1;
  }
  std::size_t at = begin;
  while (at < value.size() && !IsSeparator(value[at]) && value[at] != Char('"')) ++at;
  return at;
}

template <typename Char>
std::basic_string<Char> RemoveEntries(std::basic_string_view<Char> value,
                                      std::string_view library) {
  std::size_t at = 0;
  while (at < value.size() && IsSeparator(value[at])) ++at;
  const std::basic_string_view<Char> leading = value.substr(0, at);

  std::vector<Entry<Char>> entries;
  while (at < value.size()) {
    const std::size_t begin = at;
    at = EntryEnd(value, begin);
    const std::size_t end = at;
    while (at < value.size() && IsSeparator(value[at])) ++at;
    entries.push_back({value.substr(begin, end - begin), value.substr(end, at - end)});
  }
  const std::basic_string_view<Char> ending =
      entries.empty() ? std::basic_string_view<Char>{} : entries.back().separatorAfter;

  std::vector<const Entry<Char>*> kept;
  for (const Entry<Char>& entry : entries) {
    if (!ContainsName(entry.text, library)) kept.push_back(&entry);
  }
  if (kept.empty()) return {};
  if (kept.size() == entries.size()) return std::basic_string<Char>(value);

  std::basic_string<Char> result(leading);
  for (std::size_t i = 0; i < kept.size(); ++i) {
    result += kept[i]->text;
    result += (i + 1 < kept.size()) ? kept[i]->separatorAfter : ending;
  }
  // Entries are cut at separators, which the name does not contain, so this is a safety net
  // for the promise that nothing of what the detection finds is left behind.
  if (ContainsName(std::basic_string_view<Char>(result), library)) return {};
  return result;
}

}  // namespace

std::string RemoveLibraryEntries(std::string_view value, std::string_view library) {
  return RemoveEntries(value, library);
}

std::string RemoveLibraryEntriesStored(std::string_view utf16le, std::string_view library) {
  // The text is what Windows reads: the units up to the first NUL. What follows it (the NUL, any
  // data behind it, a trailing odd byte) stays as it is.
  std::u16string units;
  std::size_t end = 0;
  for (; end + 1 < utf16le.size(); end += 2) {
    const auto unit = static_cast<char16_t>(static_cast<unsigned char>(utf16le[end]) |
                                            (static_cast<unsigned char>(utf16le[end + 1]) << 8U));
    if (unit == 0) break;
    units.push_back(unit);
  }
  std::string result;
  for (const char16_t unit : RemoveEntries(std::u16string_view(units), library)) {
    result.push_back(static_cast<char>(unit & 0xFFU));
    result.push_back(static_cast<char>(unit >> 8U));
  }
  result.append(utf16le.substr(end));
  return result;
}

}  // namespace lk
