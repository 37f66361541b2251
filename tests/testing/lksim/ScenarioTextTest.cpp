// The byte forms of the scenario's "text" and "utf16" pieces.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "testing/lksim/ScenarioText.h"

namespace lk::lksim {
namespace {

using namespace std::string_literals;

std::string Windows1252FaultOf(const std::string& utf8) {
  try {
    (void)Windows1252Bytes(utf8);
  } catch (const std::range_error& fault) {
    return fault.what();
  }
  return "no fault";
}

TEST(ScenarioTextUtf16, WritesEachUnitLowByteFirst) {
  EXPECT_EQ(Utf16LeBytes("A\u00e9\u20ac"), "A\0\xE9\0\xAC\x20"s);
  EXPECT_EQ(Utf16LeBytes(""), "");
}

TEST(ScenarioTextUtf16, WritesCharactersBeyondU_FFFFAsSurrogatePairs) {
  EXPECT_EQ(Utf16LeBytes("\U0001F600!"), "\x3D\xD8\x00\xDE!\0"s);
}

TEST(ScenarioTextUtf16, KeepsNulCharacters) { EXPECT_EQ(Utf16LeBytes("a\0b"s), "a\0\0\0b\0"s); }

TEST(ScenarioTextWindows1252, WritesOneByteACharacter) {
  EXPECT_EQ(Windows1252Bytes("KeyboardClassC?"), "KeyboardClassC?");
  // The range 0x80-0x9F holds typographic characters, not Latin-1's control characters.
  EXPECT_EQ(Windows1252Bytes("\u20ac\u0160\u017e\u2122"), "\x80\x8A\x9E\x99");
  EXPECT_EQ(Windows1252Bytes("\u00e4\u00ff\u00a0"), "\xE4\xFF\xA0");
  EXPECT_EQ(Windows1252Bytes("a\0b"s), "a\0b"s);
}

TEST(ScenarioTextWindows1252, NamesTheFirstCharacterItLacks) {
  EXPECT_EQ(Windows1252FaultOf("a\u20ac\u03a9\u0416"), "character U+03A9 is not in Windows-1252");
  EXPECT_EQ(Windows1252FaultOf("\U0001F600"), "character U+1F600 is not in Windows-1252");
  // Latin-1's control characters that Windows-1252 replaced.
  EXPECT_EQ(Windows1252FaultOf("\u0080"), "character U+0080 is not in Windows-1252");
}

}  // namespace
}  // namespace lk::lksim
