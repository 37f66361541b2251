// WindowsRegistryConnection against the real registry: a key of our own under
// HKLM\SOFTWARE, removed after each test.

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

  void CreateSubKey(const std::string& relative) {
    UniqueRegistryKey sub;
    ASSERT_EQ(RegCreateKeyExW(key_.Get(), Wide(relative).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, sub.Put(), nullptr),
              ERROR_SUCCESS);
  }

  bool SubKeyExists(const std::string& relative) {
    UniqueRegistryKey sub;
    return RegOpenKeyExW(key_.Get(), Wide(relative).c_str(), 0, KEY_READ, sub.Put()) ==
           ERROR_SUCCESS;
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

TEST_F(RegistryStringRead, DwordValueRaisesUnsupportedType) {
  const DWORD number = 7;
  SetRaw(L"Number", REG_DWORD, &number, sizeof(number));
  ASSERT_TRUE(connection_->OpenMachineKeyReadOnly(keyPath_));
  try {
    static_cast<void>(connection_->ReadStringValue("Number"));
    FAIL() << "a REG_DWORD value was read as text";
  } catch (const SystemError& error) {
    EXPECT_EQ(error.Code(), static_cast<std::uint32_t>(ERROR_UNSUPPORTED_TYPE));
  }
}

TEST_F(RegistryStringRead, EmptyAndMissingValuesReadEmpty) {
  SetRaw(L"Empty", REG_SZ, L"", sizeof(wchar_t));
  SetRaw(L"NoData", REG_SZ, nullptr, 0);
  ASSERT_TRUE(connection_->OpenMachineKeyReadOnly(keyPath_));
  EXPECT_EQ(connection_->ReadStringValue("Empty"), "");
  EXPECT_EQ(connection_->ReadStringValue("NoData"), "");
  EXPECT_EQ(connection_->ReadStringValue("Missing"), "");
  EXPECT_FALSE(connection_->ValuePresent("Missing"));
  EXPECT_TRUE(connection_->ValuePresent("NoData"));
}

TEST_F(RegistryStringRead, ExpandStringStaysUnexpanded) {
  const std::wstring text = L"%SystemRoot%\\system32\\x.dll";
  SetRaw(L"Path", REG_EXPAND_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  ASSERT_TRUE(connection_->OpenMachineKeyReadOnly(keyPath_));
  EXPECT_EQ(connection_->ReadStringValue("Path"), "%SystemRoot%\\system32\\x.dll");
}

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

TEST_F(RegistryStringWrite, EmptyTextLeavesOneNulCharacter) {
  ASSERT_TRUE(connection_->OpenMachineKeyReadWrite(keyPath_));
  connection_->WriteStringValue("AppInit_DLLs", "");
  EXPECT_EQ(StoredTypeAndSize(L"AppInit_DLLs"), std::make_pair(DWORD{REG_SZ}, DWORD{2}));
  EXPECT_EQ(connection_->ReadStringValue("AppInit_DLLs"), "");
}

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

TEST_F(RegistryStringWrite, WriteThroughReadOnlyKeyRaisesAccessDenied) {
  ASSERT_TRUE(connection_->OpenMachineKeyReadOnly(keyPath_));
  try {
    connection_->WriteStringValue("Name", "x");
    FAIL() << "a read-only key accepted a write";
  } catch (const SystemError& error) {
    EXPECT_EQ(error.Code(), static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
  }
  EXPECT_FALSE(connection_->ValuePresent("Name"));
}

TEST_F(RegistryStringWrite, WriteWithoutOpenKeyRaises) {
  EXPECT_THROW(connection_->WriteStringValue("Name", "x"), SystemError);
}

using RegistryKeyOpening = RegistryTest;

TEST_F(RegistryKeyOpening, FailedOpenKeepsTheOpenKey) {
  SetRaw(L"Marker", REG_SZ, L"here", 10);
  ASSERT_TRUE(connection_->OpenMachineKeyReadOnly(keyPath_));
  EXPECT_FALSE(connection_->OpenMachineKeyReadOnly(keyPath_ + "\\Missing"));
  EXPECT_EQ(system_.LastSystemError(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(connection_->OpenMachineKeyReadWrite(keyPath_ + "\\Missing"));
  EXPECT_EQ(connection_->ReadStringValue("Marker"), "here");
}

TEST_F(RegistryKeyOpening, ReadWriteOpenNeverCreatesAKey) {
  EXPECT_FALSE(connection_->OpenMachineKeyReadWrite(keyPath_ + "\\New"));
  EXPECT_FALSE(SubKeyExists("New"));
}

TEST_F(RegistryKeyOpening, SuccessfulOpenReplacesTheOpenKey) {
  CreateSubKey("Inner");
  SetRaw(L"Outer", REG_SZ, L"o", 4);
  ASSERT_TRUE(connection_->OpenMachineKeyReadOnly(keyPath_));
  ASSERT_TRUE(connection_->ValuePresent("Outer"));
  ASSERT_TRUE(connection_->OpenMachineKeyReadOnly(keyPath_ + "\\Inner"));
  EXPECT_FALSE(connection_->ValuePresent("Outer"));
}

TEST_F(RegistryKeyOpening, SubKeyPresentSeesOnlyExistingSubKeys) {
  CreateSubKey("Child");
  ASSERT_TRUE(connection_->OpenMachineKeyReadOnly(keyPath_));
  EXPECT_TRUE(connection_->SubKeyPresent("Child"));
  EXPECT_TRUE(connection_->SubKeyPresent("CHILD"));
  EXPECT_FALSE(connection_->SubKeyPresent("Other"));
}

TEST_F(RegistryKeyOpening, ClosedKeyAnswersNothing) {
  SetRaw(L"Marker", REG_SZ, L"here", 10);
  CreateSubKey("Child");
  ASSERT_TRUE(connection_->OpenMachineKeyReadOnly(keyPath_));
  connection_->CloseMachineKey();
  connection_->CloseMachineKey();
  EXPECT_FALSE(connection_->ValuePresent("Marker"));
  EXPECT_EQ(connection_->ReadStringValue("Marker"), "");
  EXPECT_FALSE(connection_->SubKeyPresent("Child"));
  EXPECT_FALSE(connection_->DeleteSubKeyTree("Child"));
  EXPECT_TRUE(SubKeyExists("Child"));
}

using RegistrySubKeyTreeDeletion = RegistryTest;

TEST_F(RegistrySubKeyTreeDeletion, NestedTreeIsDeletedWhole) {
  CreateSubKey("winsys32\\Enum\\Deep\\Deeper");
  CreateSubKey("winsys32\\Security");
  CreateSubKey("winsys32\\Enum\\Other");
  CreateSubKey("Sibling");
  ASSERT_TRUE(connection_->OpenMachineKeyReadWrite(keyPath_));
  EXPECT_TRUE(connection_->DeleteSubKeyTree("winsys32"));
  EXPECT_FALSE(SubKeyExists("winsys32"));
  EXPECT_TRUE(SubKeyExists("Sibling"));
}

TEST_F(RegistrySubKeyTreeDeletion, MissingSubKeyGivesFalse) {
  ASSERT_TRUE(connection_->OpenMachineKeyReadWrite(keyPath_));
  EXPECT_FALSE(connection_->DeleteSubKeyTree("winsys32"));
  EXPECT_EQ(system_.LastSystemError(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST_F(RegistrySubKeyTreeDeletion, EmptyNameDeletesNothing) {
  CreateSubKey("Child");
  ASSERT_TRUE(connection_->OpenMachineKeyReadWrite(keyPath_));
  EXPECT_FALSE(connection_->DeleteSubKeyTree(""));
  EXPECT_TRUE(SubKeyExists("Child"));
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
