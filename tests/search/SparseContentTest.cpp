// Content tests over files whose layer tells their holes: both matchers give, on the sparse
// file, the verdict that the reference matcher gives on the same bytes without holes, for
// generated layouts, expressions (zeros matched by '?', by the separator of a wildcard term and by
// word boundaries, NEAR pairs and NOT) and options; and a sweep over a file of gibibytes with a
// few kilobytes of data reads about those kilobytes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "search/SearchFileGrep.h"
#include "search/matcher/FastRefine.h"
#include "testing/reference/ReferenceRefine.h"
#include "tests/search/FakeFileSystem.h"
#include "trojan/SweepExpressions.h"

namespace lk {
namespace {

using test::FakeFile;
using test::FakeFileSystem;

class Cases {
 public:
  explicit Cases(std::uint32_t seed) : random_(seed) {}

  std::size_t Below(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_);
  }

  std::string Term() {
    static const std::vector<std::string> kTerms = {
        "?",  "??", "???", "A?B",     "?A",     "A?",       "K?E?Y?", "AB",         "A*B",
        "*B", "?*", "*?",  "?*?",     "'\x01'", "'\x01?A'", "' ?'",   "' A'",       "'A '",
        "ab", "B?", "KEY", "'A\x01'", "A*",     "*A*B",     "?B?",    "'\x01\x01'", "'?\x01'"};
    return kTerms[Below(kTerms.size())];
  }

  std::string Expression(int depth = 0) {
    switch (depth > 2 ? 0 : Below(7)) {
      case 0:
      case 1:
        return Term();
      case 2:
        return Term() + " NEAR " + Term();
      case 3:
        return "NOT " + Expression(depth + 1);
      case 4:
        return "(" + Expression(depth + 1) + ") AND (" + Expression(depth + 1) + ")";
      default:
        return "(" + Expression(depth + 1) + ") OR (" + Expression(depth + 1) + ")";
    }
  }

  // Data pieces with zeros of their own at their ends, between holes of every length.
  void Fill(FakeFile& file) {
    static const std::string kBytes("AB\0\0 bKEY.\x01x", 12);
    std::int64_t at = Below(3) == 0 ? 0 : static_cast<std::int64_t>(Below(300));
    for (std::size_t pieces = 1 + Below(5); pieces > 0; --pieces) {
      std::string bytes;
      for (std::size_t n = 1 + Below(10); n > 0; --n) bytes.push_back(kBytes[Below(kBytes.size())]);
      file.Put(at, bytes);
      at += static_cast<std::int64_t>(bytes.size());
      const std::size_t kind = Below(3);
      at += static_cast<std::int64_t>(kind == 0 ? Below(4) : kind == 1 ? Below(300) : Below(4000));
    }
    if (Below(2) == 0) file.size = at;
  }

  void Configure(Refine& refine, const std::string& expression, std::int32_t nearest,
                 bool matchCase, bool wholeWords) {
    refine.SetMatchCase(matchCase);
    refine.SetWholeWordsOnly(wholeWords);
    refine.SetNearestLength(nearest);
    refine.SetTemplate(expression);
  }

 private:
  std::mt19937 random_;
};

bool MatchFile(Refine& refine, FakeFileSystem& fs, const std::string& path) {
  std::uint32_t error = 0;
  const std::unique_ptr<ReadableFile> file = fs.OpenForReading(path, FileShare::Read, &error);
  return refine.MatchStream(*file);
}

TEST(SparseContent, EveryLayoutGivesTheVerdictOfTheSameBytesWithoutHoles) {
  int cut = 0;
  int matched = 0;
  for (std::uint32_t seed = 1; seed <= 1500; ++seed) {
    Cases cases(seed);
    FakeFileSystem fs;
    FakeFile& sparse = fs.AddFile("C:\\sparse.bin");
    cases.Fill(sparse);
    sparse.tellsHoles = true;
    FakeFile& dense = fs.AddFile("C:\\dense.bin");
    dense = sparse;
    dense.tellsHoles = false;
    const std::string expression = cases.Expression();
    const std::int32_t nearest = std::vector<std::int32_t>{1, 2, 3, 7, 50, 400}[cases.Below(6)];
    const bool matchCase = cases.Below(3) == 0;
    const bool wholeWords = cases.Below(3) == 0;
    SCOPED_TRACE("seed " + std::to_string(seed) + ": " + expression + " near " +
                 std::to_string(nearest) + (matchCase ? " case" : "") +
                 (wholeWords ? " words" : ""));
    ReferenceRefine oracle;
    cases.Configure(oracle, expression, nearest, matchCase, wholeWords);
    const bool expected = MatchFile(oracle, fs, "C:\\dense.bin");
    const std::int64_t denseRead = dense.bytesRead;
    FastRefine fast;
    fast.SetBlockSize(1 + cases.Below(200));
    cases.Configure(fast, expression, nearest, matchCase, wholeWords);
    sparse.bytesRead = 0;
    EXPECT_EQ(MatchFile(fast, fs, "C:\\sparse.bin"), expected);
    ReferenceRefine reference;
    cases.Configure(reference, expression, nearest, matchCase, wholeWords);
    sparse.bytesRead = 0;
    EXPECT_EQ(MatchFile(reference, fs, "C:\\sparse.bin"), expected);
    if (sparse.bytesRead < denseRead) ++cut;
    if (expected) ++matched;
  }
  // Holes were cut in many cases, and the verdicts are not all alike.
  EXPECT_GT(cut, 300);
  EXPECT_GT(matched, 300);
  EXPECT_LT(matched, 1200);
}

// A wildcard term that matches zeros alone follows itself through a hole at its own step; where
// that chain leaves the hole decides whether a NEAR pair just after it is close enough.
TEST(SparseContent, ChainOfZerosThroughAHoleMeetsTheSameNearPartner) {
  for (std::int64_t hole = 600; hole < 640; ++hole) {
    FakeFileSystem fs;
    FakeFile& sparse = fs.AddFile("C:\\sparse.bin");
    sparse.Put(0, "x");
    sparse.Put(1 + hole, "B");
    sparse.tellsHoles = true;
    FakeFile& dense = fs.AddFile("C:\\dense.bin");
    dense = sparse;
    dense.tellsHoles = false;
    for (const char* expression : {"??? NEAR B", "?? NEAR B",
                                   "'\x01?"
                                   "?' NEAR B"}) {
      for (const std::int32_t nearest : {1, 2, 3}) {
        SCOPED_TRACE(std::string(expression) + " hole " + std::to_string(hole) + " near " +
                     std::to_string(nearest));
        ReferenceRefine oracle;
        oracle.SetNearestLength(nearest);
        oracle.SetTemplate(expression);
        FastRefine fast;
        fast.SetNearestLength(nearest);
        fast.SetTemplate(expression);
        EXPECT_EQ(MatchFile(fast, fs, "C:\\sparse.bin"), MatchFile(oracle, fs, "C:\\dense.bin"));
      }
    }
  }
}

// Two terms on either side of a hole longer than NearestLength are not near, however short the
// hole is read.
TEST(SparseContent, TermsAcrossALongHoleAreNotNear) {
  for (const std::int32_t nearest : {50, 400, 3000}) {
    for (const std::int64_t hole : {40, 399, 401, 2999, 3001, 100'000}) {
      FakeFileSystem fs;
      FakeFile& sparse = fs.AddFile("C:\\sparse.bin");
      sparse.Put(0, "AB");
      sparse.Put(2 + hole, "KEY");
      sparse.tellsHoles = true;
      FakeFile& dense = fs.AddFile("C:\\dense.bin");
      dense = sparse;
      dense.tellsHoles = false;
      for (const char* expression : {"AB NEAR KEY", "A* NEAR ?EY", "NOT (KEY NEAR AB)"}) {
        SCOPED_TRACE(std::string(expression) + " hole " + std::to_string(hole) + " near " +
                     std::to_string(nearest));
        ReferenceRefine oracle;
        oracle.SetNearestLength(nearest);
        oracle.SetTemplate(expression);
        FastRefine fast;
        fast.SetNearestLength(nearest);
        fast.SetTemplate(expression);
        EXPECT_EQ(MatchFile(fast, fs, "C:\\sparse.bin"), MatchFile(oracle, fs, "C:\\dense.bin"));
      }
    }
  }
}

std::string Utf16(const std::string& ascii) {
  std::string bytes;
  for (const char c : ascii) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

// The drivers' sweep over 4 GiB that hold a few kilobytes of data: the device name in its UTF-16
// form, written across the end of one piece of data, is found; without it, the file is clean; and
// either way the search reads about the data, not the hole.
TEST(SparseContent, SweepOfAFourGibibyteDriverReadsItsData) {
  constexpr std::int64_t kSize = std::int64_t{4} << 30;
  for (const bool planted : {true, false}) {
    for (const int workers : {1, 2}) {
      FakeFileSystem fs;
      fs.AddDirectory("C:\\Windows\\System32\\drivers");
      FakeFile& file = fs.AddFile("C:\\Windows\\System32\\drivers\\winsys32.sys", "MZ");
      file.Put(4096, std::string(4096, 'x'));
      // The last letter's zero byte lies in the hole that follows the piece.
      const std::string name = Utf16(planted ? "KeyBoardClassC" : "KeyBoardClassD");
      file.Put(kSize / 2, name.substr(0, name.size() - 1));
      file.size = kSize;
      file.tellsHoles = true;
      fs.Entry("C:\\Windows\\System32\\drivers\\winsys32.sys").size = kSize;
      SearchFileGrep search(fs);
      search.ThreadedSearch = false;
      search.Workers = workers;
      search.Dirs = "C:\\Windows\\System32\\drivers";
      search.FileMasks = "*.sys";
      search.SetSearchString(DriverSweepExpression());
      search.RunSearch();
      SCOPED_TRACE(std::string(planted ? "planted" : "clean") + ", workers " +
                   std::to_string(workers));
      EXPECT_EQ(search.FoundList().Count(), planted ? 1 : 0);
      EXPECT_EQ(search.ExaminedFiles(), 1);
      EXPECT_EQ(search.ExaminedBytes(), kSize);
      EXPECT_LT(file.bytesRead, std::int64_t{4} << 20);
    }
  }
}

}  // namespace
}  // namespace lk
