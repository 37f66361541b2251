// The start-up restriction of the library search: afterwards a library is not found by bare
// name in the current folder any more, while the system folder's libraries still are.

#include <gtest/gtest.h>

#include <string>

#include "system/win/UniqueHandle.h"
#include "win32/LibrarySearch.h"

namespace lk {
namespace {

std::wstring TempFolder() {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, path);
  return std::wstring(path, length) + L"lk-library-search-" +
         std::to_wstring(GetCurrentProcessId());
}

TEST(LibrarySearchRestriction, LeavesOnlyTheSystemFolderForLoadsByBareName) {
  // A loadable library in the current folder: a copy of a system library under a name of ours.
  const std::wstring folder = TempFolder();
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  wchar_t source[MAX_PATH + 1] = {};
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  ASSERT_GT(GetModuleFileNameW(kernel32, source, MAX_PATH + 1), 0u);
  const std::wstring planted = folder + L"\\lkplanted.dll";
  ASSERT_TRUE(CopyFileW(source, planted.c_str(), FALSE));
  ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));

  EXPECT_EQ(RestrictLibrarySearch(), LibrarySearch::SystemFolderOnly);
  {
    UniqueModule byName(LoadLibraryW(L"lkplanted.dll"));
    EXPECT_FALSE(byName) << "a library of the current folder was found by bare name";
    UniqueModule system(LoadLibraryW(L"version.dll"));
    EXPECT_TRUE(system) << "a system library was not found any more";
    // The copy itself loads: the search, not the file, kept it out.
    UniqueModule byPath(LoadLibraryW(planted.c_str()));
    EXPECT_TRUE(byPath) << "the planted copy cannot be loaded at all";
  }
  // A second call changes nothing.
  EXPECT_EQ(RestrictLibrarySearch(), LibrarySearch::SystemFolderOnly);

  wchar_t windows[MAX_PATH + 1] = {};
  GetSystemDirectoryW(windows, MAX_PATH + 1);
  SetCurrentDirectoryW(windows);
  DeleteFileW(planted.c_str());
  RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace lk
