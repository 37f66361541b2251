#pragma once
// The parser of the search expression language: an LALR(1) automaton of 23 states over the
// grammar below, emitting the postfix code of each rule as the rule is reduced.
//
//   search: (empty) | expr
//   expr:   expr AND expr | expr '+' expr | expr OR expr | expr '|' expr | term NEAR term
//         | NOT expr | expr '-' expr | '(' expr ')' | term
//   term:   STRING | WORD
//
// AND binds tighter than OR, both group from the left, NOT binds tighter than both; '+', '-'
// and '|' have no precedence, so the parser always shifts them and what follows them. The state
// stack holds 1024 entries; deeper nesting aborts the parse ("yyparse stack overflow"), so no
// input can exhaust memory or the machine stack. The first error aborts the parse.

#include <string>

#include "search/expression/RefineLexer.h"
#include "search/expression/SearchExpression.h"

namespace lk {

class RefineParser {
 public:
  static constexpr std::size_t kMaxDepth = 1024;

  explicit RefineParser(RefineLexer& lexer) : lexer_(lexer) {}

  // True when the input is accepted; the code is then in Result(). Diagnostics are lines ended by
  // a line feed ("syntax error at line N", "yyparse stack overflow at line N",
  // "match stack overflow").
  [[nodiscard]] bool Parse();
  [[nodiscard]] const SearchExpression& Result() const noexcept { return result_; }
  [[nodiscard]] const std::string& Diagnostics() const noexcept { return diagnostics_; }

 private:
  void ReportError(const char* message);
  // Reads the next token; false (with the diagnostic) when the scanner gave up.
  [[nodiscard]] bool ReadLookahead(int& lookahead, std::string& value);
  // The code a reduction by the rule adds (termText: the last term shifted).
  void EmitRule(int rule, const std::string& termText);

  RefineLexer& lexer_;
  SearchExpression result_;
  std::string diagnostics_;
};

}  // namespace lk
