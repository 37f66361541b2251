// The matching rules, checked on both matchers through MatchStream.

#include <gtest/gtest.h>

#include <string>

#include "tests/search/matcher/MatcherTestSupport.h"

namespace lk {
namespace {

using testing::Matches;
using testing::MatchOptions;

class MatcherRules : public ::testing::TestWithParam<MatcherKind> {
 protected:
  [[nodiscard]] bool Match(std::string_view expression, std::string_view content,
                           const MatchOptions& options = {}) const {
    return Matches(GetParam(), expression, content, options);
  }
};

INSTANTIATE_TEST_SUITE_P(BothMatchers, MatcherRules,
                         ::testing::Values(MatcherKind::Reference, MatcherKind::Production),
                         [](const ::testing::TestParamInfo<MatcherKind>& kind) {
                           return kind.param == MatcherKind::Reference ? "Reference" : "Production";
                         });

TEST_P(MatcherRules, EmptyFileHasOnlyGuardSpaces) {
  EXPECT_FALSE(Match("SKYPE", ""));
  EXPECT_FALSE(Match("SKYPE AND FIREFOX", ""));
  EXPECT_FALSE(Match("SKYPE OR FIREFOX", ""));
  EXPECT_TRUE(Match("NOT SKYPE", ""));
}

TEST_P(MatcherRules, EmptyOrInvalidTemplateNeverMatches) {
  EXPECT_FALSE(Match("", "anything"));
  EXPECT_FALSE(Match("   ", "anything"));
  EXPECT_FALSE(Match("P Q", "P Q"));
  EXPECT_FALSE(Match("NOT (", ""));
}

TEST_P(MatcherRules, PlainTermsIgnoreCaseUnlessMatchCase) {
  EXPECT_TRUE(Match("SKYPE", "xxskypexx"));
  EXPECT_TRUE(Match("SKYPE", "Skype"));
  EXPECT_TRUE(Match("skype", "SKYPE"));
  EXPECT_TRUE(Match("Skype", "Skype", {.matchCase = true}));
  EXPECT_FALSE(Match("Skype", "skype SKYPE", {.matchCase = true}));
  EXPECT_TRUE(Match("SKYPE", "SkypeVersion"));
  EXPECT_FALSE(Match("SKYPE", std::string("S\0K\0Y\0P\0E\0", 10)));
  // Windows-1252 folding of high bytes.
  EXPECT_TRUE(Match("\xC4rger", "\xE4RGER"));
  EXPECT_TRUE(Match("'x\xFF'", "X\x9F"));
  EXPECT_TRUE(Match("'x\xFF'", "x\xFF"));
}

TEST_P(MatcherRules, WholeWordsNeedSeparatorsOnBothSides) {
  const MatchOptions whole{.wholeWordsOnly = true};
  EXPECT_TRUE(Match("SKYPE", "run Skype.exe", whole));
  EXPECT_TRUE(Match("SKYPE", "(Skype)", whole));
  EXPECT_FALSE(Match("SKYPE", "Skypename", whole));
  EXPECT_FALSE(Match("SKYPE", "mySkype", whole));
  EXPECT_TRUE(Match("SKYPE", "Skype", whole));
  EXPECT_TRUE(Match("SKYPE", "Skypename Skype", whole));
}

TEST_P(MatcherRules, WildcardTermsMatchOnlyAtWordStarts) {
  EXPECT_TRUE(Match("C3PO?r2d2", "C3PO-r2d2-POE"));
  EXPECT_TRUE(Match("C3PO?r2d2", std::string("\0C3PO-r2d2", 10)));
  EXPECT_TRUE(Match("C3PO?r2d2", "\"c3po.r2d2"));
  EXPECT_TRUE(Match("C3PO?r2d2", " C3PO_R2D2"));
  EXPECT_TRUE(Match("C3PO?r2d2", std::string("C3PO\0R2D2", 9)));
  EXPECT_FALSE(Match("C3PO?r2d2", "C3POR2D2"));
  EXPECT_FALSE(Match("C3PO?r2d2", "_C3PO-r2d2"));
  EXPECT_FALSE(Match("C3PO?r2d2", "xC3PO-r2d2"));
}

TEST_P(MatcherRules, Utf16KeyboardClassNeedsAWordStart) {
  const std::string term = "K?e?y?B?o?a?r?d?C?l?a?s?s?C?";
  std::string utf16;
  for (char c : std::string("\\DosDevices\\KeyboardClassC")) {
    utf16 += c;
    utf16 += '\0';
  }
  EXPECT_TRUE(Match(term, utf16));
  EXPECT_FALSE(Match(term, "\\DosDevices\\KeyboardClassC"));
  std::string afterLetter = "x";
  afterLetter += utf16.substr(24);  // 'K' directly after 'x'
  EXPECT_FALSE(Match(term, afterLetter));
  EXPECT_TRUE(Match("KeyBoardClassC", "\\DosDevices\\KeyboardClassC"));
}

TEST_P(MatcherRules, LastWildcardMayFallOnTheTrailingGuardSpace) {
  std::string utf16;
  for (char c : std::string(" KeyboardClassC")) {
    utf16 += c;
    utf16 += '\0';
  }
  utf16.pop_back();  // the file ends one byte short: the last '?' takes the guard space
  EXPECT_TRUE(Match("K?e?y?B?o?a?r?d?C?l?a?s?s?C?", utf16));
  utf16.pop_back();
  EXPECT_FALSE(Match("K?e?y?B?o?a?r?d?C?l?a?s?s?C?", utf16));
}

TEST_P(MatcherRules, NearMeansDistanceBelowNearestLength) {
  std::string content(300, '.');
  content.replace(100, 5, "ALPHA");
  std::string near = content;
  near.replace(149, 4, "BETA");
  std::string far = content;
  far.replace(150, 4, "BETA");
  EXPECT_TRUE(Match("ALPHA NEAR BETA", near));
  EXPECT_FALSE(Match("ALPHA NEAR BETA", far));
  EXPECT_TRUE(Match("BETA NEAR ALPHA", near));
  EXPECT_TRUE(Match("ALPHA NEAR BETA", far, {.nearestLength = 51}));
  EXPECT_FALSE(Match("ALPHA NEAR ALPHA", "ALPHA", {.nearestLength = 0}));
  EXPECT_TRUE(Match("ALPHA NEAR ALPHA", "ALPHA"));
}

TEST_P(MatcherRules, NotOfAbsentIsTrueAndNotNotIsPresence) {
  EXPECT_TRUE(Match("NOT GAMMA", "alpha"));
  EXPECT_FALSE(Match("NOT ALPHA", "alpha"));
  EXPECT_TRUE(Match("NOT NOT ALPHA", "alpha"));
  EXPECT_FALSE(Match("NOT NOT GAMMA", "alpha"));
  EXPECT_TRUE(Match("ALPHA - GAMMA", "alpha"));
  EXPECT_FALSE(Match("ALPHA - ALPHA", "alpha"));
}

TEST_P(MatcherRules, PlainOccurrencesOverlapWildcardOccurrencesDoNot) {
  // AA at 1, 2, 3 in AAAA: pairs within distance 2 exist only because they overlap.
  EXPECT_TRUE(Match("AA NEAR 'AA'", "AAAA", {.nearestLength = 1}));
  // A?A occurs once in A-A-A (at 1), so its only pair with itself is at distance 0; the
  // occurrence at 3 would start inside the first one.
  EXPECT_FALSE(Match("A?A NEAR A?A", "A-A-A", {.nearestLength = 0}));
  EXPECT_TRUE(Match("A?A NEAR 'A-A'", "A-A-A", {.nearestLength = 1}));
}

TEST_P(MatcherRules, StarStaysInsideTheWord) {
  EXPECT_TRUE(Match("AB*CD", "ABxyCD"));
  EXPECT_TRUE(Match("AB*CD", "ABCD"));
  EXPECT_FALSE(Match("AB*CD", "AB.xCD"));
  EXPECT_TRUE(Match("AB*", "AB"));
  EXPECT_TRUE(Match("AB*", " AB."));
  EXPECT_FALSE(Match("AB*", "xAB"));
}

TEST_P(MatcherRules, LoneStarMatchesAfterEverySeparatorAndTerminates) {
  EXPECT_TRUE(Match("*", ""));
  EXPECT_TRUE(Match("*", "abc"));
  // The lone star also matches the empty run after the trailing guard space; it counts once.
  EXPECT_TRUE(Match("* NEAR X", "abcX", {.nearestLength = 3}));
  EXPECT_FALSE(Match("* NEAR X", "abcX", {.nearestLength = 2}));
  EXPECT_FALSE(Match("** NEAR 'A B'", "A B", {.nearestLength = 0}));
}

TEST_P(MatcherRules, TermEndingInTheTrailingGuardSpaceIsBoundedThere) {
  EXPECT_TRUE(Match("'AB '", "xx AB", {.wholeWordsOnly = true}));
  EXPECT_FALSE(Match("'AB '", "xxAB", {.wholeWordsOnly = true}));
  EXPECT_TRUE(Match("'AB '", "xxAB"));
}

TEST_P(MatcherRules, ManyDistinctTermsStayQuick) {
  std::string expression;
  std::string content;
  for (int i = 0; i < 1000; ++i) {
    if (i > 0) expression += " AND ";
    expression += "T" + std::to_string(i);
    content += "T" + std::to_string(i) + " ";
  }
  EXPECT_TRUE(Match(expression, content));
  EXPECT_FALSE(Match(expression + " AND MISSING", content));
}

TEST_P(MatcherRules, EmptyQuotedTermMatchesNothing) {
  EXPECT_FALSE(Match("''", "anything"));
  EXPECT_TRUE(Match("NOT ''", "anything"));
}

TEST_P(MatcherRules, OccurrenceAtTheLeadingGuardSpaceEndsTheSearch) {
  // ' AB' first occurs at position 0 (the guard space), which ends its search uncounted.
  EXPECT_FALSE(Match("' AB'", "AB AB"));
  EXPECT_TRUE(Match("' AB'", "x AB"));
}

TEST_P(MatcherRules, ReadFailureRaises) {
  const auto refine = MakeRefine(GetParam());
  refine->SetTemplate("NEEDLE");
  testing::MemoryFile file(std::string(100000, 'x'));
  file.FailReadsFrom(50000);
  EXPECT_THROW(static_cast<void>(refine->MatchStream(file)), std::exception);
}

TEST_P(MatcherRules, SameMatcherServesManyFiles) {
  const auto refine = MakeRefine(GetParam());
  refine->SetTemplate("alpha and not beta");
  testing::MemoryFile a("alpha"), b("alpha beta"), c("gamma");
  EXPECT_TRUE(refine->MatchStream(a));
  EXPECT_FALSE(refine->MatchStream(b));
  EXPECT_FALSE(refine->MatchStream(c));
  refine->SetTemplate("gamma");
  testing::MemoryFile d("gamma");
  EXPECT_TRUE(refine->MatchStream(d));
}

}  // namespace
}  // namespace lk

namespace lk {
namespace {

TEST(RefineCompile, ReportsValidityWithoutTouchingTemplate) {
  for (const MatcherKind kind : {MatcherKind::Reference, MatcherKind::Production}) {
    const auto refine = MakeRefine(kind);
    refine->SetTemplate("alpha");
    EXPECT_TRUE(refine->Compile("beta or gamma"));
    EXPECT_FALSE(refine->Compile("beta gamma"));
    EXPECT_TRUE(refine->Compile(""));
    EXPECT_FALSE(refine->Compile(std::string(1023, 'x')));
    // Repeated texts give the same answer (the production matcher keeps its last compile).
    EXPECT_FALSE(refine->Compile("beta gamma"));
    EXPECT_EQ(refine->Template(), "alpha");
    testing::MemoryFile file("ALPHA");
    EXPECT_TRUE(refine->MatchStream(file));
  }
}

}  // namespace
}  // namespace lk
