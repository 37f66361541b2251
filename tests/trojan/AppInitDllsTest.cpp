// The AppInit_DLLs edit that both removals make: only the trojan's library goes.
#include <gtest/gtest.h>

#include <string>

#include "base/TextCase.h"
#include "trojan/AppInitDlls.h"

namespace lk {
namespace {

TEST(AppInitEntryRemoval, RemovesOnlyTheTrojanLibraryAndKeepsOrder) {
  EXPECT_EQ(RemoveLibraryEntries("a.dll mfc42ul.dll b.dll", "mfc42ul.dll"), "a.dll b.dll");
  EXPECT_EQ(RemoveLibraryEntries("MFC42UL.DLL,a.dll,b.dll", "mfc42ul.dll"), "a.dll,b.dll");
  EXPECT_EQ(RemoveLibraryEntries("a.dll, C:\\WINDOWS\\system32\\Mfc42ul.dll", "mfc42ul.dll"),
            "a.dll");
  EXPECT_EQ(RemoveLibraryEntries("a.dll mfc42ul.dll,b.dll mfc42ul.dll c.dll", "mfc42ul.dll"),
            "a.dll b.dll c.dll");
}

TEST(AppInitEntryRemoval, ValueNamingOnlyTheTrojanBecomesEmpty) {
  EXPECT_EQ(RemoveLibraryEntries("mfc42ul.dll", "mfc42ul.dll"), "");
  EXPECT_EQ(RemoveLibraryEntries(" C:\\x\\mfc42ul.dll , \"mfc42ul.dll\" ", "mfc42ul.dll"), "");
}

TEST(AppInitEntryRemoval, OtherNamesAndTheEmptyTextStay) {
  EXPECT_EQ(RemoveLibraryEntries("mfc42.dll mfc42u.dll", "mfc42ul.dll"), "mfc42.dll mfc42u.dll");
  EXPECT_EQ(RemoveLibraryEntries("", "mfc42ul.dll"), "");
  EXPECT_EQ(RemoveLibraryEntries(" a.dll  mfc42ul.dll ", "mfc42ul.dll"), " a.dll ");
}

// Whatever the detection finds (the name anywhere, in any case) is gone afterwards, whatever
// separates the entries.
TEST(AppInitEntryRemoval, EveryEntryHoldingTheNameGoesWhateverSeparatesIt) {
  EXPECT_EQ(RemoveLibraryEntries("mfc42ul.dll;b.dll", "mfc42ul.dll"), "b.dll");
  EXPECT_EQ(RemoveLibraryEntries("a.dll;MFC42UL.DLL;b.dll", "mfc42ul.dll"), "a.dll;b.dll");
  EXPECT_EQ(RemoveLibraryEntries("a.dll\tmfc42ul.dll", "mfc42ul.dll"), "a.dll");
  EXPECT_EQ(RemoveLibraryEntries("\"C:\\Program Files\\x\\mfc42ul.dll\" b.dll", "mfc42ul.dll"),
            "b.dll");
  EXPECT_EQ(
      RemoveLibraryEntries("\"C:\\Program Files\\a.dll\",\"C:\\x y\\Mfc42ul.dll\"", "mfc42ul.dll"),
      "\"C:\\Program Files\\a.dll\"");
  EXPECT_EQ(RemoveLibraryEntries("\"a.dll\"\"mfc42ul.dll\"", "mfc42ul.dll"), "\"a.dll\"");
  EXPECT_EQ(RemoveLibraryEntries("xmfc42ul.dll mfc42ul.dll2 c.dll", "mfc42ul.dll"), "c.dll");
  EXPECT_EQ(RemoveLibraryEntries("a.dll \"C:\\unterminated mfc42ul.dll", "mfc42ul.dll"), "a.dll");
}

// The stored form of the value: the other entries keep their exact bytes, whatever they hold.
TEST(AppInitEntryRemoval, StoredBytesKeepTheirEncodingAndWhatFollowsTheText) {
  const auto utf16 = [](std::string_view ascii) {
    std::string bytes;
    for (const char c : ascii) {
      bytes.push_back(c);
      bytes.push_back('\0');
    }
    return bytes;
  };
  // A lone surrogate inside another entry, no NUL at all.
  const std::string lone = utf16("a") + std::string("\x00\xD8", 2) + utf16(".dll");
  EXPECT_EQ(RemoveLibraryEntriesStored(lone + utf16(" mfc42ul.dll"), "mfc42ul.dll"), lone);
  // The NUL, data behind it and an odd last byte stay.
  const std::string tail = std::string("\0\0", 2) + utf16("x") + "\x41";
  EXPECT_EQ(RemoveLibraryEntriesStored(utf16("MFC42UL.DLL,b.dll") + tail, "mfc42ul.dll"),
            utf16("b.dll") + tail);
  EXPECT_EQ(RemoveLibraryEntriesStored(utf16("mfc42ul.dll") + tail, "mfc42ul.dll"), tail);
  // A character beyond ASCII matches no letter of the name: U+0130 folds to no "i".
  const std::string other = utf16("mfc42u") + std::string("\x30\x01", 2) + utf16(".dll");
  EXPECT_EQ(RemoveLibraryEntriesStored(other, "mfc42ul.dll"), other);
}

TEST(AppInitEntryRemoval, NeverLeavesTheNameBehind) {
  const char* values[] = {"mfc42ul.dll;b.dll", "\"x\"mfc42ul.dll\"y\"", "a\"mfc42ul.dll",
                          ";;MfC42Ul.DlL;;", "a.dll,\"b c\";mfc42ul.dll\td.dll"};
  for (const char* value : values) {
    const std::string rest = RemoveLibraryEntries(value, "mfc42ul.dll");
    EXPECT_FALSE(ContainsIgnoringAsciiCase(rest, "mfc42ul.dll")) << value << " -> " << rest;
  }
}

}  // namespace
}  // namespace lk
