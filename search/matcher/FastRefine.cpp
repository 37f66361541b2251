#include "search/matcher/FastRefine.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <map>

#include "base/TextCase.h"
#include "search/expression/AnsiCharacters.h"
#include "search/expression/ExpressionCompiler.h"
#include "search/matcher/CandidateScanner.h"
#include "search/matcher/ContentWindow.h"
#include "search/wildcard/WildcardProcessor.h"

namespace lk {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// One file's evaluation of a plan.
class PlanRun {
 public:
  PlanRun(const MatchPlan& plan, ContentWindow& window);
  [[nodiscard]] bool Run();

 private:
  enum class PassEnd { Decided, Restart, Finished };

  struct TermScan {
    bool active = false;
    bool collect = false;        // positions are needed for a NEAR pair
    std::int64_t chainFrom = 0;  // wildcard: where the next occurrence may start
  };
  struct NearScan {
    std::size_t variable = 0;
    std::deque<std::int64_t> sides[2];
    std::int64_t last[2] = {0, 0};
    bool seen[2] = {false, false};
  };

  // The active terms, by the needle that finds their candidates; generic: terms without one.
  struct NeedleGroups {
    std::vector<Needle> needles;
    std::vector<std::vector<std::size_t>> needleTerms;
    std::vector<std::size_t> generic;
  };
  // The part of the window one step of a pass scans: data[begin, end), data[0] at base.
  struct Stretch {
    const std::uint8_t* data;
    std::int64_t base;
    std::size_t begin;
    std::size_t end;
  };

  void SetAbsent(std::size_t term);
  [[nodiscard]] bool OccursAtZero(const TermPlan& term) const;
  // One pass over the content, in steps: the watched facts' terms are made active, grouped by
  // needle, and each stretch of the window is scanned for their candidates; what was looked for
  // over the whole content and not found is false.
  [[nodiscard]] PassEnd Pass();
  void ActivateWatched();
  [[nodiscard]] NeedleGroups GroupByNeedle() const;
  // Both scans return true when the pass is to stop (stopReason_ says why).
  [[nodiscard]] bool ScanNeedles(const CandidateScanner& scanner, const NeedleGroups& groups,
                                 const Stretch& stretch);
  [[nodiscard]] bool ScanGeneric(const std::vector<std::size_t>& generic, const Stretch& stretch);
  void SettleUnfound();
  void OnCandidate(std::size_t term, std::int64_t position);
  [[nodiscard]] bool VerifyPlain(const TermPlan& term, std::int64_t position) const;
  void Record(std::size_t term, std::int64_t position);
  // Found facts are checked once per chunk of candidates, not once per fact: a long list of
  // terms would otherwise evaluate the program once per term.
  void SetTrue(std::size_t variable);
  void CheckDecision();
  void ReleaseNear(std::int64_t below);
  [[nodiscard]] bool IsSeparatorAt(std::int64_t position) const {
    if (position < 0 || position >= window_.Length()) return true;
    return IsWordSeparator(window_.At(position));
  }

  const MatchPlan& plan_;
  ContentWindow& window_;
  std::vector<Truth> truth_;
  std::vector<std::size_t> presence_;  // per term: its presence variable, or kNone
  std::vector<std::size_t> watched_;
  std::vector<TermScan> scans_;
  std::vector<NearScan> nears_;
  std::vector<std::vector<std::pair<std::size_t, int>>> nearSides_;  // per term
  bool changed_ = false;
  bool stop_ = false;
  PassEnd stopReason_ = PassEnd::Finished;
  std::vector<WildcardFailureMemo> memos_;
};

PlanRun::PlanRun(const MatchPlan& plan, ContentWindow& window)
    : plan_(plan),
      window_(window),
      truth_(plan.Variables().size(), Truth::Unknown),
      presence_(plan.Terms().size(), kNone) {
  const auto& variables = plan.Variables();
  for (std::size_t v = 0; v < variables.size(); ++v) {
    if (!variables[v].isNear) presence_[variables[v].term] = v;
  }
  for (std::size_t v = 0; v < variables.size(); ++v) {
    if (variables[v].isNear && plan.Options().nearestLength <= 0) truth_[v] = Truth::False;
  }
}

void PlanRun::SetAbsent(std::size_t term) {
  const auto& variables = plan_.Variables();
  for (std::size_t v = 0; v < variables.size(); ++v) {
    const PlanVariable& var = variables[v];
    if ((!var.isNear && var.term == term) ||
        (var.isNear && (var.left == term || var.right == term))) {
      truth_[v] = Truth::False;
    }
  }
}

bool PlanRun::OccursAtZero(const TermPlan& term) const {
  const auto length = static_cast<std::int64_t>(term.text.size());
  if (length > window_.Length()) return false;
  const bool matchCase = plan_.Options().matchCase;
  for (std::int64_t k = 0; k < length; ++k) {
    std::uint8_t b = window_.At(k);
    if (!matchCase) b = UpperWindows1252(b);
    if (b != static_cast<std::uint8_t>(term.text[static_cast<std::size_t>(k)])) return false;
  }
  return true;
}

bool PlanRun::Run() {
  const auto& terms = plan_.Terms();
  for (std::size_t t = 0; t < terms.size(); ++t) {
    // A plain term found first at the leading guard space has no occurrence at all.
    if (terms[t].neverMatches || (terms[t].canOccurAtZero && OccursAtZero(terms[t]))) {
      SetAbsent(t);
    }
  }
  for (;;) {
    const Truth result = plan_.Evaluate(truth_);
    if (result != Truth::Unknown) return result == Truth::True;
    watched_ = plan_.ChooseWatched(truth_);
    const PassEnd end = Pass();
    if (end == PassEnd::Decided) return plan_.Evaluate(truth_) == Truth::True;
  }
}

PlanRun::PassEnd PlanRun::Pass() {
  ActivateWatched();
  const NeedleGroups groups = GroupByNeedle();
  const CandidateScanner scanner(groups.needles);

  const std::int64_t keepBehind = plan_.MaxNeedleOffset() + 2;
  const std::int64_t keepAhead = plan_.MaxFixedLength() + 2;
  std::int64_t scanPos = 0;
  window_.Rewind();
  while (window_.Advance(scanPos - keepBehind)) {
    const std::int64_t limit = window_.AtEnd() ? window_.End() : window_.End() - keepAhead;
    if (limit <= scanPos) continue;
    const Stretch stretch{window_.Data(), window_.Base(),
                          static_cast<std::size_t>(scanPos - window_.Base()),
                          static_cast<std::size_t>(limit - window_.Base())};
    if (ScanNeedles(scanner, groups, stretch) || ScanGeneric(groups.generic, stretch)) {
      return stopReason_;
    }
    scanPos = limit;
    ReleaseNear(scanPos - plan_.MaxNeedleOffset());
    CheckDecision();
    if (stop_) return stopReason_;
  }
  ReleaseNear(std::numeric_limits<std::int64_t>::max());
  CheckDecision();
  if (stop_) return stopReason_;
  SettleUnfound();
  return PassEnd::Finished;
}

void PlanRun::ActivateWatched() {
  const auto& terms = plan_.Terms();
  const auto& variables = plan_.Variables();
  scans_.assign(terms.size(), TermScan{});
  nears_.clear();
  nearSides_.assign(terms.size(), {});
  stop_ = false;
  for (const std::size_t v : watched_) {
    if (truth_[v] != Truth::Unknown) continue;
    const PlanVariable& var = variables[v];
    if (!var.isNear) {
      scans_[var.term].active = true;
      continue;
    }
    NearScan near;
    near.variable = v;
    nears_.push_back(std::move(near));
    for (int side = 0; side < 2; ++side) {
      const std::size_t t = side == 0 ? var.left : var.right;
      scans_[t].active = true;
      scans_[t].collect = true;
      nearSides_[t].emplace_back(nears_.size() - 1, side);
    }
  }
}

PlanRun::NeedleGroups PlanRun::GroupByNeedle() const {
  // Terms that share a needle are verified together.
  const auto& terms = plan_.Terms();
  NeedleGroups groups;
  for (std::size_t t = 0; t < terms.size(); ++t) {
    if (!scans_[t].active) continue;
    if (!terms[t].hasNeedle) {
      groups.generic.push_back(t);
      continue;
    }
    const auto it = std::find(groups.needles.begin(), groups.needles.end(), terms[t].needle);
    if (it == groups.needles.end()) {
      groups.needles.push_back(terms[t].needle);
      groups.needleTerms.push_back({t});
    } else {
      groups.needleTerms[static_cast<std::size_t>(it - groups.needles.begin())].push_back(t);
    }
  }
  return groups;
}

bool PlanRun::ScanNeedles(const CandidateScanner& scanner, const NeedleGroups& groups,
                          const Stretch& stretch) {
  const auto& terms = plan_.Terms();
  std::size_t at = stretch.begin;
  while (at < stretch.end) {
    std::uint64_t bits = 0;
    at = scanner.NextChunk(stretch.data, at, stretch.end, bits);
    while (bits != 0) {
      const auto bit = static_cast<std::size_t>(__builtin_ctzll(bits));
      bits &= bits - 1;
      const std::size_t index = at + bit;
      for (std::size_t n = 0; n < groups.needles.size(); ++n) {
        if (!scanner.Matches(stretch.data, index, n)) continue;
        const std::int64_t c = stretch.base + static_cast<std::int64_t>(index);
        for (const std::size_t t : groups.needleTerms[n]) {
          if (!scans_[t].active) continue;
          OnCandidate(t, c - terms[t].needleOffset);
        }
      }
    }
    CheckDecision();
    if (stop_) return true;
    at += 64;
  }
  return false;
}

bool PlanRun::ScanGeneric(const std::vector<std::size_t>& generic, const Stretch& stretch) {
  const auto& terms = plan_.Terms();
  for (const std::size_t t : generic) {
    for (std::size_t index = stretch.begin; index < stretch.end && scans_[t].active; ++index) {
      const std::int64_t c = stretch.base + static_cast<std::int64_t>(index);
      if (terms[t].wildcard && !IsWordSeparator(stretch.data[index])) continue;
      OnCandidate(t, c - terms[t].needleOffset);
      if ((index & 63) == 63) {
        CheckDecision();
        if (stop_) return true;
      }
    }
    CheckDecision();
    if (stop_) return true;
  }
  return false;
}

void PlanRun::SettleUnfound() {
  // Everything watched was looked for over the whole content.
  for (const std::size_t v : watched_) {
    if (truth_[v] == Truth::Unknown) truth_[v] = Truth::False;
  }
  const auto& terms = plan_.Terms();
  for (std::size_t t = 0; t < terms.size(); ++t) {
    if (scans_[t].active && presence_[t] != kNone && truth_[presence_[t]] == Truth::Unknown) {
      truth_[presence_[t]] = Truth::False;
    }
  }
}

bool PlanRun::VerifyPlain(const TermPlan& term, std::int64_t position) const {
  const auto length = static_cast<std::int64_t>(term.text.size());
  if (position < 1 || position + length > window_.Length()) return false;
  const bool matchCase = plan_.Options().matchCase;
  for (std::int64_t k = 0; k < length; ++k) {
    std::uint8_t b = window_.At(position + k);
    if (!matchCase) b = UpperWindows1252(b);
    if (b != static_cast<std::uint8_t>(term.text[static_cast<std::size_t>(k)])) return false;
  }
  if (plan_.Options().wholeWordsOnly) {
    return IsSeparatorAt(position - 1) && IsSeparatorAt(position + length);
  }
  return true;
}

void PlanRun::OnCandidate(std::size_t t, std::int64_t position) {
  const TermPlan& term = plan_.Terms()[t];
  TermScan& scan = scans_[t];
  if (!term.wildcard) {
    if (VerifyPlain(term, position)) Record(t, position);
    return;
  }
  const std::int64_t separator = position - 1;
  if (separator < 0 || separator >= window_.Length()) return;
  if (!IsWordSeparator(window_.At(separator))) return;
  // Wildcard occurrences do not overlap: the next one starts where the previous one ended.
  if (scan.collect && separator < scan.chainFrom) return;
  const bool manyStars =
      std::count_if(term.tokens.begin(), term.tokens.end(), [](const WildcardToken& token) {
        return token.kind == WildcardTokenKind::AnySequence;
      }) > 1;
  // Failed searches stay failed for the whole content: each term keeps its memo for the file.
  if (manyStars && memos_.size() <= t) memos_.resize(t + 1);
  const WildcardMatcher<ContentWindow> matcher(window_, term.tokens, plan_.Options().matchCase,
                                               manyStars ? &memos_[t] : nullptr);
  std::int64_t end = 0;
  if (!matcher.MatchTokens(1, position, false, true, end)) return;
  scan.chainFrom = matcher.OccurrenceEnd(end, plan_.Options().wholeWordsOnly);
  Record(t, position);
}

void PlanRun::Record(std::size_t t, std::int64_t position) {
  TermScan& scan = scans_[t];
  if (scan.collect) {
    for (const auto& [near, side] : nearSides_[t]) {
      NearScan& n = nears_[near];
      if (truth_[n.variable] == Truth::Unknown) n.sides[side].push_back(position);
    }
  }
  const std::size_t v = presence_[t];
  if (!scan.collect) scan.active = false;
  if (v != kNone && truth_[v] == Truth::Unknown) SetTrue(v);
}

void PlanRun::SetTrue(std::size_t variable) {
  truth_[variable] = Truth::True;
  changed_ = true;
}

void PlanRun::CheckDecision() {
  if (!changed_ || stop_) return;
  changed_ = false;
  if (plan_.Evaluate(truth_) != Truth::Unknown) {
    stop_ = true;
    stopReason_ = PassEnd::Decided;
  } else if (!plan_.Decides(truth_, watched_)) {
    // What is watched no longer suffices: look again from the start for more.
    stop_ = true;
    stopReason_ = PassEnd::Restart;
  }
}

void PlanRun::ReleaseNear(std::int64_t below) {
  const std::int64_t distance = plan_.Options().nearestLength;
  for (NearScan& n : nears_) {
    while (truth_[n.variable] == Truth::Unknown) {
      // The smallest pending position of either side, left first on a tie.
      int side = -1;
      if (!n.sides[0].empty() && n.sides[0].front() < below) side = 0;
      if (!n.sides[1].empty() && n.sides[1].front() < below &&
          (side < 0 || n.sides[1].front() < n.sides[0].front())) {
        side = 1;
      }
      if (side < 0) break;
      const std::int64_t position = n.sides[side].front();
      n.sides[side].pop_front();
      const int other = 1 - side;
      if (n.seen[other] && position - n.last[other] < distance) {
        SetTrue(n.variable);
        n.sides[0].clear();
        n.sides[1].clear();
        break;
      }
      n.last[side] = position;
      n.seen[side] = true;
    }
  }
}

}  // namespace

FastRefine::FastRefine() = default;

std::unique_ptr<Refine> FastRefine::NewOfSameKind() const {
  auto copy = std::make_unique<FastRefine>();
  CopySettingsTo(*copy);
  copy->SetBlockSize(blockSize_);
  return copy;
}
FastRefine::~FastRefine() = default;

bool FastRefine::Compile(std::string_view text) {
  if (haveCompiled_ && compiledText_ == text && compiledMatchCase_ == MatchCase()) {
    return compiledValid_;
  }
  compiledValid_ = CompileExpression(text, MatchCase()).valid;
  compiledText_ = text;
  compiledMatchCase_ = MatchCase();
  haveCompiled_ = true;
  return compiledValid_;
}

const FastRefine::CachedPlan& FastRefine::PlanFor(const std::string& text) {
  PlanKey key{text,
              {MatchCase(), WholeWordsOnly(), NearestLength(), AnySingleCharacter(),
               AnySequenceCharacter()}};
  for (const CachedPlan& cached : plans_) {
    if (cached.key == key) return cached;
  }
  const CompileResult compiled = CompileExpression(text, MatchCase());
  CachedPlan entry;
  entry.key = std::move(key);
  if (!compiled.expression.Empty()) {
    entry.plan = std::make_unique<MatchPlan>(compiled.expression, entry.key.options);
    entry.zeroRuns = ZeroRunRuleFor(*entry.plan);
  }
  constexpr std::size_t kMaxCachedPlans = 8;
  if (plans_.size() >= kMaxCachedPlans) plans_.erase(plans_.begin());
  plans_.push_back(std::move(entry));
  return plans_.back();
}

bool FastRefine::MatchStream(ReadableFile& file) {
  const std::int64_t size = file.Size();
  if (size < 0) throw FileReadError("Cannot tell the file size");
  const CachedPlan& cached = PlanFor(Template());
  const MatchPlan* plan = cached.plan.get();
  if (plan == nullptr || plan->Empty()) return false;
  if (cached.zeroRuns && file.HoleFrom(0) < size) {
    ZeroRunView view(file, size, *cached.zeroRuns);
    if (view.Shortens()) {
      ContentWindow window(view, view.Size(), blockSize_, buffer_);
      PlanRun run(*plan, window);
      return run.Run();
    }
  }
  ContentWindow window(file, size, blockSize_, buffer_);
  PlanRun run(*plan, window);
  return run.Run();
}

}  // namespace lk
