// The production matcher against the reference matcher over generated expressions, options and
// contents (seeded: a failure prints the seed and the case, so it reproduces).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "search/matcher/CandidateScanner.h"
#include "search/matcher/FastRefine.h"
#include "testing/reference/ReferenceRefine.h"
#include "tests/search/matcher/MatcherTestSupport.h"

namespace lk {
namespace {

using testing::MatchOptions;
using testing::MemoryFile;

// Printable form of a byte string.
std::string Escape(std::string_view bytes) {
  std::string out;
  static const char* kHex = "0123456789ABCDEF";
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F && b != '\\') {
      out += c;
    } else {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

class CaseGenerator {
 public:
  explicit CaseGenerator(std::uint32_t seed) : random_(seed) {}

  std::size_t Below(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_);
  }
  bool Chance(int percent) { return Below(100) < static_cast<std::size_t>(percent); }

  // A term as written in an expression (unquoted or quoted).
  std::string Term() {
    static const std::vector<std::string> kWords = {
        "AB",   "abc", "BA",   "A",         "CAB",    "bb",        "A?B",    "A*B", "*B",
        "A*",   "?A",  "A?*B", "AB*C*A",    "*",      "**",        "?",      "A??", "B?C?",
        "C*?",  "AB?", "A_B",  "\xC4\xE4",  "x\xE4",  "C3PO?R2D2", "K?E?Y",  "BAB", "AAA",
        "*A*B", "A.B", "?*",   "ABCABCABC", "*A*A*B", "A*A*A",     "*B*?*A", "A*B*"};
    static const std::vector<std::string> kQuoted = {
        "' AB'",  "'A B'",    "''",      "'AB '", "\"A-B\"", "'A.B*'", "' '",
        "'\x01'", "'\x01?A'", "'A\x01'", "'?'",   "'a b?'",  "' A*'",  "'AB\x01'"};
    std::string word = Chance(15) ? kQuoted[Below(kQuoted.size())] : kWords[Below(kWords.size())];
    if (Chance(30)) {
      for (char& c : word) {
        if (c >= 'A' && c <= 'Z' && Chance(50)) c = static_cast<char>(c + 32);
      }
    }
    return word;
  }

  std::string Expression(int depth = 0) {
    const std::size_t kind = depth > 3 ? 0 : Below(10);
    switch (kind) {
      case 0:
      case 1:
        return Term();
      case 2:
        return Term() + " NEAR " + Term();
      case 3:
        return "NOT " + Expression(depth + 1);
      case 4:
        return "(" + Expression(depth + 1) + ")";
      default: {
        static const char* kOps[] = {" AND ", " OR ", " + ", " - ", " | ", " and ", " or "};
        return Expression(depth + 1) + kOps[Below(7)] + Expression(depth + 1);
      }
    }
  }

  MatchOptions Options() {
    MatchOptions options;
    options.matchCase = Chance(25);
    options.wholeWordsOnly = Chance(30);
    static const std::int32_t kNear[] = {0, 1, 2, 3, 5, 10, 50, 1000, -4};
    options.nearestLength = Chance(50) ? 50 : kNear[Below(9)];
    if (Chance(5)) options.anySingle = '.';
    if (Chance(5)) options.anySequence = '?';
    return options;
  }

  // Content made of the terms' letters, separators and high bytes, with planted words (also as
  // UTF-16) and long runs of word bytes.
  std::string Content(std::size_t maxLength) {
    static const std::string kBytes =
        std::string("ABCabc_ -.?*\x01\n\xE4\xC4\xFF\x9F\x8A\x9A") + std::string(1, '\0');
    std::string content;
    const std::size_t length = Below(maxLength + 1);
    while (content.size() < length) {
      const std::size_t what = Below(10);
      if (what < 5) {
        content += kBytes[Below(kBytes.size())];
      } else if (what < 8) {
        std::string word = Term();
        std::erase(word, '\'');
        std::erase(word, '"');
        if (Chance(30)) {
          std::string utf16;
          for (const char c : word) {
            utf16 += c;
            utf16 += '\0';
          }
          word = utf16;
        }
        content += word;
      } else if (what < 9) {
        content.append(Below(40), "ABCab"[Below(5)]);
      } else {
        content += static_cast<char>(Below(256));
      }
    }
    if (Chance(20) && !content.empty()) content.pop_back();
    return content;
  }

 private:
  std::mt19937 random_;
};

void Configure(Refine& refine, const MatchOptions& options, std::string_view expression) {
  refine.SetMatchCase(options.matchCase);
  refine.SetWholeWordsOnly(options.wholeWordsOnly);
  refine.SetNearestLength(options.nearestLength);
  refine.SetAnySingleCharacter(options.anySingle);
  refine.SetAnySequenceCharacter(options.anySequence);
  refine.SetTemplate(expression);
}

std::string Describe(std::uint32_t seed, std::string_view expression, const MatchOptions& o,
                     std::string_view content, std::size_t blockSize) {
  return "seed " + std::to_string(seed) + " expression \"" + Escape(expression) + "\" matchCase " +
         std::to_string(o.matchCase) + " wholeWords " + std::to_string(o.wholeWordsOnly) +
         " near " + std::to_string(o.nearestLength) + " any '" +
         Escape(std::string(1, o.anySingle)) + "' seq '" + Escape(std::string(1, o.anySequence)) +
         "' block " + std::to_string(blockSize) + " content \"" + Escape(content) + "\"";
}

struct RunSummary {
  int failures = 0;
  int matches = 0;
  int cases = 0;
};

// Runs `count` generated expressions (four contents each) from seed on.
RunSummary RunCases(std::uint32_t seed, int count, std::size_t maxContent,
                    const std::vector<std::size_t>& blockSizes) {
  CaseGenerator generator(seed);
  ReferenceRefine reference;
  FastRefine fast;
  RunSummary summary;
  for (int i = 0; i < count; ++i) {
    const std::string expression = generator.Expression();
    const MatchOptions options = generator.Options();
    Configure(reference, options, expression);
    Configure(fast, options, expression);
    for (int c = 0; c < 4; ++c) {
      const std::string content = generator.Content(maxContent);
      MemoryFile referenceFile(content);
      const bool expected = reference.MatchStream(referenceFile);
      ++summary.cases;
      summary.matches += expected ? 1 : 0;
      for (const std::size_t blockSize : blockSizes) {
        fast.SetBlockSize(blockSize);
        MemoryFile file(content);
        const bool actual = fast.MatchStream(file);
        if (actual != expected) {
          ADD_FAILURE() << "reference " << expected << " production " << actual << " for "
                        << Describe(seed, expression, options, content, blockSize);
          if (++summary.failures > 5) return summary;
        }
      }
    }
  }
  return summary;
}

// The generated cases must not be trivially all true or all false.
void ExpectAgreement(const RunSummary& summary, std::uint32_t seed) {
  EXPECT_EQ(summary.failures, 0) << "seed " << seed;
  EXPECT_GT(summary.matches, summary.cases / 10) << "seed " << seed;
  EXPECT_LT(summary.matches, summary.cases - summary.cases / 10) << "seed " << seed;
}

std::uint32_t BaseSeed() {
  if (const char* text = std::getenv("LK_DIFFERENTIAL_SEED")) {
    return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
  }
  return 20261209u;
}

TEST(MatcherDifferential, ShortContentsAgreeAtEveryBlockSize) {
  const std::uint32_t seed = BaseSeed();
  ExpectAgreement(RunCases(seed, 600, 120, {1, 5, 64, FastRefine::kDefaultBlockSize}), seed);
}

TEST(MatcherDifferential, LongerContentsAgreeAcrossManyBlocks) {
  const std::uint32_t seed = BaseSeed() + 1;
  ExpectAgreement(RunCases(seed, 120, 3000, {37, 256, 4096}), seed);
}

TEST(MatcherDifferential, VectorLoopsAgreeWithTheScalarLoop) {
  const std::uint32_t seed = BaseSeed() + 2;
  for (const auto implementation :
       {CandidateScanner::Implementation::Scalar, CandidateScanner::Implementation::Sse2,
        CandidateScanner::Implementation::Avx2}) {
    CandidateScanner::SelectImplementation(implementation);
    SCOPED_TRACE(CandidateScanner::ImplementationName());
    ExpectAgreement(RunCases(seed, 80, 600, {64, 1000}), seed);
  }
  CandidateScanner::SelectImplementation(CandidateScanner::Implementation::Best);
}

// Each candidate loop forced in turn; a loop that the processor lacks is skipped, with the reason,
// rather than silently replaced by another.
class CandidateLoop : public ::testing::TestWithParam<CandidateScanner::Implementation> {
 protected:
  void SetUp() override {
    CandidateScanner::SelectImplementation(GetParam());
    const std::string wanted = Name(GetParam());
    if (wanted != CandidateScanner::ImplementationName()) {
      CandidateScanner::SelectImplementation(CandidateScanner::Implementation::Best);
      GTEST_SKIP() << "this processor has no " << wanted
                   << " (best: " << CandidateScanner::ImplementationName() << ")";
    }
  }
  void TearDown() override {
    CandidateScanner::SelectImplementation(CandidateScanner::Implementation::Best);
  }

  static std::string Name(CandidateScanner::Implementation implementation) {
    switch (implementation) {
      case CandidateScanner::Implementation::Avx512:
        return "avx512";
      case CandidateScanner::Implementation::Avx2:
        return "avx2";
      case CandidateScanner::Implementation::Sse2:
        return "sse2";
      case CandidateScanner::Implementation::Scalar:
      case CandidateScanner::Implementation::Best:
        break;
    }
    return "scalar";
  }
};

INSTANTIATE_TEST_SUITE_P(EveryPath, CandidateLoop,
                         ::testing::Values(CandidateScanner::Implementation::Scalar,
                                           CandidateScanner::Implementation::Sse2,
                                           CandidateScanner::Implementation::Avx2,
                                           CandidateScanner::Implementation::Avx512));

// Exact candidate bits against a byte-by-byte check, for every needle count of a table (and more
// than one table), distances up to the longest a plan makes, and every start and end around the
// 16-, 32- and 64-byte steps of the loops.
TEST_P(CandidateLoop, FindsExactlyTheCandidatesAtEveryStartAndEnd) {
  std::mt19937 random(BaseSeed() + 7);
  const auto byte = [&] {
    static constexpr char kAlphabet[] = "aAbB\0\x20\xC1\xE1";
    return static_cast<std::uint8_t>(kAlphabet[random() % 8]);
  };
  for (const std::size_t count : std::vector<std::size_t>{1, 2, 3, 5, 8, 9, 17}) {
    std::vector<Needle> needles;
    for (std::size_t n = 0; n < count; ++n) {
      const auto distance = static_cast<std::uint8_t>(n % 3 == 0 ? 0 : 1 + random() % 15);
      needles.push_back({static_cast<std::uint8_t>(byte() | 0x20),
                         static_cast<std::uint8_t>(distance == 0 ? 0 : byte() | 0x20), distance});
    }
    const CandidateScanner scanner(needles);
    std::vector<std::uint8_t> data(400 + CandidateScanner::kReadAhead);
    for (std::uint8_t& b : data) b = byte();
    for (std::size_t begin = 0; begin < 70; ++begin) {
      for (std::size_t end = begin; end <= 400; end += (end < begin + 140 ? 1 : 37)) {
        std::size_t at = begin;
        while (at < end) {
          std::uint64_t bits = 0;
          const std::size_t chunk = scanner.NextChunk(data.data(), at, end, bits);
          // Every position between at and the chunk holds no candidate; the chunk's bits are
          // exactly its candidates below end.
          for (std::size_t i = at; i < std::min(chunk, end); ++i) {
            for (std::size_t n = 0; n < needles.size(); ++n) {
              ASSERT_FALSE(scanner.Matches(data.data(), i, n))
                  << "missed " << i << " needles " << count << " begin " << begin << " end " << end;
            }
          }
          if (chunk >= end) break;
          ASSERT_EQ((chunk - begin) % 64, 0U);
          for (std::size_t i = 0; i < 64; ++i) {
            bool any = false;
            for (std::size_t n = 0; chunk + i < end && n < needles.size(); ++n) {
              any = any || scanner.Matches(data.data(), chunk + i, n);
            }
            ASSERT_EQ(((bits >> i) & 1U) != 0, any)
                << "position " << chunk + i << " needles " << count << " end " << end;
          }
          at = chunk + 64;
        }
      }
    }
  }
}

// Whole expressions against the reference on this path, at block sizes around the loops' steps
// and the scan's read-ahead, so that candidates straddle every kind of boundary.
TEST_P(CandidateLoop, AgreesWithTheReferenceAtEveryBlockSizeThatMatters) {
  const std::uint32_t seed = BaseSeed() + 3;
  ExpectAgreement(RunCases(seed, 60, 700,
                           {1, 15, 16, 17, 31, 32, 33, 63, 64, 65, 95, 96, 97, 127, 128, 129, 4096,
                            FastRefine::kDefaultBlockSize}),
                  seed);
}

}  // namespace
}  // namespace lk
