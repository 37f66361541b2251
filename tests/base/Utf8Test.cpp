// The UTF-8 decoder accepts only shortest forms of scalar values and consumes one byte where no
// valid sequence starts; the UTF-16 conversions replace what they cannot carry with U+FFFD and
// round-trip everything else.
#include "base/Utf8.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace lk {
namespace {

using namespace std::string_literals;

Utf8Character At0(std::string_view text) { return DecodeUtf8At(text, 0); }

TEST(Utf8Decoding, DecodesEachSequenceLength) {
  EXPECT_EQ(At0("A").codePoint, U'A');
  EXPECT_EQ(At0("A").length, 1u);
  EXPECT_EQ(At0("\0"s).length, 1u);
  EXPECT_EQ(At0("\xC3\xA4").codePoint, U'\u00E4');
  EXPECT_EQ(At0("\xC3\xA4").length, 2u);
  EXPECT_EQ(At0("\xE2\x82\xAC").codePoint, U'\u20AC');
  EXPECT_EQ(At0("\xE2\x82\xAC").length, 3u);
  EXPECT_EQ(At0("\xF0\x9F\x98\x80").codePoint, U'\U0001F600');
  EXPECT_EQ(At0("\xF0\x9F\x98\x80").length, 4u);
  // The extremes of each length.
  EXPECT_EQ(At0("\xC2\x80").codePoint, U'\u0080');
  EXPECT_EQ(At0("\xDF\xBF").codePoint, U'\u07FF');
  EXPECT_EQ(At0("\xE0\xA0\x80").codePoint, U'\u0800');
  EXPECT_EQ(At0("\xEF\xBF\xBF").codePoint, U'\uFFFF');
  EXPECT_EQ(At0("\xF0\x90\x80\x80").codePoint, U'\U00010000');
  EXPECT_EQ(At0("\xF4\x8F\xBF\xBF").codePoint, U'\U0010FFFF');
  // Decoding in the middle of a text.
  EXPECT_EQ(DecodeUtf8At("ab\xC3\xA4", 2).codePoint, U'\u00E4');
}

TEST(Utf8Decoding, RejectsOverlongForms) {
  for (const char* overlong : {"\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xE0\x9F\xBF",
                               "\xF0\x80\x80\x80", "\xF0\x8F\xBF\xBF"}) {
    EXPECT_EQ(Utf8SequenceLength(overlong, 0), 0u) << overlong;
    EXPECT_EQ(At0(overlong).codePoint, kReplacementCharacter);
  }
}

TEST(Utf8Decoding, RejectsSurrogatesAndValuesPastTheLastCodePoint) {
  EXPECT_EQ(Utf8SequenceLength("\xED\x9F\xBF", 0), 3u);      // U+D7FF, just below
  EXPECT_EQ(Utf8SequenceLength("\xED\xA0\x80", 0), 0u);      // U+D800
  EXPECT_EQ(Utf8SequenceLength("\xED\xBF\xBF", 0), 0u);      // U+DFFF
  EXPECT_EQ(Utf8SequenceLength("\xF4\x90\x80\x80", 0), 0u);  // U+110000
  EXPECT_EQ(Utf8SequenceLength("\xF5\x80\x80\x80", 0), 0u);
  EXPECT_EQ(Utf8SequenceLength("\xFF", 0), 0u);
}

TEST(Utf8Decoding, RejectsTruncatedAndInterruptedSequences) {
  EXPECT_EQ(Utf8SequenceLength("\xC3", 0), 0u);
  EXPECT_EQ(Utf8SequenceLength("\xE2\x82", 0), 0u);
  EXPECT_EQ(Utf8SequenceLength("\xF0\x9F\x98", 0), 0u);
  EXPECT_EQ(Utf8SequenceLength("\xE2"
                               "A\xAC",
                               0),
            0u);                                 // a non-continuation in between
  EXPECT_EQ(Utf8SequenceLength("\x80", 0), 0u);  // a continuation byte alone
  // Only the bytes asked for count: a sequence cut by the view's end is truncated.
  EXPECT_EQ(Utf8SequenceLength(std::string_view("\xC3\xA4", 1), 0), 0u);
  EXPECT_TRUE(IsUtf8Continuation('\x80'));
  EXPECT_TRUE(IsUtf8Continuation('\xBF'));
  EXPECT_FALSE(IsUtf8Continuation('\xC0'));
  EXPECT_FALSE(IsUtf8Continuation('A'));
}

TEST(Utf8ToUtf16, ReplacesEachBrokenByteAndKeepsWhatFollows) {
  EXPECT_EQ(Utf16FromUtf8("caf\xC3\xA9"), u"caf\u00E9");
  EXPECT_EQ(Utf16FromUtf8("caf\xE9.txt"), u"caf\uFFFD.txt");  // Latin-1 byte: ".t" survives
  EXPECT_EQ(Utf16FromUtf8("\xE2\x82"), u"\uFFFD\uFFFD");      // truncated: one per byte
  EXPECT_EQ(Utf16FromUtf8("\xC0\x80"), u"\uFFFD\uFFFD");      // an overlong NUL is no NUL
  EXPECT_EQ(Utf16FromUtf8("\xED\xA0\x80x"), u"\uFFFD\uFFFD\uFFFDx");
  EXPECT_EQ(Utf16FromUtf8("\xF0\x9F\x98\x80"), u"\U0001F600");  // a surrogate pair
  EXPECT_EQ(Utf16FromUtf8(""), u"");
}

TEST(Utf16ToUtf8, ReplacesLoneSurrogates) {
  EXPECT_EQ(Utf8FromUtf16(u"caf\u00E9 \u20AC"), "caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(Utf8FromUtf16(u"\U0010FFFF"), "\xF4\x8F\xBF\xBF");
  EXPECT_EQ(Utf8FromUtf16(std::u16string{u'a', char16_t{0xD800}, u'b'}),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(Utf8FromUtf16(std::u16string{char16_t{0xDC00}, char16_t{0xD800}}),
            "\xEF\xBF\xBD\xEF\xBF\xBD");  // a pair in the wrong order is two lone halves
  EXPECT_EQ(Utf8FromUtf16(std::u16string{char16_t{0xD83D}}), "\xEF\xBF\xBD");  // cut at the end
  EXPECT_EQ(Utf8FromUtf16(std::u16string(1, u'\0')), std::string(1, '\0'));
}

TEST(Utf8RoundTrip, EveryScalarValueSurvivesBothWays) {
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    std::string utf8;
    AppendUtf8(c, utf8);
    const Utf8Character decoded = DecodeUtf8At(utf8, 0);
    ASSERT_EQ(decoded.codePoint, c);
    ASSERT_EQ(decoded.length, utf8.size());
    ASSERT_EQ(Utf8FromUtf16(Utf16FromUtf8(utf8)), utf8) << static_cast<unsigned>(c);
  }
}

TEST(Utf8RoundTrip, ArbitraryBytesDecodeLikeTheirValidPartsAlone) {
  // Whatever the bytes, converting there and back gives valid UTF-8 that the decoder then takes
  // unchanged, and whose length in code points is that of the first conversion.
  std::mt19937 random(1252);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(static_cast<std::size_t>(round % 12), '\0');
    for (char& b : bytes) b = static_cast<char>(byte(random));
    const std::u16string wide = Utf16FromUtf8(bytes);
    const std::string clean = Utf8FromUtf16(wide);
    for (std::size_t i = 0; i < clean.size();) {
      const std::size_t length = Utf8SequenceLength(clean, i);
      ASSERT_NE(length, 0u);
      i += length;
    }
    EXPECT_EQ(Utf16FromUtf8(clean), wide);
  }
}

}  // namespace
}  // namespace lk
