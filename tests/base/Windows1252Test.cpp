// Windows-1252 holds 256 characters, each byte round-trips, and whatever it lacks becomes '?'.
#include "base/Windows1252.h"

#include <gtest/gtest.h>

namespace lk {
namespace {

TEST(Windows1252Characters, MapsTheHighControlsRangeToItsSymbols) {
  EXPECT_EQ(UnicodeFromWindows1252('A'), u'A');
  EXPECT_EQ(UnicodeFromWindows1252(0x80), u'\u20AC');
  EXPECT_EQ(UnicodeFromWindows1252(0x8A), u'\u0160');
  EXPECT_EQ(UnicodeFromWindows1252(0x9F), u'\u0178');
  EXPECT_EQ(UnicodeFromWindows1252(0x81), u'\u0081');  // unassigned: the C1 control
  EXPECT_EQ(UnicodeFromWindows1252(0xE4), u'\u00E4');
  EXPECT_EQ(Windows1252FromUnicode(U'\u20AC'), 0x80);
  EXPECT_EQ(Windows1252FromUnicode(U'\u00FF'), 0xFF);
  EXPECT_EQ(Windows1252FromUnicode(U'\u0080'), '?');  // a C1 control the page has no byte for
  EXPECT_EQ(Windows1252FromUnicode(U'\u03A9'), '?');
  EXPECT_EQ(Windows1252FromUnicode(U'\U0001F600'), '?');
}

TEST(Windows1252Characters, EveryByteRoundTripsAndNothingElseIsEncodable) {
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<std::uint8_t>(b);
    EXPECT_EQ(Windows1252FromUnicode(UnicodeFromWindows1252(byte)), byte) << b;
  }
  int encodable = 0;
  for (char32_t c = 0; c <= 0x10FFFF; c += (c < 0x10000 ? 1 : 0x101)) {
    const bool roundTrips = UnicodeFromWindows1252(Windows1252FromUnicode(c)) == c;
    ASSERT_EQ(CanEncodeInWindows1252(c), roundTrips) << static_cast<unsigned>(c);
    encodable += roundTrips ? 1 : 0;
  }
  EXPECT_EQ(encodable, 256);
}

TEST(Windows1252Conversion, Utf8TextConvertsBothWays) {
  EXPECT_EQ(Windows1252FromUtf8("caf\xC3\xA9 \xE2\x82\xAC 5"), "caf\xE9 \x80 5");
  EXPECT_EQ(Utf8FromWindows1252("caf\xE9 \x80 5"), "caf\xC3\xA9 \xE2\x82\xAC 5");
  EXPECT_EQ(Windows1252FromUtf8(""), "");
  std::string every;
  for (int b = 0; b < 256; ++b) every.push_back(static_cast<char>(b));
  EXPECT_EQ(Windows1252FromUtf8(Utf8FromWindows1252(every)), every);
}

TEST(Windows1252Conversion, WhatThePageLacksBecomesAQuestionMark) {
  EXPECT_EQ(Windows1252FromUtf8("\xCE\xA9mega"), "?mega");    // Greek capital omega
  EXPECT_EQ(Windows1252FromUtf8("\xF0\x9F\x98\x80!"), "?!");  // one character, one '?'
  EXPECT_EQ(Windows1252FromUtf8("caf\xE9.txt"), "caf?.txt");  // not UTF-8: one per byte
  EXPECT_EQ(Windows1252FromUtf8("\xE2\x82"), "??");           // truncated
  EXPECT_EQ(Windows1252FromUtf8("\xC0\x80"), "??");           // an overlong NUL is no NUL
}

}  // namespace
}  // namespace lk
