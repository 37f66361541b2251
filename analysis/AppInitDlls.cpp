#include "analysis/AppInitDlls.h"

#include <vector>

#include "analysis/TextCase.h"

namespace lk {

namespace {

constexpr bool IsSeparator(char c) { return c == ' ' || c == ',' || c == '\t'; }

struct Entry {
  std::string_view text;
  std::string_view separatorAfter;
};

bool NamesLibrary(std::string_view entry, std::string_view library) {
  if (entry.size() >= 2 && entry.front() == '"' && entry.back() == '"') {
    entry = entry.substr(1, entry.size() - 2);
  }
  const std::size_t slash = entry.find_last_of("\\/");
  if (slash != std::string_view::npos) entry.remove_prefix(slash + 1);
  return EqualsIgnoringCase(entry, library);
}

}  // namespace

std::string RemoveLibraryEntries(std::string_view value, std::string_view library) {
  std::size_t at = 0;
  while (at < value.size() && IsSeparator(value[at])) ++at;
  const std::string_view leading = value.substr(0, at);

  std::vector<Entry> entries;
  while (at < value.size()) {
    const std::size_t begin = at;
    while (at < value.size() && !IsSeparator(value[at])) ++at;
    const std::size_t end = at;
    while (at < value.size() && IsSeparator(value[at])) ++at;
    entries.push_back({value.substr(begin, end - begin), value.substr(end, at - end)});
  }
  const std::string_view ending =
      entries.empty() ? std::string_view{} : entries.back().separatorAfter;

  std::vector<const Entry*> kept;
  for (const Entry& entry : entries) {
    if (!NamesLibrary(entry.text, library)) kept.push_back(&entry);
  }
  if (kept.empty()) return {};
  if (kept.size() == entries.size()) return std::string(value);

  std::string result(leading);
  for (std::size_t i = 0; i < kept.size(); ++i) {
    result += kept[i]->text;
    result += (i + 1 < kept.size()) ? kept[i]->separatorAfter : ending;
  }
  return result;
}

}  // namespace lk
