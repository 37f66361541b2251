#pragma once
// The stack machine that evaluates a compiled expression over one content buffer, literally as
// defined: every instruction runs, every term is searched over the whole buffer, and position
// lists are kept in full. Slow by design; it is the oracle that the production matcher is
// checked against.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "search/expression/SearchExpression.h"

namespace lk {

struct ExecuterOptions {
  char anySingleCharacter = '?';
  char anySequenceCharacter = '*';
  std::int32_t nearestLength = 50;
  bool wholeWordsOnly = false;
  bool matchCase = false;
};

class RefineExecuter {
 public:
  // No-match, or a non-empty list of positions.
  using MatchValue = std::optional<std::vector<std::int64_t>>;

  explicit RefineExecuter(const ExecuterOptions& options) : options_(options) {}

  // content: the content buffer, guard spaces included.
  [[nodiscard]] bool Execute(const SearchExpression& program, std::string_view content);

  // The positions of one term in the content buffer (empty: no match).
  [[nodiscard]] std::vector<std::int64_t> TermPositions(std::string_view term,
                                                        std::string_view content) const;

 private:
  [[nodiscard]] bool Step();
  void Push(MatchValue value) { stack_.push_back(std::move(value)); }
  [[nodiscard]] MatchValue Pop();

  ExecuterOptions options_;
  const SearchExpression* program_ = nullptr;
  std::string_view content_;
  std::vector<MatchValue> stack_;
  std::size_t pc_ = 0;
};

}  // namespace lk
