#pragma once
// The contract of the registry connections (RegistryConnection): texts, typed and stored values,
// keys and key trees, through every implementation of SystemAccess.
//
// Instantiate it once per implementation, in the test source that defines its subject:
//   INSTANTIATE_TYPED_TEST_SUITE_P(Offline, RegistryContract, OfflineSubject);

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/system/contract/ContractSubject.h"

namespace lk::contract {

template <typename SubjectType>
class RegistryContract : public ContractFixture<SubjectType> {};

TYPED_TEST_SUITE_P(RegistryContract);

TYPED_TEST_P(RegistryContract, StringsRoundTripThroughTheSeamAndTheStore) {
  this->subject().PutValue("", "Given", RegistryValue::String("a.dll b.dll"));
  this->subject().PutValue("", "Expand", RegistryValue::ExpandString("%SystemRoot%\\x.dll"));
  auto registry = this->Connect();
  ASSERT_TRUE(registry->OpenMachineKeyReadWrite(this->subject().Key()));
  registry->WriteStringValue("Path", "C:\\\xD0\x96\\\xF0\x9F\x98\x80.dll");
  registry->WriteStringValue("Plain", "mfc42ul.dll");
  EXPECT_EQ(registry->ReadStringValue("Path"), "C:\\\xD0\x96\\\xF0\x9F\x98\x80.dll");
  EXPECT_EQ(this->subject().StoredValue("", "Plain"), RegistryValue::String("mfc42ul.dll"));
  EXPECT_EQ(registry->ReadStringValue("given"), "a.dll b.dll") << "names ignore case";
  EXPECT_EQ(registry->ReadStringValue("Expand"), "%SystemRoot%\\x.dll") << "not expanded";
}

TYPED_TEST_P(RegistryContract, TheEmptyTextIsOneNulAndReadsEmpty) {
  this->subject().PutValue("", "NoData", RegistryValue{RegistryValueType::Sz, ""});
  auto registry = this->Connect();
  ASSERT_TRUE(registry->OpenMachineKeyReadWrite(this->subject().Key()));
  registry->WriteStringValue("AppInit_DLLs", "");
  EXPECT_EQ(this->subject().StoredValue("", "AppInit_DLLs"), RegistryValue::String(""));
  EXPECT_EQ(registry->ReadStringValue("AppInit_DLLs"), "");
  EXPECT_EQ(registry->ReadStringValue("NoData"), "");
  EXPECT_TRUE(registry->ValuePresent("NoData"));
  EXPECT_EQ(registry->ReadValue("AppInit_DLLs"), RegistryValue::String(""));
}

TYPED_TEST_P(RegistryContract, MissingKeysAndValuesGiveTwo) {
  this->subject().PutValue("", "Marker", RegistryValue::String("here"));
  auto registry = this->Connect();
  ASSERT_TRUE(registry->OpenMachineKeyReadOnly(this->subject().Key()));
  EXPECT_FALSE(registry->OpenMachineKeyReadOnly(this->Below("Missing")));
  EXPECT_EQ(this->system().LastSystemError(), win_error::kFileNotFound);
  EXPECT_FALSE(registry->OpenMachineKeyReadWrite(this->Below("Missing")));
  EXPECT_FALSE(this->subject().KeyStored("Missing")) << "a read-write open never creates";
  EXPECT_EQ(registry->ReadStringValue("Marker"), "here") << "a failed open keeps the open key";

  EXPECT_FALSE(registry->ValuePresent("Missing"));
  EXPECT_EQ(registry->ReadStringValue("Missing"), "");
  EXPECT_EQ(this->system().LastSystemError(), win_error::kFileNotFound);
  EXPECT_EQ(registry->ReadValue("Missing"), std::nullopt);
  EXPECT_EQ(this->system().LastSystemError(), win_error::kFileNotFound);
}

TYPED_TEST_P(RegistryContract, OtherTypesAreNoText) {
  this->subject().PutValue("", "Number", RegistryValue::Dword(7));
  this->subject().PutValue("", "Bytes", RegistryValue::Binary(std::string("ab\0c", 4)));
  auto registry = this->Connect();
  ASSERT_TRUE(registry->OpenMachineKeyReadOnly(this->subject().Key()));
  EXPECT_EQ(this->ErrorOf([&] { static_cast<void>(registry->ReadStringValue("Number")); }), 1630U);
  EXPECT_EQ(this->ErrorOf([&] { static_cast<void>(registry->ReadStringValue("Bytes")); }), 1630U);
  EXPECT_TRUE(registry->ValuePresent("NUMBER"));
}

TYPED_TEST_P(RegistryContract, WritesNeedAKeyOpenedForWriting) {
  this->subject().PutValue("", "AppInit_DLLs", RegistryValue::String("keep"));
  auto registry = this->Connect();
  EXPECT_EQ(this->ErrorOf([&] { registry->WriteStringValue("AppInit_DLLs", ""); }),
            win_error::kInvalidHandle);
  ASSERT_TRUE(registry->OpenMachineKeyReadOnly(this->subject().Key()));
  EXPECT_EQ(this->ErrorOf([&] { registry->WriteStringValue("AppInit_DLLs", ""); }),
            win_error::kAccessDenied);
  EXPECT_FALSE(registry->WriteValue("AppInit_DLLs", RegistryValue::String("")));
  EXPECT_FALSE(registry->DeleteValue("AppInit_DLLs"));
  EXPECT_EQ(this->subject().StoredValue("", "AppInit_DLLs"), RegistryValue::String("keep"));
}

TYPED_TEST_P(RegistryContract, OpeningReplacesTheOpenKeyAndClosingAnswersNothing) {
  this->subject().PutValue("", "Outer", RegistryValue::String("o"));
  this->subject().PutKey("Inner");
  auto registry = this->Connect();
  ASSERT_TRUE(registry->OpenMachineKeyReadOnly(this->subject().Key()));
  EXPECT_TRUE(registry->SubKeyPresent("Inner"));
  EXPECT_TRUE(registry->SubKeyPresent("INNER"));
  EXPECT_FALSE(registry->SubKeyPresent("Other"));
  ASSERT_TRUE(registry->OpenMachineKeyReadOnly(this->Below("Inner")));
  EXPECT_FALSE(registry->ValuePresent("Outer"));
  registry->CloseMachineKey();
  registry->CloseMachineKey();
  EXPECT_FALSE(registry->ValuePresent("Outer"));
  EXPECT_EQ(registry->ReadStringValue("Outer"), "");
  EXPECT_FALSE(registry->SubKeyPresent("Inner"));
  EXPECT_FALSE(registry->DeleteSubKeyTree("Inner"));
  EXPECT_TRUE(this->subject().KeyStored("Inner"));
}

TYPED_TEST_P(RegistryContract, ValuesOfEveryTypeRoundTripAndAreListed) {
  const RegistryValue values[] = {
      RegistryValue::String("a.dll"), RegistryValue::ExpandString("%SystemRoot%\\b"),
      RegistryValue::Dword(0x01020304), RegistryValue::Binary(std::string("\0\xFF\x01", 3)),
      RegistryValue::MultiString({"one", "two"})};
  const char* names[] = {"Sz", "Expand", "Number", "Bytes", "Multi"};
  auto registry = this->Connect();
  ASSERT_TRUE(registry->OpenMachineKeyReadWrite(this->subject().Key()));
  for (std::size_t i = 0; i < std::size(values); ++i) {
    ASSERT_TRUE(registry->WriteValue(names[i], values[i])) << names[i];
  }
  for (std::size_t i = 0; i < std::size(values); ++i) {
    EXPECT_EQ(registry->ReadValue(names[i]), values[i]) << names[i];
    EXPECT_EQ(this->subject().StoredValue("", names[i]), values[i]) << names[i];
  }
  const std::optional<std::vector<std::string>> listed = registry->ValueNames();
  ASSERT_TRUE(listed.has_value());
  std::vector<std::string> sorted = *listed;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (std::vector<std::string>{"Bytes", "Expand", "Multi", "Number", "Sz"}));

  EXPECT_TRUE(registry->DeleteValue("number"));
  EXPECT_EQ(this->subject().StoredValue("", "Number"), std::nullopt);
  EXPECT_EQ(this->subject().StoredValue("", "Sz"), values[0]) << "the others stay";
  EXPECT_FALSE(registry->DeleteValue("Number"));
  EXPECT_EQ(this->system().LastSystemError(), win_error::kFileNotFound);
}

// What only the stored bytes carry: a lone surrogate, an odd byte count, a missing NUL. Written
// as bytes they come back as the same bytes, and the text reads as Windows completes it.
TYPED_TEST_P(RegistryContract, StoredBytesRoundTripExactly) {
  const std::string exotic(
      "a\0\x00\xD8"
      "b\0\x41",
      7);
  const StoredRegistryValue odd{RegistryValueType::ExpandSz, exotic};
  const StoredRegistryValue number{RegistryValueType::Dword, "\x01\x02\x03\x04"};
  auto registry = this->Connect();
  ASSERT_TRUE(registry->OpenMachineKeyReadWrite(this->subject().Key()));
  ASSERT_TRUE(registry->WriteStoredValue("Odd", odd));
  ASSERT_TRUE(registry->WriteStoredValue("Number", number));
  ASSERT_TRUE(registry->WriteValue("Plain", RegistryValue::String("x")));
  EXPECT_EQ(registry->ReadStoredValue("Odd"), odd);
  EXPECT_EQ(registry->ReadValue("Odd"),
            (RegistryValue{RegistryValueType::ExpandSz, std::string("a\xEF\xBF\xBD"
                                                                    "b\0",
                                                                    6)}))
      << "the half character is dropped, the lone surrogate is U+FFFD, the NUL completed";
  EXPECT_EQ(registry->ReadStoredValue("Number"), number);
  EXPECT_EQ(registry->ReadValue("Number"), RegistryValue::Dword(0x04030201));
  EXPECT_EQ(registry->ReadStoredValue("Plain"),
            (StoredRegistryValue{RegistryValueType::Sz, std::string("x\0\0\0", 4)}));
  EXPECT_EQ(registry->ReadStoredValue("Missing"), std::nullopt);
  EXPECT_EQ(this->system().LastSystemError(), win_error::kFileNotFound);
  ASSERT_TRUE(registry->OpenMachineKeyReadOnly(this->subject().Key()));
  EXPECT_FALSE(registry->WriteStoredValue("Odd", number));
  EXPECT_EQ(this->system().LastSystemError(), win_error::kAccessDenied);
  EXPECT_EQ(registry->ReadStoredValue("Odd"), odd);
}

TYPED_TEST_P(RegistryContract, CreatingAKeyCreatesItsParentsAndOpensIt) {
  auto registry = this->Connect();
  ASSERT_TRUE(registry->CreateMachineKey(this->Below("winsys32\\Enum")));
  ASSERT_TRUE(registry->WriteValue("Count", RegistryValue::Dword(1)));
  EXPECT_EQ(this->subject().StoredValue("winsys32\\Enum", "Count"), RegistryValue::Dword(1));
  ASSERT_TRUE(registry->CreateMachineKey(this->Below("winsys32")));
  const std::optional<std::vector<std::string>> subKeys = registry->SubKeyNames();
  ASSERT_TRUE(subKeys.has_value());
  EXPECT_EQ(*subKeys, std::vector<std::string>{"Enum"});
  EXPECT_EQ(registry->ReadValue("Count"), std::nullopt) << "an existing key is only opened";
}

TYPED_TEST_P(RegistryContract, KeyTreesAreDeletedWhole) {
  this->subject().PutKey("winsys32\\Enum\\Deep\\Deeper");
  this->subject().PutValue("winsys32\\Enum", "Count", RegistryValue::Dword(1));
  this->subject().PutKey("winsys32\\Security");
  this->subject().PutKey("Sibling");
  auto registry = this->Connect();
  ASSERT_TRUE(registry->OpenMachineKeyReadWrite(this->subject().Key()));
  EXPECT_TRUE(registry->DeleteSubKeyTree("WINSYS32"));
  EXPECT_FALSE(this->subject().KeyStored("winsys32"));
  EXPECT_TRUE(this->subject().KeyStored("Sibling"));

  EXPECT_FALSE(registry->DeleteSubKeyTree("winsys32"));
  EXPECT_EQ(this->system().LastSystemError(), win_error::kFileNotFound);
  EXPECT_FALSE(registry->DeleteSubKeyTree(""));
  EXPECT_TRUE(this->subject().KeyStored("Sibling")) << "an empty name deletes nothing";
}

REGISTER_TYPED_TEST_SUITE_P(RegistryContract, StringsRoundTripThroughTheSeamAndTheStore,
                            TheEmptyTextIsOneNulAndReadsEmpty, MissingKeysAndValuesGiveTwo,
                            OtherTypesAreNoText, WritesNeedAKeyOpenedForWriting,
                            OpeningReplacesTheOpenKeyAndClosingAnswersNothing,
                            ValuesOfEveryTypeRoundTripAndAreListed, StoredBytesRoundTripExactly,
                            CreatingAKeyCreatesItsParentsAndOpensIt, KeyTreesAreDeletedWhole);

}  // namespace lk::contract
