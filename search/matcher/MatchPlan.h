#pragma once
// What the production matcher makes of a compiled expression and the options, once per distinct
// expression: the distinct terms with how to find them, the NEAR pairs, and the boolean program
// that decides the result from what has been found.
//
// Every operator but NEAR only asks whether its operands are lists, and NEAR only ever joins two
// terms, so the result is a boolean function of "term T occurs" and "terms L and R occur within
// NearestLength of each other". Those facts only ever turn from unknown to found while a file is
// read, and become absent at its end; the program is evaluated in three values so that reading
// stops as soon as the result is decided.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "search/expression/SearchExpression.h"
#include "search/wildcard/WildcardProcessor.h"

namespace lk {

struct MatchPlanOptions {
  bool matchCase = false;
  bool wholeWordsOnly = false;
  std::int32_t nearestLength = 50;
  char anySingleCharacter = '?';
  char anySequenceCharacter = '*';
};

// How candidate positions of a term are found: two bytes (or one) at fixed distances from the
// term's position, compared after OR-ing 0x20 (which keeps every case variant of the byte).
struct Needle {
  std::uint8_t first = 0;     // folded value at the candidate
  std::uint8_t second = 0;    // folded value at candidate + distance
  std::uint8_t distance = 0;  // 0: one byte only
  [[nodiscard]] bool operator==(const Needle&) const = default;
};

struct TermPlan {
  std::string text;
  bool wildcard = false;
  WildcardTokens tokens;     // wildcard terms
  bool hasSequence = false;  // a wildcard term with '*'
  // Never has an occurrence: the empty term, the separator token as a plain term, or a term
  // whose literal can never be found.
  bool neverMatches = false;
  // A plain term that begins with a space can occur at the leading guard space, which ends its
  // search without a match.
  bool canOccurAtZero = false;
  // Candidates come from the needle: the term's position p = candidate - needleOffset. Without
  // a needle every separator byte s (wildcard: p = s + 1) or every position (plain) is tried.
  bool hasNeedle = false;
  Needle needle;
  std::int64_t needleOffset = 0;
  // Bytes from the term's position that a match spans for sure without '*' (verification reads
  // them; the window keeps that much ahead).
  std::int64_t fixedLength = 0;
  // Estimated candidate rate, lower is rarer; picks which terms to watch.
  double cost = 0;
};

// A variable of the boolean program: a term's presence, or a NEAR pair.
struct PlanVariable {
  bool isNear = false;
  std::size_t term = 0;   // presence: the term
  std::size_t left = 0;   // NEAR: the left term
  std::size_t right = 0;  // NEAR: the right term
};

enum class Truth : std::uint8_t { False, True, Unknown };

class MatchPlan {
 public:
  MatchPlan(const SearchExpression& expression, const MatchPlanOptions& options);

  [[nodiscard]] const MatchPlanOptions& Options() const noexcept { return options_; }
  [[nodiscard]] bool Empty() const noexcept { return program_.empty(); }
  [[nodiscard]] const std::vector<TermPlan>& Terms() const noexcept { return terms_; }
  [[nodiscard]] const std::vector<PlanVariable>& Variables() const noexcept { return variables_; }
  // Largest needle offset and fixed length over all terms.
  [[nodiscard]] std::int64_t MaxNeedleOffset() const noexcept { return maxNeedleOffset_; }
  [[nodiscard]] std::int64_t MaxFixedLength() const noexcept { return maxFixedLength_; }

  // The program's value given each variable's truth.
  [[nodiscard]] Truth Evaluate(const std::vector<Truth>& variables) const;
  // A small set of unknown variables that, all turning out absent, decide the result: what one
  // pass over the file must watch. Variables already decided are never chosen.
  [[nodiscard]] std::vector<std::size_t> ChooseWatched(const std::vector<Truth>& variables) const;
  // Whether the unknown variables among watched, all absent, decide the result.
  [[nodiscard]] bool Decides(const std::vector<Truth>& variables,
                             const std::vector<std::size_t>& watched) const;

 private:
  enum class Instruction : std::uint8_t { Variable, And, Or, Not };
  struct Step {
    Instruction instruction;
    std::size_t variable;
  };

  std::size_t AddTerm(const std::string& text);
  void PlanNeedle(TermPlan& term) const;

  MatchPlanOptions options_;
  std::vector<TermPlan> terms_;
  std::unordered_map<std::string, std::size_t> termIndex_;
  std::vector<PlanVariable> variables_;
  std::vector<Step> program_;
  std::int64_t maxNeedleOffset_ = 0;
  std::int64_t maxFixedLength_ = 0;
};

}  // namespace lk
