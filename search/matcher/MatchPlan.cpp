#include "search/matcher/MatchPlan.h"

#include <algorithm>
#include <array>
#include <map>
#include <utility>

#include "base/TextCase.h"

namespace lk {
namespace {

// Rough share (per mille) of each byte value in executable files: zero bytes and a few opcode
// and prefix bytes are common, capital letters and high bytes rare.
double ByteFrequency(std::uint8_t b) {
  switch (b) {
    case 0x00:
      return 150;
    case 0xFF:
      return 25;
    case 0xCC:
      return 15;
    case 0x48:
    case 0x8B:
      return 12;
    case 0x89:
    case 0x0F:
    case 0x24:
    case 0x01:
      return 8;
    case 0x41:
    case 0x44:
    case 0x45:
    case 0x49:
    case 0x4C:
    case 0x20:
      return 6;
    default:
      break;
  }
  if (b >= 'a' && b <= 'z') {
    return std::string_view("etaoinsrlcd").find(static_cast<char>(b)) != std::string_view::npos ? 9
                                                                                                : 5;
  }
  if (b >= 'A' && b <= 'Z') return 2.5;
  if (b >= '0' && b <= '9') return 3;
  if (b >= 0x02 && b <= 0x08) return 5;
  if (b >= 0x80) return 2;
  return 3;
}

// The share of bytes that pass the folded comparison with value v: v and v ^ 0x20.
double FilterFrequency(std::uint8_t v) {
  return ByteFrequency(v) + ByteFrequency(static_cast<std::uint8_t>(v ^ 0x20));
}

// Whether every content byte that compares equal to v passes the folded filter.
bool CanFilterOn(std::uint8_t v, bool matchCase) {
  if (matchCase) return true;
  bool any = false;
  for (int b = 0; b < 256; ++b) {
    if (UpperWindows1252(static_cast<std::uint8_t>(b)) != v) continue;
    any = true;
    if ((b | 0x20) != (v | 0x20)) return false;
  }
  return any;
}

}  // namespace

MatchPlan::MatchPlan(const SearchExpression& expression, const MatchPlanOptions& options)
    : options_(options) {
  std::map<std::size_t, std::size_t> presenceOfTerm;
  std::map<std::pair<std::size_t, std::size_t>, std::size_t> nearOfTerms;
  // For each program step, the term it reads when it is a presence variable.
  std::vector<std::size_t> termOfStep;
  constexpr std::size_t kNoTerm = static_cast<std::size_t>(-1);

  for (std::size_t i = 0; i < expression.Count(); ++i) {
    if (expression.IsText(i)) continue;
    switch (static_cast<OpCode>(expression.Integer(i))) {
      case OpCode::Term: {
        ++i;
        const std::size_t term = AddTerm(
            i < expression.Count() && expression.IsText(i) ? expression.Text(i) : std::string());
        auto [it, inserted] = presenceOfTerm.try_emplace(term, variables_.size());
        if (inserted) variables_.push_back({false, term, 0, 0});
        program_.push_back({Instruction::Variable, it->second});
        termOfStep.push_back(term);
        break;
      }
      case OpCode::Near: {
        // NEAR only ever joins two terms: the two steps before it.
        const std::size_t n = program_.size();
        if (n < 2 || termOfStep[n - 1] == kNoTerm || termOfStep[n - 2] == kNoTerm) break;
        const std::size_t left = termOfStep[n - 2];
        const std::size_t right = termOfStep[n - 1];
        program_.resize(n - 2);
        termOfStep.resize(n - 2);
        auto [it, inserted] = nearOfTerms.try_emplace({left, right}, variables_.size());
        if (inserted) variables_.push_back({true, 0, left, right});
        program_.push_back({Instruction::Variable, it->second});
        termOfStep.push_back(kNoTerm);
        break;
      }
      case OpCode::And:
        program_.push_back({Instruction::And, 0});
        termOfStep.push_back(kNoTerm);
        break;
      case OpCode::Or:
        program_.push_back({Instruction::Or, 0});
        termOfStep.push_back(kNoTerm);
        break;
      case OpCode::Not:
        program_.push_back({Instruction::Not, 0});
        termOfStep.push_back(kNoTerm);
        break;
    }
  }
  for (const TermPlan& term : terms_) {
    maxNeedleOffset_ = std::max(maxNeedleOffset_, term.needleOffset);
    maxFixedLength_ = std::max(maxFixedLength_, term.fixedLength);
  }
}

std::size_t MatchPlan::AddTerm(const std::string& text) {
  const auto [it, inserted] = termIndex_.try_emplace(text, terms_.size());
  if (!inserted) return it->second;
  TermPlan term;
  term.text = text;
  term.wildcard = IsWildcardTerm(text, options_.anySingleCharacter, options_.anySequenceCharacter);
  if (term.wildcard) {
    term.tokens = SplitWildcardTemplate(text, options_.anySingleCharacter,
                                        options_.anySequenceCharacter, options_.wholeWordsOnly);
    for (const WildcardToken& token : term.tokens) {
      if (token.kind == WildcardTokenKind::AnySequence) term.hasSequence = true;
    }
  } else {
    // The separator token as a plain term first occurs at the leading guard space.
    term.neverMatches = text.empty() || (text.size() == 1 && text[0] == kSeparatorTokenCharacter);
    term.canOccurAtZero = !text.empty() && text[0] == ' ';
  }
  PlanNeedle(term);
  terms_.push_back(std::move(term));
  return terms_.size() - 1;
}

void MatchPlan::PlanNeedle(TermPlan& term) const {
  // The bytes known at fixed offsets from the term's position.
  std::vector<std::pair<std::int64_t, std::uint8_t>> known;
  std::int64_t offset = 0;
  if (term.wildcard) {
    for (std::size_t i = 1; i < term.tokens.size(); ++i) {
      const WildcardToken& token = term.tokens[i];
      if (token.kind == WildcardTokenKind::AnySequence) break;
      if (token.kind == WildcardTokenKind::Literal && !token.IsSeparator()) {
        for (const char c : token.text) known.emplace_back(offset++, static_cast<std::uint8_t>(c));
      } else {
        offset += static_cast<std::int64_t>(token.text.size());
      }
    }
  } else {
    for (const char c : term.text) known.emplace_back(offset++, static_cast<std::uint8_t>(c));
  }
  term.fixedLength = offset;

  std::erase_if(known,
                [this](const auto& k) { return !CanFilterOn(k.second, options_.matchCase); });
  double best = 0;
  bool found = false;
  for (std::size_t i = 0; i < known.size(); ++i) {
    const double fi = FilterFrequency(known[i].second);
    if (!found || fi < best) {
      best = fi;
      found = true;
      term.needle = {static_cast<std::uint8_t>(known[i].second | 0x20), 0, 0};
      term.needleOffset = known[i].first;
    }
    for (std::size_t j = i + 1; j < known.size(); ++j) {
      const std::int64_t distance = known[j].first - known[i].first;
      if (distance > 15) break;
      const double cost = fi * FilterFrequency(known[j].second) / 1000.0;
      if (cost < best) {
        best = cost;
        term.needle = {static_cast<std::uint8_t>(known[i].second | 0x20),
                       static_cast<std::uint8_t>(known[j].second | 0x20),
                       static_cast<std::uint8_t>(distance)};
        term.needleOffset = known[i].first;
      }
    }
  }
  term.hasNeedle = found;
  if (found) {
    term.cost = best;
  } else {
    term.needleOffset = term.wildcard ? -1 : 0;
    term.cost = term.wildcard ? 400 : 1000;
  }
  if (term.neverMatches) term.cost = 0;
}

Truth MatchPlan::Evaluate(const std::vector<Truth>& variables) const {
  if (program_.empty()) return Truth::False;
  std::vector<Truth> stack;
  stack.reserve(16);
  for (const Step& step : program_) {
    switch (step.instruction) {
      case Instruction::Variable:
        stack.push_back(variables[step.variable]);
        break;
      case Instruction::Not: {
        if (stack.empty()) return Truth::False;
        Truth& x = stack.back();
        if (x != Truth::Unknown) x = x == Truth::True ? Truth::False : Truth::True;
        break;
      }
      case Instruction::And:
      case Instruction::Or: {
        if (stack.size() < 2) return Truth::False;
        const Truth r = stack.back();
        stack.pop_back();
        const Truth l = stack.back();
        const Truth dominant = step.instruction == Instruction::And ? Truth::False : Truth::True;
        if (l == dominant || r == dominant) {
          stack.back() = dominant;
        } else if (l == Truth::Unknown || r == Truth::Unknown) {
          stack.back() = Truth::Unknown;
        } else {
          stack.back() = l;
        }
        break;
      }
    }
  }
  return stack.empty() ? Truth::False : stack.back();
}

bool MatchPlan::Decides(const std::vector<Truth>& variables,
                        const std::vector<std::size_t>& watched) const {
  std::vector<Truth> assumed = variables;
  for (const std::size_t v : watched) {
    if (assumed[v] == Truth::Unknown) assumed[v] = Truth::False;
  }
  return Evaluate(assumed) != Truth::Unknown;
}

std::vector<std::size_t> MatchPlan::ChooseWatched(const std::vector<Truth>& variables) const {
  std::vector<bool> used(variables_.size(), false);
  for (const Step& step : program_) {
    if (step.instruction == Instruction::Variable) used[step.variable] = true;
  }
  std::vector<std::size_t> watched;
  for (std::size_t v = 0; v < variables_.size(); ++v) {
    if (used[v] && variables[v] == Truth::Unknown) watched.push_back(v);
  }
  constexpr std::size_t kMaxTrimmed = 64;
  if (watched.size() > kMaxTrimmed) return watched;
  const auto cost = [this](std::size_t v) {
    const PlanVariable& var = variables_[v];
    return var.isNear ? terms_[var.left].cost + terms_[var.right].cost : terms_[var.term].cost;
  };
  std::vector<std::size_t> order = watched;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return cost(a) > cost(b); });
  for (const std::size_t v : order) {
    std::vector<std::size_t> without;
    for (const std::size_t w : watched) {
      if (w != v) without.push_back(w);
    }
    if (Decides(variables, without)) watched = std::move(without);
  }
  return watched;
}

}  // namespace lk
