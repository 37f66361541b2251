// ASCII folding leaves every byte but A-Z alone; Windows-1252 folding takes the code page's
// accented and caron letters too, and the two directions undo each other.
#include "base/TextCase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace lk {
namespace {

TEST(AsciiCase, FoldsOnlyTheAsciiLetters) {
  EXPECT_EQ(FoldedAscii("MFC42UL.DLL"), "mfc42ul.dll");
  EXPECT_EQ(FoldedAscii("@[`{"), "@[`{");  // the bytes next to A-Z and a-z
  // Windows-1252 capitals (A grave, S caron) and UTF-8 bytes are left alone.
  EXPECT_EQ(FoldedAscii("\xC0\x8A\xC3\x84"), "\xC0\x8A\xC3\x84");
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const bool capital = b >= 'A' && b <= 'Z';
    EXPECT_EQ(FoldAscii(c), capital ? static_cast<char>(b + 32) : c) << b;
    EXPECT_EQ(UpperAscii(FoldAscii(c)), capital ? c : UpperAscii(c)) << b;
    EXPECT_EQ(IsAsciiLetter(c), capital || (b >= 'a' && b <= 'z')) << b;
  }
}

TEST(AsciiCase, ComparisonsIgnoreOnlyAsciiCase) {
  EXPECT_TRUE(EqualsIgnoringAsciiCase("WinSys32.SYS", "winsys32.sys"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("winsys32.sys", "winsys32.sy"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("\xC4", "\xE4"));  // Windows-1252 A/a umlaut differ
  EXPECT_TRUE(EqualsIgnoringAsciiCase("", ""));

  EXPECT_TRUE(StartsWithIgnoringAsciiCase("SYSTEM\\CurrentControlSet", "system\\"));
  EXPECT_FALSE(StartsWithIgnoringAsciiCase("SYS", "system"));

  EXPECT_TRUE(ContainsIgnoringAsciiCase("c:\\x\\MFC42UL.DLL,other.dll", "mfc42ul.dll"));
  EXPECT_TRUE(ContainsIgnoringAsciiCase("abc", ""));
  EXPECT_TRUE(ContainsIgnoringAsciiCase("", ""));
  EXPECT_FALSE(ContainsIgnoringAsciiCase("mfc42u.dll", "mfc42ul.dll"));
  EXPECT_FALSE(ContainsIgnoringAsciiCase("ab", "abc"));
}

TEST(AsciiCase, SortsAsIfFolded) {
  std::vector<std::string> names{"b.dll", "A.DLL", "a.dll", "_x", "C", "\xE4"};
  std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return LessIgnoringAsciiCase(a, b);
  });
  // '_' (0x5F) sorts before the folded letters, a high byte after them; equal texts keep order.
  EXPECT_EQ(names, (std::vector<std::string>{"_x", "A.DLL", "a.dll", "b.dll", "C", "\xE4"}));
  EXPECT_FALSE(LessIgnoringAsciiCase("ABC", "abc"));
  EXPECT_FALSE(LessIgnoringAsciiCase("abc", "ABC"));
  EXPECT_TRUE(LessIgnoringAsciiCase("ab", "ABC"));
}

TEST(Windows1252Case, UpperCaseFollowsTheCodePage) {
  EXPECT_EQ(UpperWindows1252('a'), 'A');
  EXPECT_EQ(UpperWindows1252('z'), 'Z');
  EXPECT_EQ(UpperWindows1252(0xE0), 0xC0);  // a grave
  EXPECT_EQ(UpperWindows1252(0xFE), 0xDE);  // thorn
  EXPECT_EQ(UpperWindows1252(0xF7), 0xF7);  // the division sign is no letter
  EXPECT_EQ(UpperWindows1252(0x9A), 0x8A);  // s caron
  EXPECT_EQ(UpperWindows1252(0x9C), 0x8C);  // oe
  EXPECT_EQ(UpperWindows1252(0x9E), 0x8E);  // z caron
  EXPECT_EQ(UpperWindows1252(0xFF), 0x9F);  // y diaeresis
  EXPECT_EQ(UpperWindows1252(0xDF), 0xDF);  // sharp s has no capital here
  EXPECT_EQ(UpperWindows1252(0xB5), 0xB5);  // nor has micro
  EXPECT_EQ(UpperWindows1252('?'), '?');
}

TEST(Windows1252Case, LowerCaseFollowsTheCodePage) {
  EXPECT_EQ(LowerWindows1252('A'), 'a');
  EXPECT_EQ(LowerWindows1252(0xC0), 0xE0);
  EXPECT_EQ(LowerWindows1252(0xDE), 0xFE);
  EXPECT_EQ(LowerWindows1252(0xD7), 0xD7);  // the multiplication sign is no letter
  EXPECT_EQ(LowerWindows1252(0x8A), 0x9A);
  EXPECT_EQ(LowerWindows1252(0x8C), 0x9C);
  EXPECT_EQ(LowerWindows1252(0x8E), 0x9E);
  EXPECT_EQ(LowerWindows1252(0x9F), 0xFF);
  EXPECT_EQ(LowerWindows1252(0x80), 0x80);  // the euro sign
}

TEST(Windows1252Case, DirectionsAreIdempotentAndUndoEachOther) {
  int letterPairs = 0;
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<std::uint8_t>(b);
    const std::uint8_t upper = UpperWindows1252(byte);
    const std::uint8_t lower = LowerWindows1252(byte);
    EXPECT_EQ(UpperWindows1252(upper), upper) << b;
    EXPECT_EQ(LowerWindows1252(lower), lower) << b;
    if (upper != byte) {
      EXPECT_EQ(LowerWindows1252(upper), byte) << b;
      ++letterPairs;
    }
    if (lower != byte) {
      EXPECT_EQ(UpperWindows1252(lower), byte) << b;
    }
    if (b < 0x80) {  // ASCII folding agrees with the code page's on ASCII
      EXPECT_EQ(LowerWindows1252(byte), static_cast<std::uint8_t>(FoldAscii(static_cast<char>(b))));
    }
  }
  EXPECT_EQ(letterPairs, 26 + 30 + 4);  // a-z, 0xE0-0xFE but 0xF7, and the four of 0x9A-0xFF
}

}  // namespace
}  // namespace lk
