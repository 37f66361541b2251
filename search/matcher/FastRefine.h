#pragma once
// The production matcher: the same result as the reference matcher for every expression, option
// set and content, but fast and in bounded memory.
//
// An expression is compiled once (per text and options) into a MatchPlan. Each file is read
// block by block into one reused buffer; one vectorised pass finds candidates for all terms that
// can still change the result, each candidate is verified with the defined comparisons, and
// reading stops as soon as the result is decided. Terms joined by AND are not all looked for at
// once: a pass watches just enough terms that their absence decides the result, and a new pass
// from the start follows only when a watched term turns up without deciding it. Positions are
// 64-bit. A file whose layer tells its holes is read with the middle of every long hole cut out
// (ZeroRunView), so that a sparse file costs what its data costs. Memory is bounded by the block
// size except where a '*' has to follow a very long word (which reads ahead through a small extra
// block) or a NEAR term occurs very often.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "search/matcher/MatchPlan.h"
#include "search/matcher/Refine.h"
#include "search/matcher/ZeroRuns.h"

namespace lk {

class FastRefine final : public Refine {
 public:
  static constexpr std::size_t kDefaultBlockSize = 256 * 1024;

  FastRefine();
  ~FastRefine() override;

  [[nodiscard]] bool Compile(std::string_view text) override;
  [[nodiscard]] bool MatchStream(ReadableFile& file) override;
  [[nodiscard]] std::unique_ptr<Refine> NewOfSameKind() const override;

  // Bytes read per block (tests use small blocks so that matches straddle block boundaries).
  void SetBlockSize(std::size_t bytes) { blockSize_ = bytes == 0 ? 1 : bytes; }
  [[nodiscard]] std::size_t BlockSize() const noexcept { return blockSize_; }

 private:
  struct PlanKey {
    std::string text;
    MatchPlanOptions options;
    [[nodiscard]] bool operator==(const PlanKey& other) const {
      return text == other.text && options.matchCase == other.options.matchCase &&
             options.wholeWordsOnly == other.options.wholeWordsOnly &&
             options.nearestLength == other.options.nearestLength &&
             options.anySingleCharacter == other.options.anySingleCharacter &&
             options.anySequenceCharacter == other.options.anySequenceCharacter;
    }
  };
  struct CachedPlan {
    PlanKey key;
    std::unique_ptr<MatchPlan> plan;  // null: the text does not compile to a program
    std::optional<ZeroRunRule> zeroRuns;
  };

  [[nodiscard]] const CachedPlan& PlanFor(const std::string& text);

  std::size_t blockSize_ = kDefaultBlockSize;
  std::vector<CachedPlan> plans_;
  std::string compiledText_;
  bool compiledMatchCase_ = false;
  bool compiledValid_ = false;
  bool haveCompiled_ = false;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace lk
