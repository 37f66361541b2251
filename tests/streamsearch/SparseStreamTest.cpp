// The stream search over files whose layer tells their holes, against the same bytes in a file
// that tells none: the same verdict and the same offset for every text, encoding and direction,
// and a hole of gibibytes costs next to nothing to read.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "streamsearch/StreamSearch.h"
#include "tests/search/FakeFileSystem.h"

namespace lk {
namespace {

using test::FakeFile;
using test::FakeFileSystem;

// The bytes of text in an encoding (ASCII and zero units only, so every encoding can hold it).
std::string Encode(const std::u16string& text, TextEncoding encoding) {
  std::string bytes;
  for (const char16_t unit : text) {
    const auto low = static_cast<char>(unit & 0xFF);
    if (encoding == TextEncoding::Ansi) {
      bytes.push_back(low);
    } else if (encoding == TextEncoding::Utf16Le) {
      bytes.push_back(low);
      bytes.push_back('\0');
    } else {
      bytes.push_back('\0');
      bytes.push_back(low);
    }
  }
  return bytes;
}

class Layouts {
 public:
  explicit Layouts(std::uint32_t seed) : random_(seed) {}

  std::size_t Below(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_);
  }

  std::u16string Text() {
    static const std::vector<std::u16string> kTexts = {u"AB",
                                                       u"ab",
                                                       u"KEY",
                                                       std::u16string(1, u'\0'),
                                                       std::u16string(3, u'\0'),
                                                       std::u16string(u"A\0B", 3),
                                                       std::u16string(u"\0A", 2),
                                                       std::u16string(u"B\0", 2),
                                                       u"A B",
                                                       u"b",
                                                       u"BA"};
    return kTexts[Below(kTexts.size())];
  }

  // Pieces of data between holes of every size: none, shorter than a block, many blocks.
  void Fill(FakeFile& file, TextEncoding encoding) {
    static const std::string kBytes("AB\0\0 b.ke", 9);
    std::int64_t at = static_cast<std::int64_t>(Below(3) == 0 ? 0 : Below(40));
    const std::size_t pieces = 1 + Below(6);
    for (std::size_t i = 0; i < pieces; ++i) {
      std::string bytes;
      if (Below(2) == 0) bytes = Encode(Text(), encoding);
      for (std::size_t n = Below(12); n > 0; --n) bytes.push_back(kBytes[Below(kBytes.size())]);
      if (bytes.empty()) bytes = "A";
      file.Put(at, bytes);
      at += static_cast<std::int64_t>(bytes.size());
      const std::size_t kind = Below(3);
      at += static_cast<std::int64_t>(kind == 0 ? Below(3) : kind == 1 ? Below(200) : Below(3000));
    }
    if (Below(2) == 0) file.size = at;  // a hole at the end
  }

 private:
  std::mt19937 random_;
};

struct Found {
  bool found = false;
  std::int64_t offset = -1;
  bool operator==(const Found&) const = default;
};

Found Search(FakeFileSystem& fs, const std::string& path, std::int64_t block,
             const std::u16string& text, std::int64_t start, TextEncoding encoding,
             StreamSearchFlags flags) {
  StreamSearch search(fs, block);
  search.OpenStreamFile(path);
  const bool found = search.FindText(text, start, encoding, flags);
  return {found, search.MatchOffset()};
}

TEST(SparseStream, EveryLayoutGivesWhatTheSameBytesWithoutHolesGive) {
  const TextEncoding kEncodings[] = {TextEncoding::Ansi, TextEncoding::Utf16Le,
                                     TextEncoding::Utf16Be};
  int skippedSome = 0;
  for (std::uint32_t seed = 1; seed <= 600; ++seed) {
    Layouts layouts(seed);
    const TextEncoding encoding = kEncodings[layouts.Below(3)];
    FakeFileSystem fs;
    FakeFile& sparse = fs.AddFile("C:\\sparse.bin");
    layouts.Fill(sparse, encoding);
    sparse.tellsHoles = true;
    FakeFile& dense = fs.AddFile("C:\\dense.bin");
    dense = sparse;
    dense.tellsHoles = false;
    const std::u16string text = layouts.Text();
    StreamSearchFlags flags;
    flags.caseSensitive = layouts.Below(2) == 0;
    flags.wholeWords = layouts.Below(3) == 0;
    flags.backward = layouts.Below(2) == 0;
    const std::int64_t block = 8 + static_cast<std::int64_t>(layouts.Below(120));
    const std::int64_t start =
        layouts.Below(3) == 0
            ? 0
            : static_cast<std::int64_t>(layouts.Below(static_cast<std::size_t>(sparse.size) + 1));
    SCOPED_TRACE("seed " + std::to_string(seed));
    const Found expected = Search(fs, "C:\\dense.bin", block, text, start, encoding, flags);
    const std::int64_t denseRead = dense.bytesRead;
    EXPECT_EQ(Search(fs, "C:\\sparse.bin", block, text, start, encoding, flags), expected);
    if (sparse.bytesRead < denseRead) ++skippedSome;
  }
  // The layouts do have holes worth passing over.
  EXPECT_GT(skippedSome, 50);
}

TEST(SparseStream, FourGibibyteHoleIsPassedOverBothWays) {
  FakeFileSystem fs;
  FakeFile& file = fs.AddFile("C:\\big.sys");
  constexpr std::int64_t kSize = std::int64_t{4} << 30;
  const std::string text = Encode(u"KeyboardClassC", TextEncoding::Utf16Le);
  file.Put(4096, "MZ" + text);
  file.Put(kSize - 5000, text);
  file.size = kSize;
  file.tellsHoles = true;
  StreamSearch search(fs);
  search.OpenStreamFile("C:\\big.sys");
  ASSERT_TRUE(search.FindText(u"keyboardclassc", 8192, TextEncoding::Utf16Le));
  EXPECT_EQ(search.MatchOffset(), kSize - 5000);
  ASSERT_TRUE(
      search.FindText(u"KeyboardClassC", kSize - 6000, TextEncoding::Utf16Le, {.backward = true}));
  EXPECT_EQ(search.MatchOffset(), 4098);
  EXPECT_FALSE(search.FindText(u"KeyboardClassD", 0, TextEncoding::Utf16Le));
  EXPECT_LT(file.bytesRead, std::int64_t{4} << 20);
  // Zeros alone are found where the hole begins, still without reading it.
  ASSERT_TRUE(search.FindText(std::u16string(4, u'\0'), 8192, TextEncoding::Utf16Le));
  EXPECT_EQ(search.MatchOffset(), 8192);
  EXPECT_LT(file.bytesRead, std::int64_t{5} << 20);
}

}  // namespace
}  // namespace lk
