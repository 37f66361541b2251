#pragma once
// The vectorised candidate search of the production matcher: one pass over a buffer finds every
// position where one of a set of needles (one or two bytes at a fixed distance, compared after
// OR-ing 0x20) matches. SSE2 is the baseline on x86; AVX2 or AVX-512 is used when the processor has
// it; other architectures get a scalar loop. Candidates are a superset of matches: the caller
// verifies each one.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "search/matcher/MatchPlan.h"

namespace lk {

// Up to eight needles as the vector loops take them. A one-byte needle compares its byte twice
// (distance 0), so that every needle takes the same path.
struct NeedleTable {
  static constexpr std::size_t kSize = 8;
  std::size_t count = 0;
  std::array<std::uint8_t, kSize> first{};
  std::array<std::uint8_t, kSize> second{};
  std::array<std::uint8_t, kSize> distance{};
};

class CandidateScanner {
 public:
  // Bytes after the end of the scanned range that the scan may read (their values do not matter).
  static constexpr std::size_t kReadAhead = 96;

  explicit CandidateScanner(std::vector<Needle> needles);

  [[nodiscard]] const std::vector<Needle>& Needles() const noexcept { return needles_; }
  [[nodiscard]] bool Empty() const noexcept { return needles_.empty(); }

  // Finds the first 64-byte chunk at or after begin (chunks start at begin + k * 64) that holds a
  // candidate below end. Returns the chunk's start and its candidate bits (bit i: position
  // start + i, at least one needle matches there), or end and 0 when there is none.
  [[nodiscard]] std::size_t NextChunk(const std::uint8_t* data, std::size_t begin, std::size_t end,
                                      std::uint64_t& bits) const;
  // Whether needle n matches at position index.
  [[nodiscard]] bool Matches(const std::uint8_t* data, std::size_t index, std::size_t n) const {
    const Needle& needle = needles_[n];
    if ((data[index] | 0x20) != needle.first) return false;
    return needle.distance == 0 || (data[index + needle.distance] | 0x20) == needle.second;
  }

  enum class Implementation { Best, Avx512, Avx2, Sse2, Scalar };
  // Which loop runs ("avx512", "avx2", "sse2", "scalar").
  [[nodiscard]] static const char* ImplementationName();
  // Tests and measurements: selects a loop; one that the machine lacks falls back to the best.
  static void SelectImplementation(Implementation implementation);

 private:
  std::vector<Needle> needles_;
  mutable std::vector<NeedleTable> tables_;
};

}  // namespace lk
