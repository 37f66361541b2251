// WindowsRegistryConnection against the real registry: a key of our own under
// HKLM\SOFTWARE, removed after each test. What every SystemAccess does with keys and values is
// in the contract suite (ContractTest.cpp); here is what needs the registry's raw bytes or views.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "system/win/UniqueHandle.h"
#include "system/win/WindowsSystemAccess.h"
#include "tests/wine/WineTestSupport.h"
#include "win32/Utf.h"

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

using RegistryTypedValues = RegistryTest;

// Every type the quarantine keeps: written through the connection, stored as Windows stores it,
// and read back as it was written.
TEST_F(RegistryTypedValues, EveryTypeRoundTrips) {
  const std::vector<std::pair<std::string, RegistryValue>> values = {
      {"Text", RegistryValue::String("C:\\Ж\\😀 mfc42ul.dll")},
      {"EmptyText", RegistryValue::String("")},
      {"Expand", RegistryValue::ExpandString("%SystemRoot%\\system32\\winsys32.sys")},
      {"List", RegistryValue::MultiString({"first", "Ж", "", "last"})},
      {"EmptyList", RegistryValue::MultiString({})},
      {"Number", RegistryValue::Dword(0x01020304)},
      {"Big",
       RegistryValue{RegistryValueType::Qword, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)}},
      {"Bytes", RegistryValue::Binary(std::string("\x00\xFF\x00MZ", 5))},
      {"Nothing", RegistryValue{RegistryValueType::None, ""}},
      {"", RegistryValue::String("the default value")},
  };
  ASSERT_TRUE(connection_->OpenMachineKeyReadWrite(keyPath_));
  for (const auto& [name, value] : values) {
    ASSERT_TRUE(connection_->WriteValue(name, value)) << name << ": " << system_.LastSystemError();
  }
  for (const auto& [name, value] : values) {
    EXPECT_EQ(connection_->ReadValue(name), value) << name;
  }
  // "Ж" is one UTF-16 unit: the list is 5 + 1 + 1 + 1 + 0 + 1 + 4 + 1 + 1 units.
  EXPECT_EQ(StoredTypeAndSize(L"List"), std::make_pair(DWORD{REG_MULTI_SZ}, DWORD{30}));
  EXPECT_EQ(StoredTypeAndSize(L"EmptyText"), std::make_pair(DWORD{REG_SZ}, DWORD{2}));
  EXPECT_EQ(StoredTypeAndSize(L"Number"), std::make_pair(DWORD{REG_DWORD}, DWORD{4}));
  EXPECT_EQ(StoredTypeAndSize(L"Big"), std::make_pair(DWORD{11}, DWORD{8}));
  EXPECT_EQ(StoredTypeAndSize(L"Nothing"), std::make_pair(DWORD{REG_NONE}, DWORD{0}));
  DWORD number = 0;
  DWORD size = sizeof(number);
  ASSERT_EQ(RegQueryValueExW(key_.Get(), L"Number", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&number), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(number, 0x01020304U);
}

TEST_F(RegistryTypedValues, TextsStoredWithoutTheirTerminatorsReadCompleted) {
  const wchar_t bare[] = {L'a', L'\u0416'};
  SetRaw(L"Bare", REG_SZ, bare, sizeof(bare));
  SetRaw(L"BareExpand", REG_EXPAND_SZ, bare, sizeof(bare));
  const wchar_t oneTerminator[] = L"a\0b";  // "a", "b" and one NUL: the list's end is missing
  SetRaw(L"ShortList", REG_MULTI_SZ, oneTerminator, sizeof(oneTerminator));
  SetRaw(L"NoBytes", REG_SZ, nullptr, 0);
  SetRaw(L"NoListBytes", REG_MULTI_SZ, nullptr, 0);
  const wchar_t twoTexts[] = L"first\0second";
  SetRaw(L"Embedded", REG_SZ, twoTexts, sizeof(twoTexts));
  ASSERT_TRUE(connection_->OpenMachineKeyReadOnly(keyPath_));
  EXPECT_EQ(connection_->ReadValue("Bare"), RegistryValue::String("aЖ"));
  EXPECT_EQ(connection_->ReadValue("BareExpand"), RegistryValue::ExpandString("aЖ"));
  EXPECT_EQ(connection_->ReadValue("ShortList"), RegistryValue::MultiString({"a", "b"}));
  EXPECT_EQ(connection_->ReadValue("NoBytes"), RegistryValue::String(""));
  EXPECT_EQ(connection_->ReadValue("NoListBytes"), RegistryValue::MultiString({}));
  // Everything stored is kept, the NULs within too.
  EXPECT_EQ(connection_->ReadValue("Embedded"),
            (RegistryValue{RegistryValueType::Sz, std::string("first\0second\0", 13)}));
}

TEST_F(RegistryTypedValues, OddByteCountDropsTheHalfCharacter) {
  const BYTE odd[] = {'a', 0, 'b', 0, 'c'};
  SetRaw(L"Odd", REG_SZ, odd, sizeof(odd));
  ASSERT_TRUE(connection_->OpenMachineKeyReadOnly(keyPath_));
  EXPECT_EQ(connection_->ReadValue("Odd"), RegistryValue::String("ab"));
}

TEST_F(RegistryTypedValues, LargeValueIsReadWhole) {
  std::string bytes(300000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  SetRaw(L"Large", REG_BINARY, bytes.data(), bytes.size());
  ASSERT_TRUE(connection_->OpenMachineKeyReadOnly(keyPath_));
  EXPECT_EQ(connection_->ReadValue("Large"), RegistryValue::Binary(bytes));
}

TEST_F(RegistryTypedValues, MissingValueAndMissingKeyTellWhy) {
  ASSERT_TRUE(connection_->OpenMachineKeyReadWrite(keyPath_));
  EXPECT_EQ(connection_->ReadValue("Missing"), std::nullopt);
  EXPECT_EQ(system_.LastSystemError(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(connection_->DeleteValue("Missing"));
  EXPECT_EQ(system_.LastSystemError(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));

  connection_->CloseMachineKey();
  EXPECT_EQ(connection_->ReadValue("Missing"), std::nullopt);
  EXPECT_EQ(system_.LastSystemError(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(connection_->WriteValue("Name", RegistryValue::Dword(1)));
  EXPECT_EQ(system_.LastSystemError(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(connection_->DeleteValue("Name"));
  EXPECT_EQ(connection_->ValueNames(), std::nullopt);
  EXPECT_EQ(connection_->SubKeyNames(), std::nullopt);
  EXPECT_EQ(system_.LastSystemError(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
}

TEST_F(RegistryTypedValues, ReadOnlyKeyRefusesWriteAndDeletion) {
  const DWORD number = 7;
  SetRaw(L"Number", REG_DWORD, &number, sizeof(number));
  ASSERT_TRUE(connection_->OpenMachineKeyReadOnly(keyPath_));
  EXPECT_FALSE(connection_->WriteValue("Name", RegistryValue::String("x")));
  EXPECT_EQ(system_.LastSystemError(), static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(connection_->DeleteValue("Number"));
  EXPECT_EQ(system_.LastSystemError(), static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(connection_->ReadValue("Number"), RegistryValue::Dword(7));
}

TEST_F(RegistryTypedValues, DeletedValueIsGoneAndOthersStay) {
  SetRaw(L"Gone", REG_SZ, L"x", 4);
  SetRaw(L"Kept", REG_SZ, L"y", 4);
  ASSERT_TRUE(connection_->OpenMachineKeyReadWrite(keyPath_));
  EXPECT_TRUE(connection_->DeleteValue("GONE"));
  EXPECT_FALSE(connection_->ValuePresent("Gone"));
  EXPECT_TRUE(connection_->ValuePresent("Kept"));
}

using RegistryEnumeration = RegistryTest;

TEST_F(RegistryEnumeration, NamesOfValuesAndSubKeysAsSpelt) {
  SetRaw(L"AppInit_DLLs", REG_SZ, L"", 2);
  SetRaw(L"\u0416", REG_DWORD, "\1\0\0\0", 4);
  SetRaw(L"", REG_SZ, L"d", 4);
  const std::wstring longName(16383, L'n');
  SetRaw(longName.c_str(), REG_BINARY, "x", 1);
  CreateSubKey("Enum");
  CreateSubKey("Ж-Security");
  CreateSubKey("Enum\\Deeper");
  ASSERT_TRUE(connection_->OpenMachineKeyReadOnly(keyPath_));

  std::optional<std::vector<std::string>> values = connection_->ValueNames();
  ASSERT_TRUE(values.has_value());
  std::sort(values->begin(), values->end());
  EXPECT_EQ(*values, (std::vector<std::string>{"", "AppInit_DLLs", std::string(16383, 'n'), "Ж"}));

  std::optional<std::vector<std::string>> keys = connection_->SubKeyNames();
  ASSERT_TRUE(keys.has_value());
  std::sort(keys->begin(), keys->end());
  EXPECT_EQ(*keys, (std::vector<std::string>{"Enum", "Ж-Security"}));
}

TEST_F(RegistryEnumeration, EmptyKeyHasNoNames) {
  ASSERT_TRUE(connection_->OpenMachineKeyReadOnly(keyPath_));
  EXPECT_EQ(connection_->ValueNames(), std::vector<std::string>{});
  EXPECT_EQ(connection_->SubKeyNames(), std::vector<std::string>{});
}

using RegistryKeyCreation = RegistryTest;

TEST_F(RegistryKeyCreation, CreatesMissingParentsAndOpensTheKey) {
  ASSERT_TRUE(connection_->CreateMachineKey(keyPath_ + "\\winsys32\\Enum\\Root"));
  EXPECT_TRUE(SubKeyExists("winsys32\\Enum\\Root"));
  // The created key is the open one, with full access.
  EXPECT_TRUE(connection_->WriteValue("Count", RegistryValue::Dword(1)));
  EXPECT_TRUE(connection_->ValuePresent("Count"));
}

TEST_F(RegistryKeyCreation, ExistingKeyIsOpenedWithItsValues) {
  SetRaw(L"Marker", REG_SZ, L"here", 10);
  ASSERT_TRUE(connection_->CreateMachineKey(keyPath_));
  EXPECT_EQ(connection_->ReadValue("Marker"), RegistryValue::String("here"));
}

TEST_F(RegistryKeyCreation, FailedCreationKeepsTheOpenKey) {
  SetRaw(L"Marker", REG_SZ, L"here", 10);
  ASSERT_TRUE(connection_->OpenMachineKeyReadOnly(keyPath_));
  // A key name is at most 255 characters long.
  EXPECT_FALSE(connection_->CreateMachineKey(keyPath_ + "\\" + std::string(300, 'k')));
  EXPECT_NE(system_.LastSystemError(), 0U);
  EXPECT_EQ(connection_->ReadValue("Marker"), RegistryValue::String("here"));
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

// A key created through one view, with its missing parents, is there in that view only.
TEST(RegistryViews, KeyIsCreatedInTheConnectionsView) {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  const bool is64BitWindows = sizeof(void*) == 8 || wow64 != FALSE;
  const std::string top = test::UniqueName("LkViewCreation");
  const std::string keyPath = "SOFTWARE\\" + top + "\\Inner";
  WindowsSystemAccess system;
  for (const RegistryView created : {RegistryView::Wow32, RegistryView::Native}) {
    const RegistryView other =
        created == RegistryView::Wow32 ? RegistryView::Native : RegistryView::Wow32;
    auto connection = system.ConnectRegistry(created);
    ASSERT_TRUE(connection->CreateMachineKey(keyPath));
    ASSERT_TRUE(connection->WriteValue("View", RegistryValue::Dword(1)));
    EXPECT_TRUE(system.ConnectRegistry(created)->OpenMachineKeyReadOnly(keyPath));
    EXPECT_EQ(system.ConnectRegistry(other)->OpenMachineKeyReadOnly(keyPath), !is64BitWindows);

    ASSERT_TRUE(connection->OpenMachineKeyReadWrite("SOFTWARE"));
    EXPECT_TRUE(connection->DeleteSubKeyTree(top));
  }
}

}  // namespace
}  // namespace lk
