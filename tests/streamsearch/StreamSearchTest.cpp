#include "streamsearch/StreamSearch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "search/EncodedText.h"
#include "tests/search/FakeFileSystem.h"

namespace lk {
namespace {

using namespace std::string_literals;
using test::FakeFile;
using test::FakeFileSystem;

constexpr std::int64_t kBlock = 65'536;
// The two signature texts of the known-version checks, kept scrambled in this executable.
constexpr EncodedText kLibraryEncoded("C3PO-r2d2-POE");
constexpr EncodedText kDeviceEncoded("\\DosDevices\\KeyboardClassC");

std::u16string Widen(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

// Every ASCII letter in the other case.
std::string FlipCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return text;
}

const std::u16string kLibraryText = Widen(kLibraryEncoded.Decode());
const std::u16string kDeviceText = Widen(kDeviceEncoded.Decode());

std::string Utf16Le(std::u16string_view text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

std::string Utf16Be(std::u16string_view text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c >> 8));
    bytes.push_back(static_cast<char>(c & 0xFF));
  }
  return bytes;
}

class StreamFixture : public ::testing::Test {
 protected:
  FakeFile& AddFile(std::string content = {}) { return fs.AddFile("C:\\f.bin", content); }
  void Open() { search.OpenStreamFile("C:\\f.bin"); }

  FakeFileSystem fs;
  StreamSearch search{fs};
};

// ---- the stream ----

using StreamState = StreamFixture;

TEST_F(StreamState, EmptyTextIsNotFoundEvenWithoutAStream) {
  EXPECT_FALSE(search.FindText(u"", 0, TextEncoding::Ansi));
  EXPECT_EQ(search.MatchOffset(), -1);
  EXPECT_EQ(search.MatchLength(), 0);
}

TEST_F(StreamState, SearchWithoutAnOpenStreamRaises) {
  AddFile(kLibraryEncoded.Decode());
  try {
    (void)search.FindText(kLibraryText, 0, TextEncoding::Ansi);
    FAIL() << "no error";
  } catch (const StreamSearchError& e) {
    EXPECT_STREQ(e.what(), "Stream object not initialized");
  }
  Open();
  search.OpenStreamFile("");
  EXPECT_THROW((void)search.FindText(kLibraryText, 0, TextEncoding::Ansi), StreamSearchError);
}

TEST_F(StreamState, OpenSharesReadAndWriteAndRaisesTheWindowsCode) {
  AddFile("x");
  Open();
  ASSERT_EQ(fs.opened.size(), 1u);
  EXPECT_EQ(fs.opened[0].share, FileShare::ReadWrite);
  try {
    search.OpenStreamFile("C:\\missing.dll");
    FAIL() << "no error";
  } catch (const StreamSearchError& e) {
    EXPECT_EQ(e.Code(), 2u);
  }
  // The failed open closed the earlier stream.
  EXPECT_THROW((void)search.FindText(u"x", 0, TextEncoding::Ansi), StreamSearchError);
}

TEST_F(StreamState, ReadFailureNamesTheBlockStart) {
  AddFile(std::string(200'000, 'x')).readErrorFrom = 70'000;
  Open();
  try {
    (void)search.FindText(kLibraryText, 0, TextEncoding::Ansi);
    FAIL() << "no error";
  } catch (const StreamSearchError& e) {
    // The second block starts 14 bytes (13 characters + 1) before 65,536.
    EXPECT_STREQ(e.what(), "Read error at offset 65522");
  }
  fs.File("C:\\f.bin").throwOnRead = true;
  try {
    (void)search.FindText(kLibraryText, 0, TextEncoding::Ansi);
    FAIL() << "no error";
  } catch (const StreamSearchError& e) {
    EXPECT_STREQ(e.what(), "Read error at offset 0");
  }
}

// ---- short streams and case ----

using SmallStreams = StreamFixture;

TEST_F(SmallStreams, StreamsShorterThanOneCharacterOrTheTextAreNotFound) {
  AddFile();
  Open();
  EXPECT_FALSE(search.FindText(u"a", 0, TextEncoding::Ansi));
  AddFile("a");
  Open();
  EXPECT_FALSE(search.FindText(u"a", 0, TextEncoding::Utf16Le));
  EXPECT_TRUE(search.FindText(u"A", 0, TextEncoding::Ansi));
  EXPECT_EQ(search.MatchOffset(), 0);
  EXPECT_FALSE(search.FindText(u"ab", 0, TextEncoding::Ansi));
}

TEST_F(SmallStreams, CaseIsIgnoredUnlessAskedFor) {
  AddFile("MZ\0\0"s + FlipCase(kLibraryEncoded.Decode()) + "\0"s);
  Open();
  EXPECT_TRUE(search.FindText(kLibraryText, 0, TextEncoding::Ansi));
  EXPECT_EQ(search.MatchOffset(), 4);
  EXPECT_EQ(search.MatchLength(), 13);
  EXPECT_FALSE(search.FindText(kLibraryText, 0, TextEncoding::Ansi, {.caseSensitive = true}));
  EXPECT_EQ(search.MatchOffset(), -1);
  EXPECT_EQ(search.MatchLength(), 0);
}

TEST_F(SmallStreams, LowerCaseReachesBeyondAscii) {
  // Windows-1252: 0xC4 and 0xE4 are A and a with diaeresis, 0x8A and 0x9A S and s with caron.
  AddFile(
      "x\xE4\x9A"
      "b");
  Open();
  EXPECT_TRUE(search.FindText(u"\u00C4\u0160B", 0, TextEncoding::Ansi));
  EXPECT_EQ(search.MatchOffset(), 1);
  // UTF-16: Cyrillic and Latin Extended-A capitals.
  AddFile(Utf16Le(u"..\u0436\u0105Z"));
  Open();
  EXPECT_TRUE(search.FindText(u"\u0416\u0104z", 0, TextEncoding::Utf16Le));
  EXPECT_EQ(search.MatchOffset(), 4);
  EXPECT_EQ(search.MatchLength(), 6);
}

// ---- encodings and widths ----

using Encodings = StreamFixture;

TEST_F(Encodings, CharacterTheCodePageCannotExpressIsNeverInAnAnsiFile) {
  AddFile("x?y\x80z");
  Open();
  int progressCalls = 0;
  search.SetOnProgress([&](std::int64_t, std::int64_t, bool&) { ++progressCalls; });
  // Omega and a Cyrillic letter have no Windows-1252 byte; the conversion's '?' is not them.
  EXPECT_FALSE(search.FindText(u"\u03A9", 0, TextEncoding::Ansi));
  EXPECT_EQ(search.MatchOffset(), -1);
  EXPECT_EQ(search.MatchLength(), 0);
  EXPECT_FALSE(search.FindText(u"x\u0416y", 0, TextEncoding::Ansi, {.caseSensitive = true}));
  EXPECT_FALSE(search.FindText(u"\u03A9", 0, TextEncoding::Ansi, {.backward = true}));
  EXPECT_EQ(progressCalls, 0) << "nothing to read for a text that cannot be there";
  // A real '?' and a character the code page has outside Latin-1 (the euro sign, 0x80) are.
  EXPECT_TRUE(search.FindText(u"x?y", 0, TextEncoding::Ansi));
  EXPECT_EQ(search.MatchOffset(), 0);
  EXPECT_TRUE(search.FindText(u"y\u20ACz", 0, TextEncoding::Ansi));
  EXPECT_EQ(search.MatchOffset(), 2);
  // UTF-16 holds every code unit.
  AddFile("?\0"s + Utf16Le(u"\u03A9"));
  Open();
  EXPECT_TRUE(search.FindText(u"\u03C9", 0, TextEncoding::Utf16Le));
  EXPECT_EQ(search.MatchOffset(), 2);
  // Without a stream the error still comes first.
  search.OpenStreamFile("");
  EXPECT_THROW((void)search.FindText(u"\u03A9", 0, TextEncoding::Ansi), StreamSearchError);
}

TEST(AnsiCodePage, CanEncodeExactlyWhatRoundTrips) {
  int encodable = 0;
  for (char32_t c = 0; c <= 0xFFFF; ++c) {
    const auto unit = static_cast<char16_t>(c);
    const bool roundTrips = AnsiToUnicode(UnicodeToAnsi(unit)) == unit;
    ASSERT_EQ(CanEncodeInAnsi(unit), roundTrips) << static_cast<unsigned>(c);
    encodable += roundTrips ? 1 : 0;
  }
  EXPECT_EQ(encodable, 256);
}

TEST_F(Encodings, Utf16TextIsFoundOnlyAtEvenOffsets) {
  AddFile("\0"s + Utf16Le(kDeviceText) + "\0"s);
  Open();
  EXPECT_FALSE(search.FindText(kDeviceText, 0, TextEncoding::Utf16Le));
  AddFile("ab"s + Utf16Le(Widen(FlipCase(kDeviceEncoded.Decode()))));
  Open();
  EXPECT_TRUE(search.FindText(kDeviceText, 0, TextEncoding::Utf16Le));
  EXPECT_EQ(search.MatchOffset(), 2);
  EXPECT_EQ(search.MatchLength(), 52);
  EXPECT_FALSE(search.FindText(kDeviceText, 0, TextEncoding::Ansi));
}

TEST_F(Encodings, BigEndianSwapsTheBytesOfEachUnit) {
  AddFile("xxxx"s + Utf16Be(kLibraryText));
  Open();
  EXPECT_FALSE(search.FindText(kLibraryText, 0, TextEncoding::Utf16Le));
  EXPECT_TRUE(search.FindText(kLibraryText, 0, TextEncoding::Utf16Be));
  EXPECT_EQ(search.MatchOffset(), 4);
  EXPECT_EQ(search.MatchLength(), 26);
  EXPECT_EQ(CharacterWidth(TextEncoding::Utf16Be), 2);
  EXPECT_STREQ(DisplayName(TextEncoding::Utf16Le), "UTF-16 LE");
  EXPECT_STREQ(DisplayName(TextEncoding::Ansi), "ANSI (Windows)");
}

TEST_F(Encodings, StartOffsetIsAlignedToTheWidthAndBoundedByTheEnd) {
  AddFile(Utf16Le(u"abab"));
  Open();
  EXPECT_TRUE(search.FindText(u"ab", 3, TextEncoding::Utf16Le));
  EXPECT_EQ(search.MatchOffset(), 4);
  EXPECT_TRUE(search.FindText(u"ab", -7, TextEncoding::Utf16Le));
  EXPECT_EQ(search.MatchOffset(), 0);
  EXPECT_FALSE(search.FindText(u"b", 8, TextEncoding::Utf16Le));
}

// ---- blocks ----

using BlockBoundaries = StreamFixture;

TEST_F(BlockBoundaries, TextAcrossTheFirstBoundaryIsFoundAtItsTrueOffset) {
  FakeFile& file = AddFile();
  file.size = 3 * kBlock;
  file.Put(kBlock - 7, kLibraryEncoded.Decode());
  Open();
  EXPECT_TRUE(search.FindText(kLibraryText, 0, TextEncoding::Ansi));
  EXPECT_EQ(search.MatchOffset(), kBlock - 7);
}

TEST_F(BlockBoundaries, TextEndingAtTheLastByteOfAFullBlockIsFoundWithoutASecondBlock) {
  FakeFile& file = AddFile();
  file.size = kBlock;
  file.Put(kBlock - 13, kLibraryEncoded.Decode());
  Open();
  std::vector<std::int64_t> positions;
  search.SetOnProgress([&](std::int64_t position, std::int64_t size, bool&) {
    EXPECT_EQ(size, kBlock);
    positions.push_back(position);
  });
  EXPECT_TRUE(search.FindText(kLibraryText, 0, TextEncoding::Ansi));
  EXPECT_EQ(search.MatchOffset(), kBlock - 13);
  EXPECT_EQ(positions, std::vector<std::int64_t>{0});

  // Absent: a second block of len + 1 characters is read, then the search gives up.
  positions.clear();
  EXPECT_FALSE(search.FindText(u"absent-text-x", 0, TextEncoding::Ansi));
  EXPECT_EQ(positions, (std::vector<std::int64_t>{0, 0, kBlock - 14}));
}

TEST_F(BlockBoundaries, ProgressHandlerCanEndTheSearch) {
  FakeFile& file = AddFile();
  file.size = 4 * kBlock;
  file.Put(3 * kBlock, "needle");
  Open();
  int calls = 0;
  search.SetOnProgress([&](std::int64_t, std::int64_t, bool& goOn) { goOn = ++calls < 2; });
  EXPECT_FALSE(search.FindText(u"needle", 0, TextEncoding::Ansi));
  EXPECT_EQ(calls, 2);
}

TEST_F(BlockBoundaries, TextsLongerThanTheBlockStepStillEnd) {
  // 40,000 UTF-16 characters: a block of 65,536 bytes cannot even hold them.
  std::u16string longText(40'000, u'q');
  longText.front() = u'<';
  longText.back() = u'>';
  FakeFile& file = AddFile();
  file.size = 500'000;
  file.Put(200'002, Utf16Le(longText));
  Open();
  EXPECT_TRUE(search.FindText(longText, 0, TextEncoding::Utf16Le));
  EXPECT_EQ(search.MatchOffset(), 200'002);
  EXPECT_EQ(search.MatchLength(), 80'000);
  longText[20'000] = u'x';
  EXPECT_FALSE(search.FindText(longText, 0, TextEncoding::Utf16Le));

  // The first lengths where the plain step would be zero: 32,767 UTF-16 and 65,535 ANSI.
  const std::u16string utf16Edge(32'767, u'z');
  file.Put(150'000, Utf16Le(utf16Edge));
  EXPECT_TRUE(search.FindText(utf16Edge, 0, TextEncoding::Utf16Le));
  EXPECT_EQ(search.MatchOffset(), 150'000);
  const std::u16string ansiEdge(65'535, u'k');
  file.Put(300'001, std::string(65'535, 'K'));
  EXPECT_TRUE(search.FindText(ansiEdge, 0, TextEncoding::Ansi));
  EXPECT_EQ(search.MatchOffset(), 300'001);
  EXPECT_FALSE(search.FindText(u"j" + ansiEdge, 0, TextEncoding::Ansi));
}

TEST_F(BlockBoundaries, OffsetsBeyondFourGibibytesAreExact) {
  constexpr std::int64_t kFourGiB = std::int64_t{1} << 32;
  FakeFile& file = AddFile();
  file.size = 5 * kFourGiB / 4;
  file.Put(kFourGiB + 6, Utf16Le(kDeviceText));
  file.Put(kFourGiB + 1001, kLibraryEncoded.Decode());
  Open();
  EXPECT_TRUE(search.FindText(kDeviceText, kFourGiB - 3 * kBlock, TextEncoding::Utf16Le));
  EXPECT_EQ(search.MatchOffset(), kFourGiB + 6);
  EXPECT_TRUE(search.FindText(kLibraryText, kFourGiB - 1, TextEncoding::Ansi));
  EXPECT_EQ(search.MatchOffset(), kFourGiB + 1001);
  EXPECT_TRUE(
      search.FindText(kLibraryText, kFourGiB + 3 * kBlock, TextEncoding::Ansi, {.backward = true}));
  EXPECT_EQ(search.MatchOffset(), kFourGiB + 1001);
}

// ---- whole words and backward ----

using SearchOptionsOfStream = StreamFixture;

TEST_F(SearchOptionsOfStream, WholeWordsNeedsDelimitersOnBothSides) {
  AddFile("xkey key_ key2 (key) key");
  Open();
  const StreamSearchFlags words{.wholeWords = true};
  EXPECT_TRUE(search.FindText(u"key", 0, TextEncoding::Ansi, words));
  EXPECT_EQ(search.MatchOffset(), 16);
  EXPECT_TRUE(search.FindText(u"key", 17, TextEncoding::Ansi, words));
  EXPECT_EQ(search.MatchOffset(), 21);
  // Codes of 128 and above are word characters.
  AddFile("\xE9key");
  Open();
  EXPECT_FALSE(search.FindText(u"key", 0, TextEncoding::Ansi, words));
}

TEST_F(SearchOptionsOfStream, WholeWordsSeesTheNeighboursBeyondTheBlock) {
  FakeFile& file = AddFile();
  file.size = 3 * kBlock;
  // A word that ends exactly at the block's end but goes on in the next block.
  file.Put(kBlock - 3, "keyX");
  // Found only after the block where its neighbour before lies in the previous block.
  file.Put(2 * kBlock - 20, "akey key");
  Open();
  EXPECT_TRUE(search.FindText(u"key", 0, TextEncoding::Ansi, {.wholeWords = true}));
  EXPECT_EQ(search.MatchOffset(), 2 * kBlock - 15);
}

TEST_F(SearchOptionsOfStream, BackwardFindsTheLastOccurrenceAndZeroMeansTheEnd) {
  FakeFile& file = AddFile();
  file.size = 4 * kBlock;
  file.Put(100, "needle");
  file.Put(kBlock - 2, "needle");
  file.Put(3 * kBlock + 5, "needle");
  Open();
  const StreamSearchFlags backward{.backward = true};
  EXPECT_TRUE(search.FindText(u"needle", 0, TextEncoding::Ansi, backward));
  EXPECT_EQ(search.MatchOffset(), 3 * kBlock + 5);
  EXPECT_TRUE(search.FindText(u"needle", 3 * kBlock + 9, TextEncoding::Ansi, backward));
  EXPECT_EQ(search.MatchOffset(), kBlock - 2);
  EXPECT_TRUE(search.FindText(u"needle", kBlock + 2, TextEncoding::Ansi, backward));
  EXPECT_EQ(search.MatchOffset(), 100);
  EXPECT_FALSE(search.FindText(u"needle", 104, TextEncoding::Ansi, backward));
}

// ---- against a whole-stream search ----

// The first (or, backward, the last) offset where the text stands in the whole content, with
// the same alignment, case and word rules; the block-wise search must agree at every size.
std::int64_t WholeStreamSearch(const std::string& content, std::u16string_view text,
                               std::int64_t start, TextEncoding encoding, StreamSearchFlags flags) {
  const std::int64_t w = CharacterWidth(encoding);
  std::u16string units;
  for (std::size_t i = 0; i + static_cast<std::size_t>(w) <= content.size();
       i += static_cast<std::size_t>(w)) {
    const auto b0 = static_cast<std::uint8_t>(content[i]);
    char16_t unit = b0;
    if (w == 2) {
      const auto b1 = static_cast<std::uint8_t>(content[i + 1]);
      unit = encoding == TextEncoding::Utf16Be ? static_cast<char16_t>(b0 << 8 | b1)
                                               : static_cast<char16_t>(b1 << 8 | b0);
    }
    if (!flags.caseSensitive) {
      unit = w == 1 ? LowerAnsi(static_cast<std::uint8_t>(unit)) : LowerUtf16(unit);
    }
    units.push_back(unit);
  }
  std::u16string pattern;
  for (char16_t c : text) {
    if (w == 1 && AnsiToUnicode(UnicodeToAnsi(c)) != c) return -1;
    if (w == 1) c = UnicodeToAnsi(c);
    if (!flags.caseSensitive) c = w == 1 ? LowerAnsi(static_cast<std::uint8_t>(c)) : LowerUtf16(c);
    pattern.push_back(c);
  }
  const auto n = static_cast<std::int64_t>(units.size());
  const auto len = static_cast<std::int64_t>(pattern.size());
  auto word = [](char16_t c) {
    return c >= 128 || (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') ||
           (c >= u'A' && c <= u'Z') || c == u'_';
  };
  auto at = [&](std::int64_t k) {
    if (k < 0 || k + len > n) return false;
    if (units.compare(static_cast<std::size_t>(k), pattern.size(), pattern) != 0) return false;
    if (!flags.wholeWords) return true;
    if (k > 0 && word(units[static_cast<std::size_t>(k - 1)])) return false;
    return !(k + len < n && word(units[static_cast<std::size_t>(k + len)]));
  };
  if (n == 0) return -1;
  std::int64_t first = start / w;
  if (!flags.backward) {
    if (first > n - 1) return -1;
    for (std::int64_t k = std::max<std::int64_t>(first, 0); k + len <= n; ++k) {
      if (at(k)) return k * w;
    }
    return -1;
  }
  if (first <= 0 || first > n - 1) first = n - 1;
  for (std::int64_t k = first + 1 - len; k >= 0; --k) {
    if (at(k)) return k * w;
  }
  return -1;
}

TEST(StreamSearchAgreement, BlockWiseSearchEqualsWholeStreamSearch) {
  std::mt19937 random(20261209);
  const std::string alphabet = "aAb_ \xC4\xE4";
  for (int round = 0; round < 150; ++round) {
    FakeFileSystem fs;
    const std::size_t size = random() % 140'000;
    std::string content(size, 'x');
    for (char& c : content) c = alphabet[random() % alphabet.size()];
    // Plant a few copies of a marker where blocks meet.
    const std::u16string text = round % 3 == 0 ? u"ab_A" : (round % 3 == 1 ? u"\u00E4b" : u"zq");
    const std::array encodings{TextEncoding::Ansi, TextEncoding::Utf16Le, TextEncoding::Utf16Be};
    const TextEncoding encoding = encodings[random() % 3];
    const std::string bytes =
        encoding == TextEncoding::Ansi
            ? std::string(text.begin(), text.end())
            : (encoding == TextEncoding::Utf16Le ? Utf16Le(text) : Utf16Be(text));
    for (int k = 0; k < 3 && size > bytes.size() + 10; ++k) {
      const std::size_t near = (random() % 3) * 65'500 + random() % 80;
      if (near + bytes.size() <= size) content.replace(near, bytes.size(), bytes);
    }
    fs.AddFile("C:\\r.bin", content);
    StreamSearch search(fs);
    search.OpenStreamFile("C:\\r.bin");
    const StreamSearchFlags flags{.caseSensitive = (random() % 4) == 0,
                                  .wholeWords = (random() % 3) == 0,
                                  .backward = (random() % 3) == 0};
    const std::int64_t start =
        (random() % 2) == 0 ? 0 : static_cast<std::int64_t>(random() % (size + 10));
    const std::int64_t expected = WholeStreamSearch(content, text, start, encoding, flags);
    const bool found = search.FindText(text, start, encoding, flags);
    ASSERT_EQ(search.MatchOffset(), expected)
        << "round " << round << " size " << size << " start " << start << " encoding "
        << static_cast<int>(encoding) << " flags " << flags.caseSensitive << flags.wholeWords
        << flags.backward;
    ASSERT_EQ(found, expected >= 0);
  }
}

// Every block length from two bytes up, with texts from one character to several blocks long
// (the long ones get longer blocks), at every kind of start, both directions and all options.
TEST(StreamSearchAgreement, EveryBlockLengthAgreesWithTheWholeStreamSearch) {
  std::mt19937 random(7);
  const std::string alphabet = "aaaaAb_ \xC4\xE4";
  const std::array encodings{TextEncoding::Ansi, TextEncoding::Utf16Le, TextEncoding::Utf16Be};
  for (const std::int64_t blockLength : {2, 3, 4, 5, 7, 8, 13, 16, 31, 64, 100, 257, 1024}) {
    for (int round = 0; round < 250; ++round) {
      const TextEncoding encoding = encodings[random() % 3];
      const std::size_t w = static_cast<std::size_t>(CharacterWidth(encoding));
      const std::size_t size = random() % static_cast<std::size_t>(8 * blockLength + 40);
      std::string content(size, 'a');
      for (char& c : content) c = alphabet[random() % alphabet.size()];
      // Mostly a piece of the content itself, so that it is found, often more than once.
      std::u16string text;
      const std::size_t length =
          1 + random() % (random() % 4 == 0 ? 3 * static_cast<std::size_t>(blockLength) : 6);
      const std::size_t from = size / w > 0 ? random() % (size / w) : 0;
      for (std::size_t i = 0; i < length && (from + i + 1) * w <= size; ++i) {
        const auto b0 = static_cast<std::uint8_t>(content[(from + i) * w]);
        if (w == 1) {
          text.push_back(AnsiToUnicode(b0));
        } else {
          const auto b1 = static_cast<std::uint8_t>(content[(from + i) * w + 1]);
          text.push_back(encoding == TextEncoding::Utf16Be ? static_cast<char16_t>(b0 << 8 | b1)
                                                           : static_cast<char16_t>(b1 << 8 | b0));
        }
      }
      if (text.empty() || random() % 5 == 0) text.push_back(u"ab\u03A9"[random() % 3]);
      FakeFileSystem fs;
      fs.AddFile("C:\\r.bin", content);
      StreamSearch search(fs, blockLength);
      search.OpenStreamFile("C:\\r.bin");
      const StreamSearchFlags flags{.caseSensitive = (random() % 3) == 0,
                                    .wholeWords = (random() % 3) == 0,
                                    .backward = (random() % 2) == 0};
      const std::int64_t start =
          (random() % 3) == 0 ? 0 : static_cast<std::int64_t>(random() % (size + 4)) - 2;
      const std::int64_t expected = WholeStreamSearch(content, text, start, encoding, flags);
      const bool found = search.FindText(text, start, encoding, flags);
      ASSERT_EQ(search.MatchOffset(), expected)
          << "block " << blockLength << " round " << round << " size " << size << " length "
          << text.size() << " start " << start << " encoding " << static_cast<int>(encoding)
          << " flags " << flags.caseSensitive << flags.wholeWords << flags.backward;
      ASSERT_EQ(found, expected >= 0);
      ASSERT_EQ(search.MatchLength(), found ? static_cast<std::int64_t>(text.size() * w) : 0);
    }
  }
}

TEST_F(BlockBoundaries, LongTextOverARepetitiveFileIsFoundWhereItEnds) {
  // A file that keeps repeating the beginning of the text, as a search that compared the text
  // anew at every position would find most costly.
  const std::int64_t size = 3 * kBlock + 123;
  const std::int64_t textLength = 40'000;
  FakeFile& file = AddFile(std::string(static_cast<std::size_t>(size), 'a'));
  file.Put(size - 7, "b");
  Open();
  std::u16string text(static_cast<std::size_t>(textLength - 1), u'A');
  text.push_back(u'b');
  EXPECT_TRUE(search.FindText(text, 0, TextEncoding::Ansi));
  EXPECT_EQ(search.MatchOffset(), size - 7 - (textLength - 1));
  EXPECT_TRUE(search.FindText(text, 0, TextEncoding::Ansi, {.backward = true}));
  EXPECT_EQ(search.MatchOffset(), size - 7 - (textLength - 1));
  text.back() = u'c';
  EXPECT_FALSE(search.FindText(text, 0, TextEncoding::Ansi));
  // Longer than the whole file.
  EXPECT_FALSE(search.FindText(std::u16string(static_cast<std::size_t>(size) + 1, u'a'), 0,
                               TextEncoding::Ansi));
}

}  // namespace
}  // namespace lk
