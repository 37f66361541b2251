// The version component reads the FileVersion string of the first translation, as stored.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "ui/VersionInfo.h"

namespace lk::ui {
namespace {

TEST(VersionText, FirstTranslationsStringAsStored) {
  // This test program's own block lists 0409/04B0 first and 0407/04E4 second.
  EXPECT_EQ(VersionInfo().FileVersion(), "01.3.3.627 erste");
}

TEST(VersionText, FileWithoutVersionBlockKeepsThePlaceholder) {
  wchar_t directory[MAX_PATH] = {};
  ASSERT_NE(GetTempPathW(MAX_PATH, directory), 0u);
  const std::wstring path = std::wstring(directory) + L"lk-no-version.txt";
  {
    std::ofstream file(path.c_str());
    file << "no version block here\n";
  }
  EXPECT_EQ(VersionInfo(path).FileVersion(), "Updated at run-time");
  DeleteFileW(path.c_str());
}

TEST(VersionText, MissingFileKeepsThePlaceholder) {
  EXPECT_EQ(VersionInfo(L"C:\\does\\not\\exist.exe").FileVersion(), "Updated at run-time");
}

}  // namespace
}  // namespace lk::ui
