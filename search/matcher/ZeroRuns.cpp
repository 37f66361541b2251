#include "search/matcher/ZeroRuns.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>

#include "search/wildcard/WildcardProcessor.h"

namespace lk {
namespace {

// A stretch of zeros as the wildcard algorithms read content.
class Zeros {
 public:
  explicit Zeros(std::int64_t length) : length_(length) {}
  [[nodiscard]] std::int64_t Length() const noexcept { return length_; }
  [[nodiscard]] std::uint8_t At(std::int64_t /*position*/) const noexcept { return 0; }

 private:
  std::int64_t length_;
};

// The largest common multiple of wildcard steps still worth cutting by; beyond it the holes are
// read whole.
constexpr std::int64_t kMostPeriod = 4096;

// The step from one occurrence of a wildcard term to the next one inside a long run of zeros; 1
// when it has no occurrence there, 0 when the step cannot be told.
std::int64_t StepInZeros(const TermPlan& term, const MatchPlanOptions& options, std::int64_t span) {
  const Zeros zeros(4 * span + 8);
  const WildcardMatcher<Zeros> matcher(zeros, term.tokens, options.matchCase);
  std::int64_t next = 0;
  const std::int64_t first = matcher.FindPattern(0, options.wholeWordsOnly, next);
  if (first < 0) return 1;
  const std::int64_t second = matcher.FindPattern(next, options.wholeWordsOnly, next);
  if (second <= first) return 0;
  return second - first;
}

}  // namespace

std::optional<ZeroRunRule> ZeroRunRuleFor(const MatchPlan& plan) {
  const MatchPlanOptions& options = plan.Options();
  // The zeros one occurrence can cover or look at: its bytes and a separator on either side.
  std::int64_t span = 2;
  for (const TermPlan& term : plan.Terms()) {
    span = std::max(span, static_cast<std::int64_t>(term.text.size()) + 2);
  }
  bool hasNear = false;
  std::int64_t period = 1;
  for (const PlanVariable& variable : plan.Variables()) {
    if (!variable.isNear) continue;
    hasNear = true;
    for (const std::size_t index : {variable.left, variable.right}) {
      const TermPlan& term = plan.Terms()[index];
      if (!term.wildcard) continue;
      const std::int64_t step = StepInZeros(term, options, span);
      if (step <= 0) return std::nullopt;
      period = std::lcm(period, step);
      if (period > kMostPeriod) return std::nullopt;
    }
  }
  const std::int64_t near =
      hasNear ? std::max<std::int64_t>(options.nearestLength, 0) : std::int64_t{0};
  ZeroRunRule rule;
  rule.edge = near + 2 * span + 2;
  rule.period = period;
  return rule;
}

ZeroRunView::ZeroRunView(ReadableFile& file, std::int64_t size, const ZeroRunRule& rule)
    : file_(file), size_(std::max<std::int64_t>(size, 0)) {
  const std::int64_t edge = std::max<std::int64_t>(rule.edge, 0);
  const std::int64_t period = std::max<std::int64_t>(rule.period, 1);
  std::int64_t offset = 0;
  while (offset < size_ && cuts_.size() < kMostCuts) {
    // A layer that answers out of order is taken to have no hole there.
    const std::int64_t data = std::clamp(file_.DataFrom(offset), offset, size_);
    if (data > offset) {
      const std::int64_t removable = data - offset - 2 * edge;
      const std::int64_t cut = removable > 0 ? removable / period * period : 0;
      if (cut > 0) {
        cutTotal_ += cut;
        cuts_.push_back({offset + edge - (cutTotal_ - cut), cutTotal_});
      }
    }
    if (data >= size_) break;
    std::int64_t hole = file_.HoleFrom(data);
    if (hole <= data || hole > size_) hole = size_;
    offset = hole;
  }
}

ReadResult ZeroRunView::ReadAt(std::int64_t offset, void* buffer, std::size_t length) {
  if (offset < 0) return ReadResult{0, file_error::kInvalidParameter};
  auto* out = static_cast<char*>(buffer);
  const std::int64_t size = Size();
  std::size_t done = 0;
  while (done < length) {
    const std::int64_t at = offset + static_cast<std::int64_t>(done);
    if (at >= size) break;
    // The last cut at or before `at`, and where the next one begins.
    const auto next = std::upper_bound(cuts_.begin(), cuts_.end(), at,
                                       [](std::int64_t p, const Cut& c) { return p < c.at; });
    const std::int64_t shift = next == cuts_.begin() ? 0 : std::prev(next)->shift;
    const std::int64_t stop = next == cuts_.end() ? size : next->at;
    const auto want = static_cast<std::size_t>(
        std::min<std::int64_t>(stop - at, static_cast<std::int64_t>(length - done)));
    const ReadResult read = file_.ReadAt(at + shift, out + done, want);
    done += read.bytes;
    if (!read.Ok()) return ReadResult{done, read.error};
    if (read.bytes == 0) break;
  }
  return ReadResult{done, 0};
}

}  // namespace lk
