#include "search/matcher/RefineExecuter.h"

#include <stdexcept>

#include "search/expression/AnsiCharacters.h"
#include "search/wildcard/WildcardProcessor.h"

namespace lk {
namespace {

// The content buffer as the wildcard algorithms see it.
class FlatContent {
 public:
  explicit FlatContent(std::string_view bytes) : bytes_(bytes) {}
  [[nodiscard]] std::int64_t Length() const noexcept {
    return static_cast<std::int64_t>(bytes_.size());
  }
  [[nodiscard]] std::uint8_t At(std::int64_t position) const noexcept {
    return static_cast<std::uint8_t>(bytes_[static_cast<std::size_t>(position)]);
  }

 private:
  std::string_view bytes_;
};

// Beyond the end of the buffer counts as a separator: a term ending in the trailing guard space
// is bounded there.
bool IsSeparatorAt(const FlatContent& content, std::int64_t position) {
  if (position < 0 || position >= content.Length()) return true;
  return IsWordSeparator(content.At(position));
}

}  // namespace

std::vector<std::int64_t> RefineExecuter::TermPositions(std::string_view term,
                                                        std::string_view bytes) const {
  const FlatContent content(bytes);
  std::vector<std::int64_t> positions;
  if (IsWildcardTerm(term, options_.anySingleCharacter, options_.anySequenceCharacter)) {
    const WildcardTokens tokens = SplitWildcardTemplate(
        term, options_.anySingleCharacter, options_.anySequenceCharacter, options_.wholeWordsOnly);
    const WildcardMatcher<FlatContent> matcher(content, tokens, options_.matchCase);
    std::int64_t next = 0;
    std::int64_t p = matcher.FindPattern(0, options_.wholeWordsOnly, next);
    while (p > 0) {
      positions.push_back(p);
      // A pattern that matches nothing but the empty run after the trailing guard space would
      // find that same occurrence for ever; each occurrence counts once.
      const std::int64_t previous = p;
      p = matcher.FindPattern(next, options_.wholeWordsOnly, next);
      if (p >= 0 && p <= previous) break;
    }
    return positions;
  }
  const auto length = static_cast<std::int64_t>(term.size());
  std::int64_t p = ScanLiteral(content, 0, term, options_.matchCase, true);
  while (p > 0) {
    bool accepted = true;
    if (options_.wholeWordsOnly) {
      accepted = IsSeparatorAt(content, p - 1) && IsSeparatorAt(content, p + length);
    }
    if (accepted) positions.push_back(p);
    p = ScanLiteral(content, p + 1, term, options_.matchCase, true);
  }
  return positions;
}

RefineExecuter::MatchValue RefineExecuter::Pop() {
  if (stack_.empty()) throw std::runtime_error("evaluation stack empty");
  MatchValue value = std::move(stack_.back());
  stack_.pop_back();
  return value;
}

bool RefineExecuter::Step() {
  if (pc_ >= program_->Count()) return false;
  const std::int32_t op = program_->Integer(pc_);
  switch (static_cast<OpCode>(op)) {
    case OpCode::Term: {
      ++pc_;
      std::vector<std::int64_t> positions = TermPositions(program_->Text(pc_), content_);
      if (positions.empty()) {
        Push(std::nullopt);
      } else {
        Push(std::move(positions));
      }
      break;
    }
    case OpCode::And:
    case OpCode::Or: {
      MatchValue r = Pop();
      MatchValue l = Pop();
      if (r && l) {
        r->insert(r->end(), l->begin(), l->end());
        Push(std::move(r));
      } else if (static_cast<OpCode>(op) == OpCode::Or && r) {
        Push(std::move(r));
      } else if (static_cast<OpCode>(op) == OpCode::Or && l) {
        Push(std::move(l));
      } else {
        Push(std::nullopt);
      }
      break;
    }
    case OpCode::Near: {
      MatchValue r = Pop();
      MatchValue l = Pop();
      std::vector<std::int64_t> pairs;
      if (r && l) {
        for (const std::int64_t rp : *r) {
          for (const std::int64_t lp : *l) {
            const std::int64_t distance = rp > lp ? rp - lp : lp - rp;
            if (distance < options_.nearestLength) {
              pairs.push_back(rp);
              pairs.push_back(lp);
            }
          }
        }
      }
      if (pairs.empty()) {
        Push(std::nullopt);
      } else {
        Push(std::move(pairs));
      }
      break;
    }
    case OpCode::Not: {
      MatchValue x = Pop();
      if (x) {
        Push(std::nullopt);
      } else {
        Push(std::vector<std::int64_t>{0});
      }
      break;
    }
    default:
      throw std::runtime_error("unknown instruction");
  }
  ++pc_;
  return true;
}

bool RefineExecuter::Execute(const SearchExpression& program, std::string_view content) {
  program_ = &program;
  content_ = content;
  stack_.clear();
  pc_ = 0;
  while (Step()) {
  }
  return !stack_.empty() && stack_.back().has_value();
}

}  // namespace lk
