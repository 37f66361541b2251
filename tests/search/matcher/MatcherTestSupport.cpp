#include "tests/search/matcher/MatcherTestSupport.h"

#include <algorithm>
#include <cstring>

namespace lk::testing {

ReadResult MemoryFile::ReadAt(std::int64_t offset, void* buffer, std::size_t length) {
  ReadResult result;
  if (failAt_ >= 0 && offset + static_cast<std::int64_t>(length) > failAt_) {
    result.error = 23;
    return result;
  }
  const auto size = static_cast<std::int64_t>(content_.size());
  if (offset >= size) return result;
  const std::size_t n = static_cast<std::size_t>(
      std::min<std::int64_t>(size - offset, static_cast<std::int64_t>(length)));
  std::memcpy(buffer, content_.data() + offset, n);
  result.bytes = n;
  return result;
}

ReadResult SparseFile::ReadAt(std::int64_t offset, void* buffer, std::size_t length) {
  ReadResult result;
  if (offset >= size_) return result;
  const std::size_t n = static_cast<std::size_t>(
      std::min<std::int64_t>(size_ - offset, static_cast<std::int64_t>(length)));
  auto* out = static_cast<char*>(buffer);
  std::memset(out, 0, n);
  const std::int64_t end = offset + static_cast<std::int64_t>(n);
  for (const auto& [at, bytes] : pieces_) {
    const std::int64_t pieceEnd = at + static_cast<std::int64_t>(bytes.size());
    const std::int64_t from = std::max(at, offset);
    const std::int64_t to = std::min(pieceEnd, end);
    if (from < to) {
      std::memcpy(out + (from - offset), bytes.data() + (from - at),
                  static_cast<std::size_t>(to - from));
    }
  }
  result.bytes = n;
  bytesRead_ += static_cast<std::int64_t>(n);
  return result;
}

bool Matches(Refine& refine, std::string_view expression, std::string_view content,
             const MatchOptions& options) {
  refine.SetMatchCase(options.matchCase);
  refine.SetWholeWordsOnly(options.wholeWordsOnly);
  refine.SetNearestLength(options.nearestLength);
  refine.SetAnySingleCharacter(options.anySingle);
  refine.SetAnySequenceCharacter(options.anySequence);
  refine.SetTemplate(expression);
  MemoryFile file{std::string(content)};
  return refine.MatchStream(file);
}

bool Matches(MatcherKind kind, std::string_view expression, std::string_view content,
             const MatchOptions& options) {
  const auto refine = MakeRefine(kind);
  return Matches(*refine, expression, content, options);
}

}  // namespace lk::testing
