// Windows paths split and joined as text: AppendBackslash turns a directory path into a prefix
// for file names; the parent and name helpers take them apart again.
#include "base/WindowsPath.h"

#include <gtest/gtest.h>

namespace lk {
namespace {

TEST(AppendBackslash, AddsOneOnlyWhereMissing) {
  EXPECT_EQ(AppendBackslash("C:\\WINDOWS\\system32"), "C:\\WINDOWS\\system32\\");
  EXPECT_EQ(AppendBackslash("C:\\WINDOWS\\system32\\"), "C:\\WINDOWS\\system32\\");
  EXPECT_EQ(AppendBackslash("C:"), "C:\\");
  EXPECT_EQ(AppendBackslash("C:/x/"), "C:/x/\\");  // only '\' counts as the final separator
}

TEST(AppendBackslash, TheEmptyPathStaysEmpty) { EXPECT_EQ(AppendBackslash(""), ""); }

TEST(JoinPath, PutsExactlyOneBackslashBetween) {
  EXPECT_EQ(JoinPath("C:\\WINDOWS", "win.ini"), "C:\\WINDOWS\\win.ini");
  EXPECT_EQ(JoinPath("C:\\WINDOWS\\", "win.ini"), "C:\\WINDOWS\\win.ini");
  EXPECT_EQ(JoinPath("", "win.ini"), "win.ini");
  EXPECT_EQ(JoinPath("SYSTEM\\CurrentControlSet", "Services"),
            "SYSTEM\\CurrentControlSet\\Services");
}

TEST(ParentPath, CutsAtTheLastBackslash) {
  EXPECT_EQ(ParentPath("C:\\WINDOWS\\system32\\x.sys"), "C:\\WINDOWS\\system32");
  EXPECT_EQ(ParentPath("C:\\x.sys"), "C:");
  EXPECT_EQ(ParentPath("C:"), "");
  EXPECT_EQ(ParentPath(""), "");
  EXPECT_EQ(ParentPath("C:\\dir\\"), "C:\\dir");  // a trailing separator is the last one
}

TEST(ParentFolder, IgnoresTheFoldersOwnTrailingBackslash) {
  EXPECT_EQ(ParentFolder("C:\\Windows\\system32\\"), "C:\\Windows\\");
  EXPECT_EQ(ParentFolder("C:\\Windows\\system32"), "C:\\Windows\\");
  EXPECT_EQ(ParentFolder("C:\\Windows\\"), "C:\\");
  EXPECT_EQ(ParentFolder("C:\\"), "");
  EXPECT_EQ(ParentFolder("C:"), "");
  EXPECT_EQ(ParentFolder("\\"), "");
  EXPECT_EQ(ParentFolder(""), "");
}

TEST(FileNamePart, TakesWhatFollowsEitherSeparator) {
  EXPECT_EQ(FileNamePart("C:\\WINDOWS\\system32\\drivers\\winsys32.sys"), "winsys32.sys");
  EXPECT_EQ(FileNamePart("C:/WINDOWS/system32/mfc42ul.dll"), "mfc42ul.dll");
  EXPECT_EQ(FileNamePart("C:\\mixed/dir\\name.txt"), "name.txt");
  EXPECT_EQ(FileNamePart("name.txt"), "name.txt");
  EXPECT_EQ(FileNamePart("C:\\dir\\"), "");
}

}  // namespace
TEST(PathParts, TakesTheNamesBetweenSeparatorsAndLeavesOutEmptyOnes) {
  EXPECT_EQ(PathParts("SOFTWARE\\Microsoft\\Windows NT"),
            (std::vector<std::string>{"SOFTWARE", "Microsoft", "Windows NT"}));
  EXPECT_EQ(PathParts("\\a\\\\b\\"), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(PathParts("").empty());
  EXPECT_TRUE(PathParts("\\\\").empty());
  EXPECT_EQ(PathParts("a/b"), (std::vector<std::string>{"a/b"})) << "only '\\' separates";
}

}  // namespace lk
