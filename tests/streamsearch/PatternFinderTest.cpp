#include "streamsearch/PatternFinder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace lk {
namespace {

// Every index where text stands in block, ascending, by comparing at each index.
std::vector<std::size_t> EveryIndex(std::u16string_view block, std::u16string_view text) {
  std::vector<std::size_t> indices;
  for (std::size_t k = 0; k + text.size() <= block.size(); ++k) {
    if (block.substr(k, text.size()) == text) indices.push_back(k);
  }
  return indices;
}

std::vector<std::size_t> Offered(const PatternFinder& finder, std::u16string_view block,
                                 bool last) {
  std::vector<std::size_t> offered;
  const auto collect = [&](std::size_t k) {
    offered.push_back(k);
    return false;
  };
  const std::size_t result =
      last ? finder.FindLast(block, collect) : finder.FindFirst(block, collect);
  EXPECT_EQ(result, PatternFinder::kNotFound);
  return offered;
}

TEST(PatternFinder, OffersEveryOccurrenceInOrderOverlapsIncluded) {
  const PatternFinder finder(u"aba");
  EXPECT_EQ(Offered(finder, u"ababababa", false), (std::vector<std::size_t>{0, 2, 4, 6}));
  EXPECT_EQ(Offered(finder, u"ababababa", true), (std::vector<std::size_t>{6, 4, 2, 0}));
  EXPECT_EQ(Offered(finder, u"ab", false), std::vector<std::size_t>{});
  EXPECT_EQ(Offered(finder, u"", true), std::vector<std::size_t>{});
  EXPECT_EQ(finder.Length(), 3u);
}

TEST(PatternFinder, StopsAtTheFirstAcceptedIndex) {
  const PatternFinder finder(u"aa");
  const std::u16string block = u"aaaa_aa";
  EXPECT_EQ(finder.FindFirst(block, [](std::size_t k) { return k >= 1; }), 1u);
  EXPECT_EQ(finder.FindLast(block, [](std::size_t k) { return k < 5; }), 2u);
  EXPECT_EQ(finder.FindFirst(block, [](std::size_t) { return true; }), 0u);
  EXPECT_EQ(finder.FindLast(block, [](std::size_t) { return true; }), 5u);
}

TEST(PatternFinder, AgreesWithComparingAtEveryIndex) {
  std::mt19937 random(42);
  for (int round = 0; round < 4000; ++round) {
    // Two or three letters make repeated prefixes and borders common.
    const char16_t letters = static_cast<char16_t>(2 + random() % 2);
    std::u16string block(random() % 200, u'a');
    for (char16_t& c : block) c = static_cast<char16_t>(u'a' + random() % letters);
    std::u16string text(1 + random() % 12, u'a');
    for (char16_t& c : text) c = static_cast<char16_t>(u'a' + random() % letters);
    const PatternFinder finder(text);
    const std::vector<std::size_t> expected = EveryIndex(block, text);
    ASSERT_EQ(Offered(finder, block, false), expected) << "round " << round;
    ASSERT_EQ(Offered(finder, block, true),
              std::vector<std::size_t>(expected.rbegin(), expected.rend()))
        << "round " << round;
  }
}

}  // namespace
}  // namespace lk
