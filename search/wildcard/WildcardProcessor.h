#pragma once
// Wildcard terms: a term split into literal, any-single and any-sequence tokens, matched only at
// the start of a word by a recursive backtracking search, and the plain byte-by-byte literal
// search with restart that the matching uses.
//
// The algorithms work on any content type that offers `std::int64_t Length() const` and
// `std::uint8_t At(std::int64_t) const` (positions are 64-bit), so that the reference matcher
// runs them over a whole file in memory and the production matcher over a block window. They
// follow the defined order of trials exactly: the occurrence found and where it ends are part of
// the result (the next occurrence starts there).

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/TextCase.h"
#include "search/expression/AnsiCharacters.h"

namespace lk {

enum class WildcardTokenKind : std::uint8_t { Literal = 0, AnySequence = 1, AnySingle = 2 };

struct WildcardToken {
  std::string text;
  WildcardTokenKind kind = WildcardTokenKind::Literal;

  // The literal whose text is the single character 1 matches any one separator byte.
  [[nodiscard]] bool IsSeparator() const noexcept {
    return kind == WildcardTokenKind::Literal && text.size() == 1 && text[0] == '\x01';
  }
};

using WildcardTokens = std::vector<WildcardToken>;

inline constexpr char kSeparatorTokenCharacter = '\x01';

// Whether a term goes to the wildcard processor.
[[nodiscard]] inline bool IsWildcardTerm(std::string_view term, char anySingle,
                                         char anySequence) noexcept {
  return term.find(anySingle) != std::string_view::npos ||
         term.find(anySequence) != std::string_view::npos;
}

// Splits a term: the separator token first, then literals and wildcards in order, and with
// wholeWordsOnly a closing separator token. A character equal to both wildcard settings counts as
// the sequence wildcard.
[[nodiscard]] WildcardTokens SplitWildcardTemplate(std::string_view term, char anySingle,
                                                   char anySequence, bool wholeWordsOnly);

// Failed searches after a '*' within one content, so that a term with several '*' does not
// retry what already failed (without it, such a term takes time exponential in its stars on a
// long word). A search for a literal from position p that fails also fails from every later
// position up to the separator that ends the word (it would try a subset of the same
// occurrences); for the separator token, from every later position at all. Per token the last
// such range is kept. Optional: the results are the same without it.
class WildcardFailureMemo {
 public:
  [[nodiscard]] bool Failed(std::size_t index, std::int64_t position) const {
    return index < ranges_.size() && position >= ranges_[index].first &&
           position <= ranges_[index].second;
  }
  void MarkFailed(std::size_t index, std::int64_t from, std::int64_t to) {
    if (ranges_.size() <= index) ranges_.resize(index + 1, {1, 0});
    ranges_[index] = {from, to};
  }
  void Clear() { ranges_.clear(); }

 private:
  std::vector<std::pair<std::int64_t, std::int64_t>> ranges_;
};

// Next occurrence of literal at or after from; -1 when there is none. Compares byte by byte,
// restarting one byte after a failed attempt. Content bytes are folded with UpperWindows1252 unless
// matchCase or the literal is the separator token. Without crossing the search stops at the
// first separator byte (unless the literal is the separator token).
template <typename Content>
[[nodiscard]] std::int64_t ScanLiteral(const Content& content, std::int64_t from,
                                       std::string_view literal, bool matchCase, bool crossing) {
  if (literal.empty()) return -1;
  const bool separatorToken = literal.size() == 1 && literal[0] == kSeparatorTokenCharacter;
  const std::int64_t length = content.Length();
  std::int64_t start = from;
  std::int64_t current = from;
  std::size_t k = 0;  // index of the next literal byte to compare
  while (current < length) {
    std::uint8_t b = content.At(current);
    ++current;
    if (!matchCase && !separatorToken) b = UpperWindows1252(b);
    if (b == static_cast<std::uint8_t>(literal[k]) || (separatorToken && IsWordSeparator(b))) {
      ++k;
    } else if (k > 0) {
      ++start;
      current = start;
      k = 0;
    } else {
      ++start;
    }
    if (!crossing && IsWordSeparator(b) && !separatorToken) return -1;
    if (k == literal.size()) return start;
  }
  return -1;
}

// MatchTokens: matches tokens[index...] at position. In searching mode a literal is looked for
// from position on; in anchored mode it must stand at position. Returns success and, through
// end, the position after the last byte of the match.
template <typename Content>
class WildcardMatcher {
 public:
  WildcardMatcher(const Content& content, const WildcardTokens& tokens, bool matchCase,
                  WildcardFailureMemo* memo = nullptr)
      : content_(content), tokens_(tokens), matchCase_(matchCase), memo_(memo) {}

  [[nodiscard]] bool MatchTokens(std::size_t index, std::int64_t position, bool searching,
                                 bool crossing, std::int64_t& end) const {
    if (index >= tokens_.size()) {
      end = position;
      return true;
    }
    const WildcardToken& token = tokens_[index];
    switch (token.kind) {
      case WildcardTokenKind::Literal:
        if (searching) {
          if (memo_ != nullptr && memo_->Failed(index, position)) return false;
          std::int64_t from = position;
          for (;;) {
            const std::int64_t q = ScanLiteral(content_, from, token.text, matchCase_, crossing);
            if (q < 0) break;
            const std::int64_t after = q + static_cast<std::int64_t>(token.text.size());
            if (MatchTokens(index + 1, after, false, true, end)) return true;
            from = q + 1;
          }
          if (memo_ != nullptr) memo_->MarkFailed(index, position, FailedUpTo(token, position));
          return false;
        }
        return MatchAnchoredLiteral(index, position, end);
      case WildcardTokenKind::AnySequence:
        return MatchTokens(index + 1, position, true, false, end);
      case WildcardTokenKind::AnySingle:
        if (position >= content_.Length()) return false;
        return MatchTokens(index + 1, position + 1, false, true, end);
    }
    return false;
  }

  // FindPattern: the next occurrence from `from`: its position (one after the leading separator
  // byte) or -1; next receives where the following search starts.
  [[nodiscard]] std::int64_t FindPattern(std::int64_t from, bool wholeWordsOnly,
                                         std::int64_t& next) const {
    std::int64_t end = 0;
    std::int64_t search = from;
    for (;;) {
      const std::int64_t s = ScanLiteral(content_, search, tokens_[0].text, matchCase_, true);
      if (s < 0) return -1;
      if (MatchTokens(1, s + 1, false, true, end)) {
        next = OccurrenceEnd(end, wholeWordsOnly);
        return s + 1;
      }
      search = s + 1;
    }
  }

  // Where the search for the next occurrence starts after a match that finished at end.
  [[nodiscard]] std::int64_t OccurrenceEnd(std::int64_t end, bool wholeWordsOnly) const {
    if (wholeWordsOnly) --end;
    if (end >= content_.Length()) end = content_.Length() - 1;
    return end;
  }

 private:
  [[nodiscard]] bool MatchAnchoredLiteral(std::size_t index, std::int64_t position,
                                          std::int64_t& end) const {
    const WildcardToken& token = tokens_[index];
    const bool separatorToken = token.IsSeparator();
    const std::int64_t length = content_.Length();
    std::int64_t p = position;
    for (const char lc : token.text) {
      if (p >= length) return false;
      const std::uint8_t b = content_.At(p);
      const auto l = static_cast<std::uint8_t>(lc);
      bool equal = false;
      if (separatorToken) {
        equal = IsWordSeparator(b);
      } else if (matchCase_) {
        equal = b == l;
      } else {
        equal = UpperWindows1252(b) == UpperWindows1252(l);
      }
      if (!equal) return false;
      ++p;
    }
    return MatchTokens(index + 1, p, false, true, end);
  }

  // The last position from which a failed search after '*' for token is known to fail too.
  [[nodiscard]] std::int64_t FailedUpTo(const WildcardToken& token, std::int64_t from) const {
    const std::int64_t length = content_.Length();
    if (token.IsSeparator()) return length;
    std::int64_t p = from;
    while (p < length && !IsWordSeparator(content_.At(p))) ++p;
    return p;
  }

  const Content& content_;
  const WildcardTokens& tokens_;
  bool matchCase_;
  WildcardFailureMemo* memo_;
};

}  // namespace lk
