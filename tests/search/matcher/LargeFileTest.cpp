// Files beyond 4 GiB on the production matcher (a sparse file held as a few planted pieces).

#include <gtest/gtest.h>

#include <string>

#include "tests/search/matcher/MatcherTestSupport.h"

namespace lk {
namespace {

// The production matcher reads files of any size in blocks and keeps 64-bit positions: a term
// 4 GiB after another is not near it, and a match that ends on the trailing guard space of a
// 5 GiB file is found.
TEST(LargeFiles, PositionsBeyondFourGibAreExact) {
  constexpr std::int64_t kFourGib = std::int64_t{1} << 32;
  constexpr std::int64_t kSize = 5 * (std::int64_t{1} << 30);
  testing::SparseFile file(kSize);
  file.Plant(100, "BETA");
  file.Plant(kFourGib + 100, "ALPHA");
  std::string utf16;
  for (char c : std::string("KeyboardClassC")) {
    utf16 += c;
    utf16 += '\0';
  }
  utf16.pop_back();
  file.Plant(kSize - static_cast<std::int64_t>(utf16.size()), utf16);

  const auto refine = MakeRefine(MatcherKind::Production);
  refine->SetTemplate("(ALPHA NEAR BETA) OR K?e?y?B?o?a?r?d?C?l?a?s?s?C?");
  EXPECT_TRUE(refine->MatchStream(file));
  EXPECT_LT(file.BytesRead(), kSize + (std::int64_t{1} << 20));
  refine->SetTemplate("ALPHA NEAR BETA");
  EXPECT_FALSE(refine->MatchStream(file));
}

// Several '*' on a long word: a plain backtracking search would take time exponential in the
// stars; failed searches are remembered so that this finishes.
TEST(LongWords, SeveralStarsOnALongWordFinish) {
  const std::string word(200000, 'A');
  const auto refine = MakeRefine(MatcherKind::Production);
  refine->SetTemplate("*A*A*A*A*A*B");
  testing::MemoryFile noB(word);
  EXPECT_FALSE(refine->MatchStream(noB));
  testing::MemoryFile withB(word + "B");
  EXPECT_TRUE(refine->MatchStream(withB));
  refine->SetTemplate("A*A*A*A*B NEAR A*A*A*A");
  testing::MemoryFile words(word + " " + word + "B");
  EXPECT_TRUE(refine->MatchStream(words));
}

}  // namespace
}  // namespace lk
