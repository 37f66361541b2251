#pragma once
// Support for the matcher tests: files held in memory (optionally with a read failure or a
// synthetic huge size) and a one-call match on either matcher.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "search/matcher/Refine.h"
#include "testing/reference/MatcherKind.h"

namespace lk::testing {

// A readable file whose content is held in memory.
class MemoryFile final : public ReadableFile {
 public:
  explicit MemoryFile(std::string content) : content_(std::move(content)) {}
  // Fails every read at or after failAt with error 23.
  void FailReadsFrom(std::int64_t failAt) { failAt_ = failAt; }
  [[nodiscard]] std::int64_t Size() override { return static_cast<std::int64_t>(content_.size()); }
  [[nodiscard]] ReadResult ReadAt(std::int64_t offset, void* buffer, std::size_t length) override;

 private:
  std::string content_;
  std::int64_t failAt_ = -1;
};

// A file of any size that is all zero bytes except the pieces planted at given offsets.
class SparseFile final : public ReadableFile {
 public:
  explicit SparseFile(std::int64_t size) : size_(size) {}
  void Plant(std::int64_t offset, std::string bytes) { pieces_[offset] = std::move(bytes); }
  [[nodiscard]] std::int64_t Size() override { return size_; }
  [[nodiscard]] ReadResult ReadAt(std::int64_t offset, void* buffer, std::size_t length) override;
  [[nodiscard]] std::int64_t BytesRead() const noexcept { return bytesRead_; }

 private:
  std::int64_t size_;
  std::map<std::int64_t, std::string> pieces_;
  std::int64_t bytesRead_ = 0;
};

struct MatchOptions {
  bool matchCase = false;
  bool wholeWordsOnly = false;
  std::int32_t nearestLength = 50;
  char anySingle = '?';
  char anySequence = '*';
};

// Whether content satisfies expression on the given matcher.
[[nodiscard]] bool Matches(Refine& refine, std::string_view expression, std::string_view content,
                           const MatchOptions& options = {});
[[nodiscard]] bool Matches(MatcherKind kind, std::string_view expression, std::string_view content,
                           const MatchOptions& options = {});

}  // namespace lk::testing
