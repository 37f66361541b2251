#include "search/expression/RefineLexer.h"

#include <algorithm>
#include <array>

#include "base/TextCase.h"

namespace lk {
namespace {

constexpr bool IsWordCharacter(std::uint8_t c) noexcept {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
         c == '.' || c == '*' || c == '?' || c >= 0xC0;
}

constexpr bool IsWhitespace(std::uint8_t c) noexcept {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

struct Keyword {
  std::string_view text;
  int code;
};

// Sorted, searched by bisection.
constexpr std::array<Keyword, 4> kKeywords{{
    {"AND", token::kAnd},
    {"NEAR", token::kNear},
    {"NOT", token::kNot},
    {"OR", token::kOr},
}};

int KeywordCode(std::string_view run) {
  if (run.size() > 4) return 0;
  std::string folded(run);
  for (char& c : folded) c = UpperAscii(c);
  const auto it =
      std::lower_bound(kKeywords.begin(), kKeywords.end(), folded,
                       [](const Keyword& k, const std::string& t) { return k.text < t; });
  if (it != kKeywords.end() && it->text == folded) return it->code;
  return 0;
}

}  // namespace

RefineLexer::RefineLexer(std::string_view text) {
  // The scanner reads the text followed by a line feed; the first NUL ends the input.
  const std::size_t nul = text.find('\0');
  input_.assign(text.substr(0, nul));
  input_ += '\n';
}

std::uint8_t RefineLexer::At(std::size_t index) const noexcept {
  return index < input_.size() ? static_cast<std::uint8_t>(input_[index]) : 0;
}

void RefineLexer::CountLineFeeds(std::size_t from, std::size_t to) noexcept {
  for (std::size_t i = from; i < to; ++i) {
    if (input_[i] == '\n') ++lineFeeds_;
  }
}

int RefineLexer::Scan() {
  value_.clear();
  writtenLength_ = 0;
  for (;;) {
    const std::uint8_t c = At(position_);
    if (c == 0) return token::kEnd;
    if (IsWhitespace(c)) {
      if (c == '\n') ++lineFeeds_;
      ++position_;
      continue;
    }
    if (IsWordCharacter(c)) {
      std::size_t end = position_;
      while (IsWordCharacter(At(end))) {
        ++end;
        if (end - position_ > kMaxWordLength) return token::kScannerError;
      }
      const std::string_view run(input_.data() + position_, end - position_);
      position_ = end;
      if (const int keyword = KeywordCode(run); keyword != 0) return keyword;
      value_.assign(run.substr(0, kMaxValueLength));
      writtenLength_ = run.size();
      return token::kWord;
    }
    if (c == '"' || c == '\'') {
      std::size_t close = position_ + 1;
      while (At(close) != 0 && At(close) != c) ++close;
      if (At(close) == c) {
        const std::string_view inner(input_.data() + position_ + 1, close - position_ - 1);
        value_.assign(inner.substr(0, kMaxValueLength));
        writtenLength_ = inner.size();
        CountLineFeeds(position_, close);
        position_ = close + 1;
        return token::kString;
      }
      // An unclosed quote is a character of its own, which no grammar rule accepts.
    }
    ++position_;
    return c;
  }
}

}  // namespace lk
