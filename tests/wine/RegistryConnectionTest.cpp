// WindowsRegistryConnection against the real registry: a key of our own under
// HKLM\SOFTWARE, removed after each test. What every SystemAccess does with keys and values is
// in the contract suite (ContractTest.cpp); here is what needs the registry's raw bytes or views.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "system/win/UniqueHandle.h"
#include "system/win/Utf.h"
#include "system/win/WindowsSystemAccess.h"
#include "tests/wine/WineTestSupport.h"

namespace lk {
namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    keyPath_ = "SOFTWARE\\" + test::UniqueName("LkRegistryTest");
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(keyPath_).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, key_.Put(), nullptr),
              ERROR_SUCCESS);
    connection_ = system_.ConnectRegistry(RegistryView::Default);
  }

  void TearDown() override {
    connection_.reset();
    key_.Reset();
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, Wide(keyPath_).c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, Wide(keyPath_).c_str());
  }

  static std::wstring Wide(std::string_view text) { return WideFromUtf8(text); }

  void SetRaw(const wchar_t* name, DWORD type, const void* data, std::size_t size) {
    ASSERT_EQ(RegSetValueExW(key_.Get(), name, 0, type, static_cast<const BYTE*>(data),
                             static_cast<DWORD>(size)),
              ERROR_SUCCESS);
  }

  // Type and byte size of a value as the registry stores it.
  std::pair<DWORD, DWORD> StoredTypeAndSize(const wchar_t* name) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key_.Get(), name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    return {type, size};
  }

  WindowsSystemAccess system_;
  std::string keyPath_;
  UniqueRegistryKey key_;
  std::unique_ptr<RegistryConnection> connection_;
};

using RegistryStringRead = RegistryTest;

TEST_F(RegistryStringRead, TextEndsAtFirstNulAndMayLackTerminator) {
  const wchar_t twoTexts[] = L"first\0second";
  SetRaw(L"Two", REG_SZ, twoTexts, sizeof(twoTexts));
  const wchar_t unterminated[] = {L'a', L'b', L'c'};
  SetRaw(L"Bare", REG_SZ, unterminated, sizeof(unterminated));
  ASSERT_TRUE(connection_->OpenMachineKeyReadOnly(keyPath_));
  EXPECT_EQ(connection_->ReadStringValue("Two"), "first");
  EXPECT_EQ(connection_->ReadStringValue("Bare"), "abc");
}

TEST_F(RegistryStringRead, TextOutsideAnsiCodePageArrivesAsUtf8) {
  const std::wstring text = L"C:\\\u0416\\\U0001F600.dll";
  SetRaw(L"\u0416", REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  ASSERT_TRUE(connection_->OpenMachineKeyReadOnly(keyPath_));
  EXPECT_EQ(connection_->ReadStringValue("Ж"), "C:\\Ж\\😀.dll");
}

using RegistryStringWrite = RegistryTest;

TEST_F(RegistryStringWrite, TextIsStoredAsUtf16WithTerminator) {
  ASSERT_TRUE(connection_->OpenMachineKeyReadWrite(keyPath_));
  connection_->WriteStringValue("Name", "Ж😀");
  // Ж is one UTF-16 unit, 😀 two, plus the terminator.
  EXPECT_EQ(StoredTypeAndSize(L"Name"), std::make_pair(DWORD{REG_SZ}, DWORD{8}));
  wchar_t stored[4] = {};
  DWORD size = sizeof(stored);
  ASSERT_EQ(RegQueryValueExW(key_.Get(), L"Name", nullptr, nullptr, reinterpret_cast<BYTE*>(stored),
                             &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(stored), L"\u0416\U0001F600");
}

// The two views of 64-bit Windows: a key created in one is not seen in the other. On 32-bit
// Windows there is one view, and each connection sees the key.
TEST(RegistryViews, EachConnectionSeesItsOwnView) {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  const bool is64BitWindows = sizeof(void*) == 8 || wow64 != FALSE;
  const std::string keyPath = "SOFTWARE\\" + test::UniqueName("LkViewTest");
  UniqueRegistryKey created;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, WideFromUtf8(keyPath).c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, created.Put(), nullptr),
            ERROR_SUCCESS);
  created.Reset();
  WindowsSystemAccess system;
  EXPECT_TRUE(system.ConnectRegistry(RegistryView::Wow32)->OpenMachineKeyReadOnly(keyPath));
  EXPECT_EQ(system.ConnectRegistry(RegistryView::Native)->OpenMachineKeyReadOnly(keyPath),
            !is64BitWindows);

  // Deleting through the 32-bit view removes the key of that view.
  auto software = system.ConnectRegistry(RegistryView::Wow32);
  ASSERT_TRUE(software->OpenMachineKeyReadWrite("SOFTWARE"));
  EXPECT_TRUE(software->DeleteSubKeyTree(keyPath.substr(std::string("SOFTWARE\\").size())));
  EXPECT_FALSE(system.ConnectRegistry(RegistryView::Wow32)->OpenMachineKeyReadOnly(keyPath));
}

}  // namespace
}  // namespace lk
