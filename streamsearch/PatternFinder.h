#pragma once
// Finds a text of code units inside a block of code units in time linear in the two lengths,
// whatever either of them repeats (the Knuth-Morris-Pratt automaton): the text is examined once
// when the finder is made, and a block is then read once from one end to the other, each unit
// compared a bounded number of times on average. A search that compared the text anew at every
// position would cost block length times text length on a block that keeps repeating the text's
// beginning.
//
// The finder offers the positions in order (ascending or descending) to a caller's test, so a
// caller that rejects a position (a word rule) goes on in the same pass. Comparison is unit by
// unit; mapping case or encoding is the caller's, done before.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lk {

class PatternFinder {
 public:
  static constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

  // text must not be empty.
  explicit PatternFinder(std::u16string_view text);

  [[nodiscard]] std::size_t Length() const { return forward_.text.size(); }

  // Offers every index where the text stands in block, from the first to the last, to accept
  // until it returns true; gives that index, or kNotFound.
  template <typename Accept>
  [[nodiscard]] std::size_t FindFirst(std::u16string_view block, Accept&& accept) const {
    const std::size_t length = Length();
    return Scan(
        forward_, block.size(), [block](std::size_t i) { return block[i]; },
        [length](std::size_t last) { return last + 1 - length; }, accept);
  }

  // The same from the last index to the first.
  template <typename Accept>
  [[nodiscard]] std::size_t FindLast(std::u16string_view block, Accept&& accept) const {
    const std::size_t n = block.size();
    // The reversed text read through the reversed block: a match whose last unit is at reversed
    // index r starts at n - 1 - r in the block.
    return Scan(
        backward_, n, [block, n](std::size_t i) { return block[n - 1 - i]; },
        [n](std::size_t last) { return n - 1 - last; }, accept);
  }

 private:
  struct Automaton {
    std::u16string text;
    // border[i]: the length of the longest proper prefix of text[0..i] that is also its suffix.
    std::vector<std::size_t> border;
  };
  [[nodiscard]] static Automaton Build(std::u16string text);

  // Feeds the units at(0) .. at(n - 1) through the automaton; for every full match, whose last
  // unit is at(i), offers index(i) to accept and returns it when accepted.
  template <typename At, typename Index, typename Accept>
  static std::size_t Scan(const Automaton& automaton, std::size_t n, At at, Index index,
                          Accept& accept) {
    const std::u16string& text = automaton.text;
    const std::size_t length = text.size();
    std::size_t matched = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const char16_t unit = at(i);
      while (matched > 0 && text[matched] != unit) matched = automaton.border[matched - 1];
      if (text[matched] == unit) ++matched;
      if (matched == length) {
        const std::size_t candidate = index(i);
        if (accept(candidate)) return candidate;
        matched = automaton.border[length - 1];
      }
    }
    return kNotFound;
  }

  Automaton forward_;
  Automaton backward_;
};

}  // namespace lk
