#pragma once
// Long runs of zero bytes, as a sparse file's holes hold them, and what they can do to a verdict.
//
// Every fact the boolean program reads (a term occurs; two terms occur within NearestLength) is
// made of pieces that each cover a bounded stretch of zeros, at most the longest term plus its two
// separator bytes; a '*' never runs over a zero byte, which separates words. So a zero run that is
// longer than twice an edge of NearestLength plus twice that stretch holds, far from both of its
// ends, only zeros that no occurrence near the run's ends can reach, nor tell from a shorter run:
// cutting zeros out of its middle, keeping an edge on each side, keeps every fact and with it the
// verdict. One thing more can tell two lengths apart: a wildcard term that matches zeros alone
// follows itself through the run at a fixed step, and where its chain leaves the run moves the
// positions that a NEAR pair compares; the cut is therefore a multiple of every such step.
//
// ZeroRunView reads a file whose layer tells its holes (ReadableFile::DataFrom / HoleFrom) with
// the middle of every long hole cut out in this way, so that a matcher's work follows the data on
// disk, not the apparent size. Data is never cut, and neither is a hole shorter than the rule asks.

#include <cstdint>
#include <optional>
#include <vector>

#include "search/matcher/MatchPlan.h"
#include "system/FileSystem.h"

namespace lk {

struct ZeroRunRule {
  // Zeros kept at each end of a hole.
  std::int64_t edge = 0;
  // Every cut is a multiple of this.
  std::int64_t period = 1;
};

// The rule for a plan; nullopt when no cut is known to keep its verdict (the steps of its
// wildcard terms have too large a common multiple), so that holes are read as they are.
[[nodiscard]] std::optional<ZeroRunRule> ZeroRunRuleFor(const MatchPlan& plan);

// A file with the middle of each long hole cut out. Reads are served through the file itself
// (the zeros kept at a hole's ends are read as the file gives them). Its Size() is the size after
// the cuts; it tells no holes of its own.
class ZeroRunView final : public ReadableFile {
 public:
  // Walks the file's extents once, up to size (the file's size, as the caller took it).
  ZeroRunView(ReadableFile& file, std::int64_t size, const ZeroRunRule& rule);

  // Whether anything was cut: otherwise the file may as well be read directly.
  [[nodiscard]] bool Shortens() const noexcept { return !cuts_.empty(); }
  // The bytes cut out in all.
  [[nodiscard]] std::int64_t CutBytes() const noexcept { return cutTotal_; }

  [[nodiscard]] std::int64_t Size() override { return size_ - cutTotal_; }
  [[nodiscard]] ReadResult ReadAt(std::int64_t offset, void* buffer, std::size_t length) override;

 private:
  // At view position `at` (and after it), the file is `shift` bytes further on.
  struct Cut {
    std::int64_t at = 0;
    std::int64_t shift = 0;
  };
  // A hostile layout of millions of holes would cost memory per hole: past this many cuts the
  // remaining holes are read as zeros, which is slower but exact.
  static constexpr std::size_t kMostCuts = 1 << 20;

  ReadableFile& file_;
  std::int64_t size_;
  std::int64_t cutTotal_ = 0;
  std::vector<Cut> cuts_;
};

}  // namespace lk
