#include "search/wildcard/WildcardProcessor.h"

namespace lk {

WildcardTokens SplitWildcardTemplate(std::string_view term, char anySingle, char anySequence,
                                     bool wholeWordsOnly) {
  WildcardTokens tokens;
  tokens.push_back({std::string(1, kSeparatorTokenCharacter), WildcardTokenKind::Literal});
  std::string pending;
  const auto closeLiteral = [&]() {
    if (!pending.empty()) {
      tokens.push_back({pending, WildcardTokenKind::Literal});
      pending.clear();
    }
  };
  for (const char c : term) {
    if (c == anySequence) {
      closeLiteral();
      tokens.push_back({"*", WildcardTokenKind::AnySequence});
    } else if (c == anySingle) {
      closeLiteral();
      tokens.push_back({"$", WildcardTokenKind::AnySingle});
    } else {
      pending += c;
    }
  }
  closeLiteral();
  if (wholeWordsOnly) {
    tokens.push_back({std::string(1, kSeparatorTokenCharacter), WildcardTokenKind::Literal});
  }
  return tokens;
}

}  // namespace lk
