#include "analysis/AppInitDlls.h"

#include <vector>

#include "base/TextCase.h"

namespace lk {

namespace {

constexpr bool IsSeparator(char c) { return c == ' ' || c == ',' || c == ';' || c == '\t'; }

struct Entry {
  std::string_view text;
  std::string_view separatorAfter;
};

// The end of the entry that begins at begin (not a separator). A quoted entry runs to its
// closing quote, or to the end of the text when it has none; an unquoted one ends before a
// separator or before a quote that opens the next entry.
std::size_t EntryEnd(std::string_view value, std::size_t begin) {
  if (value[begin] == '"') {
    const std::size_t closing = value.find('"', begin + 1);
    return closing == std::string_view::npos ? value.size() : closing + 1;
  }
  std::size_t at = begin;
  while (at < value.size() && !IsSeparator(value[at]) && value[at] != '"') ++at;
  return at;
}

}  // namespace

std::string RemoveLibraryEntries(std::string_view value, std::string_view library) {
  std::size_t at = 0;
  while (at < value.size() && IsSeparator(value[at])) ++at;
  const std::string_view leading = value.substr(0, at);

  std::vector<Entry> entries;
  while (at < value.size()) {
    const std::size_t begin = at;
    at = EntryEnd(value, begin);
    const std::size_t end = at;
    while (at < value.size() && IsSeparator(value[at])) ++at;
    entries.push_back({value.substr(begin, end - begin), value.substr(end, at - end)});
  }
  const std::string_view ending =
      entries.empty() ? std::string_view{} : entries.back().separatorAfter;

  std::vector<const Entry*> kept;
  for (const Entry& entry : entries) {
    if (!ContainsIgnoringAsciiCase(entry.text, library)) kept.push_back(&entry);
  }
  if (kept.empty()) return {};
  if (kept.size() == entries.size()) return std::string(value);

  std::string result(leading);
  for (std::size_t i = 0; i < kept.size(); ++i) {
    result += kept[i]->text;
    result += (i + 1 < kept.size()) ? kept[i]->separatorAfter : ending;
  }
  // Entries are cut at separators, which the name does not contain, so this is a safety net
  // for the promise that nothing of what the detection finds is left behind.
  if (ContainsIgnoringAsciiCase(result, library)) return {};
  return result;
}

}  // namespace lk
