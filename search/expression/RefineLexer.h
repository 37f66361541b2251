#pragma once
// The scanner of the search expression language: cuts an expression text into tokens.
//
// The text is read followed by a line feed and ends at its first NUL. At each point the longest
// text that a rule matches is taken (earlier rule first on a tie): a run of word characters (a
// keyword in any letter case, else a WORD cut to 255 characters), a quoted term, whitespace
// (skipped) or any other single character, returned as its own code. A run of word characters
// longer than the scanner's match stack allows is reported as an error token.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lk {

namespace token {
inline constexpr int kEnd = 0;
inline constexpr int kAnd = 257;
inline constexpr int kOr = 258;
inline constexpr int kNot = 259;
inline constexpr int kNear = 260;
inline constexpr int kWord = 261;
inline constexpr int kString = 262;
// Not a code of the language: the scanner gave up ("match stack overflow").
inline constexpr int kScannerError = -1;
}  // namespace token

class RefineLexer {
 public:
  // Term values hold at most this many characters.
  static constexpr std::size_t kMaxValueLength = 255;
  // Longest run of word characters the match stack (1024 entries, two taken at its start) holds.
  static constexpr std::size_t kMaxWordLength = 1022;

  // text: the expression as given to the parser (already upper-cased where wanted).
  explicit RefineLexer(std::string_view text);

  // The next token code; for kWord and kString, Value() holds its text.
  [[nodiscard]] int Scan();
  [[nodiscard]] const std::string& Value() const noexcept { return value_; }
  // The length of the term as written; more than Value's when it was cut to kMaxValueLength.
  [[nodiscard]] std::size_t WrittenLength() const noexcept { return writtenLength_; }
  // One more than the number of line feeds read so far.
  [[nodiscard]] int LineNumber() const noexcept { return lineFeeds_ + 1; }

 private:
  [[nodiscard]] std::uint8_t At(std::size_t index) const noexcept;
  void CountLineFeeds(std::size_t from, std::size_t to) noexcept;

  std::string input_;
  std::size_t position_ = 0;
  int lineFeeds_ = 0;
  std::string value_;
  std::size_t writtenLength_ = 0;
};

}  // namespace lk
