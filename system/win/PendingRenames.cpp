#include "system/win/PendingRenames.h"

#include <cstring>

namespace lk {

namespace {

constexpr std::wstring_view kNtPrefix = L"\\??\\";

std::wstring_view WithoutNtPrefix(std::wstring_view path) {
  return path.starts_with(kNtPrefix) ? path.substr(kNtPrefix.size()) : path;
}

bool SameTextIgnoringCase(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

std::wstring NtPathOf(const std::wstring& path) {
  if (path.starts_with(kNtPrefix)) return path;
  if (path.starts_with(L"\\\\?\\")) return std::wstring(kNtPrefix) + path.substr(4);
  std::wstring full = path;
  if (const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr); needed > 0) {
    std::vector<wchar_t> buffer(needed + 1, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed + 1, buffer.data(), nullptr);
    if (length > 0 && length <= needed) full.assign(buffer.data(), length);
  }
  if (full.starts_with(L"\\\\.\\")) return std::wstring(kNtPrefix) + full.substr(4);
  if (full.starts_with(L"\\\\")) return std::wstring(kNtPrefix) + L"UNC\\" + full.substr(2);
  return std::wstring(kNtPrefix) + full;
}

PendingRenames::PendingRenames(std::vector<BYTE> stored) : data_(std::move(stored)) {}

std::vector<PendingRenames::Pair> PendingRenames::Parse(std::size_t& tail) const {
  const std::size_t units = data_.size() / sizeof(wchar_t);
  auto unitAt = [this](std::size_t index) {
    wchar_t unit = 0;
    std::memcpy(&unit, data_.data() + index * sizeof(wchar_t), sizeof(wchar_t));
    return unit;
  };
  // The text starting at unit index up to its NUL; false when the data ends before the NUL.
  auto textAt = [&](std::size_t& index, std::wstring& text) {
    text.clear();
    for (; index < units; ++index) {
      const wchar_t unit = unitAt(index);
      if (unit == L'\0') {
        ++index;
        return true;
      }
      text.push_back(unit);
    }
    return false;
  };
  std::vector<Pair> pairs;
  std::size_t index = 0;
  tail = 0;
  while (index < units) {
    Pair pair;
    pair.begin = index * sizeof(wchar_t);
    std::wstring target;
    // An empty source is the list's end.
    if (!textAt(index, pair.source) || pair.source.empty() || !textAt(index, target)) break;
    pair.end = index * sizeof(wchar_t);
    pair.deletes = target.empty();
    tail = pair.end;
    pairs.push_back(std::move(pair));
  }
  return pairs;
}

bool PendingRenames::RemoveDeletionsOf(std::wstring_view ntPath) {
  std::size_t tail = 0;
  const std::vector<Pair> pairs = Parse(tail);
  std::vector<BYTE> kept;
  bool removed = false;
  for (const Pair& pair : pairs) {
    if (pair.deletes &&
        SameTextIgnoringCase(WithoutNtPrefix(pair.source), WithoutNtPrefix(ntPath))) {
      removed = true;
      continue;
    }
    kept.insert(kept.end(), data_.begin() + static_cast<std::ptrdiff_t>(pair.begin),
                data_.begin() + static_cast<std::ptrdiff_t>(pair.end));
  }
  if (!removed) return false;
  kept.insert(kept.end(), data_.begin() + static_cast<std::ptrdiff_t>(tail), data_.end());
  data_ = std::move(kept);
  return true;
}

bool PendingRenames::IsEmpty() const {
  std::size_t tail = 0;
  return Parse(tail).empty();
}

}  // namespace lk
