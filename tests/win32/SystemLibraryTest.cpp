// Libraries loaded at run time: taken from the system folder by either method, bound through a
// table of their functions, freed with their owner; a missing library or function is reported
// by name.

#include <gtest/gtest.h>

#include <cwctype>
#include <string>

#include "win32/RuntimeLibrary.h"
#include "win32/SystemLibrary.h"
#include "win32/Utf.h"

namespace lk {
namespace {

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return text;
}

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH + 1] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH + 1);
  std::wstring path(folder, length);
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  return Lower(path);
}

std::wstring PathOf(HMODULE module) {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH + 1);
  return Lower(std::wstring(path, length));
}

bool Contains(const std::wstring& text, const std::wstring& part) {
  return text.find(part) != std::wstring::npos;
}

class SystemLibraryLoading : public ::testing::TestWithParam<SystemLibrary::Method> {};

TEST_P(SystemLibraryLoading, TakesTheLibraryFromTheSystemFolder) {
  const SystemLibrary library(L"version.dll", GetParam());
  ASSERT_TRUE(library.IsReady()) << Utf8FromWide(library.Error());
  EXPECT_TRUE(library.Error().empty());
  EXPECT_EQ(PathOf(library.Module()), SystemFolder() + L"version.dll");
}

TEST_P(SystemLibraryLoading, ReportsAMissingLibraryByNameAndErrorCode) {
  const SystemLibrary library(L"lk-no-such-library.dll", GetParam());
  EXPECT_FALSE(library.IsReady());
  EXPECT_EQ(library.Module(), nullptr);
  EXPECT_TRUE(Contains(library.Error(), L"lk-no-such-library.dll"))
      << Utf8FromWide(library.Error());
  EXPECT_TRUE(Contains(library.Error(), L"(Fehler 126)")) << Utf8FromWide(library.Error());
}

INSTANTIATE_TEST_SUITE_P(EveryMethod, SystemLibraryLoading,
                         ::testing::Values(SystemLibrary::Method::Automatic,
                                           SystemLibrary::Method::SearchFlag,
                                           SystemLibrary::Method::FullPath));

TEST(SystemLibraryOwnership, FreesTheLibraryWithItsOwner) {
  // A library nothing else in this process loads.
  if (GetModuleHandleW(L"msimg32.dll") != nullptr) GTEST_SKIP() << "msimg32 is loaded already";
  {
    const SystemLibrary library(L"msimg32.dll");
    ASSERT_TRUE(library.IsReady()) << Utf8FromWide(library.Error());
    EXPECT_EQ(GetModuleHandleW(L"msimg32.dll"), library.Module());
  }
  EXPECT_EQ(GetModuleHandleW(L"msimg32.dll"), nullptr);
}

struct VersionTable {
  static constexpr const wchar_t* kFileName = L"version.dll";
  explicit VersionTable(SystemLibrary& library) {
    library.Bind(GetFileVersionInfoSizeW, "GetFileVersionInfoSizeW");
    library.Bind(VerQueryValueW, "VerQueryValueW");
  }
  decltype(&::GetFileVersionInfoSizeW) GetFileVersionInfoSizeW = nullptr;
  decltype(&::VerQueryValueW) VerQueryValueW = nullptr;
};

struct TableWithMissingFunctions {
  static constexpr const wchar_t* kFileName = L"version.dll";
  explicit TableWithMissingFunctions(SystemLibrary& library) {
    library.Bind(GetFileVersionInfoSizeW, "GetFileVersionInfoSizeW");
    library.Bind(firstMissing, "LkFirstMissing");
    library.Bind(secondMissing, "LkSecondMissing");
  }
  decltype(&::GetFileVersionInfoSizeW) GetFileVersionInfoSizeW = nullptr;
  decltype(&::GetFileVersionInfoSizeW) firstMissing = nullptr;
  decltype(&::GetFileVersionInfoSizeW) secondMissing = nullptr;
};

struct TableOfAMissingLibrary {
  static constexpr const wchar_t* kFileName = L"lk-no-such-library.dll";
  explicit TableOfAMissingLibrary(SystemLibrary& library) { library.Bind(function, "Function"); }
  decltype(&::GetFileVersionInfoSizeW) function = nullptr;
};

TEST(RuntimeLibraryBinding, CallsTheSystemLibrarysFunctions) {
  const RuntimeLibrary<VersionTable> version;
  ASSERT_TRUE(version) << Utf8FromWide(version.Error());
  // Every system library carries a version block.
  const std::wstring kernel32 = SystemFolder() + L"kernel32.dll";
  DWORD ignored = 1;
  EXPECT_GT(version->GetFileVersionInfoSizeW(kernel32.c_str(), &ignored), 0u);
  EXPECT_EQ(PathOf(version.Module()), SystemFolder() + L"version.dll");
}

TEST(RuntimeLibraryBinding, NamesTheFirstMissingFunctionOnly) {
  const RuntimeLibrary<TableWithMissingFunctions> library;
  EXPECT_FALSE(library.IsReady());
  EXPECT_FALSE(library);
  EXPECT_TRUE(Contains(library.Error(), L"LkFirstMissing")) << Utf8FromWide(library.Error());
  EXPECT_TRUE(Contains(library.Error(), L"version.dll"));
  EXPECT_FALSE(Contains(library.Error(), L"LkSecondMissing"));
  // The functions that exist are bound all the same.
  EXPECT_NE(library->GetFileVersionInfoSizeW, nullptr);
}

TEST(RuntimeLibraryBinding, ReportsTheMissingLibraryRatherThanItsFunctions) {
  const RuntimeLibrary<TableOfAMissingLibrary> library;
  EXPECT_FALSE(library.IsReady());
  EXPECT_TRUE(Contains(library.Error(), L"lk-no-such-library.dll"));
  EXPECT_FALSE(Contains(library.Error(), L"Function"));
  EXPECT_EQ(library->function, nullptr);
}

TEST(RuntimeLibraryBinding, SharesOneInstanceThatStaysLoaded) {
  const auto& first = RuntimeLibrary<VersionTable>::Shared();
  const auto& second = RuntimeLibrary<VersionTable>::Shared();
  EXPECT_EQ(&first, &second);
  ASSERT_TRUE(first);
  EXPECT_EQ(GetModuleHandleW(L"version.dll"), first.Module());
}

}  // namespace
}  // namespace lk
