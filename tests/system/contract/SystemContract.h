#pragma once
// One set of behaviour tests for every implementation of SystemAccess: the scripted model, the
// Windows implementation (under Wine) and the offline one (over hive files). The scripted and the
// offline models are only as good as their agreement with Windows; these tests are where that
// agreement is checked.
//
// Each implementation comes with a subject: it makes the system and arranges what a test needs
// by the implementation's own means (the Win32 calls, the model's scripting, hivex), so the
// behaviour under test is observed through the seam and its effects are checked outside it.
// A test arranges everything before it first uses the system: a subject may take its system's
// state as it is at that moment (the offline one reads the hive files then).
// What an implementation cannot do it declares as a missing capability; a test that needs one
// says so and is reported as skipped with the capability's name, never passed in silence.
//
// Include this header in exactly one source file per test executable and instantiate it there:
//   INSTANTIATE_TYPED_TEST_SUITE_P(Offline, SystemContract, OfflineSubject);

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

#include "system/SystemAccess.h"

namespace lk::contract {

// What an implementation can do beyond what all of them do.
enum Capability : std::uint32_t {
  kCanStopServices = 1U << 0,   // services run, and a stop ends one
  kHasDevices = 1U << 1,        // devices exist and open
  kDeletesAtRestart = 1U << 2,  // a file can be registered for deletion at the next start
};

[[nodiscard]] inline const char* CapabilityName(Capability capability) {
  switch (capability) {
    case kCanStopServices:
      return "kCanStopServices";
    case kHasDevices:
      return "kHasDevices";
    case kDeletesAtRestart:
      return "kDeletesAtRestart";
  }
  return "?";
}

// The interface of a subject. Keys are relative to HKEY_LOCAL_MACHINE; paths are Windows paths.
class Subject {
 public:
  Subject() = default;
  Subject(const Subject&) = delete;
  Subject& operator=(const Subject&) = delete;
  virtual ~Subject() = default;

  [[nodiscard]] virtual SystemAccess& System() = 0;
  [[nodiscard]] virtual std::uint32_t Capabilities() const = 0;

  // A key of the test's own below SOFTWARE, existing and empty (removed when the subject goes).
  [[nodiscard]] virtual std::string Key() = 0;
  // Creates the key (and its parents) below Key(): relative is "A\B".
  virtual void PutKey(std::string_view relative) = 0;
  // Stores a value in the key below Key() ("" for Key() itself), creating the key.
  virtual void PutValue(std::string_view relative, std::string_view name,
                        const RegistryValue& value) = 0;
  // The value as stored, read by the implementation's own means; no value when missing.
  [[nodiscard]] virtual std::optional<RegistryValue> StoredValue(std::string_view relative,
                                                                 std::string_view name) = 0;
  [[nodiscard]] virtual bool KeyStored(std::string_view relative) = 0;

  // A folder of the test's own, existing and empty, without a trailing backslash.
  [[nodiscard]] virtual std::string Folder() = 0;
  virtual void PutFile(std::string_view path, std::string_view bytes) = 0;
  [[nodiscard]] virtual bool FileStored(std::string_view path) = 0;

  // Registers a service of the test's own, stopped; its name.
  [[nodiscard]] virtual std::string PutStoppedService() = 0;
  // Registers and starts one (kCanStopServices only); its name.
  [[nodiscard]] virtual std::string PutRunningService() = 0;
  // A device path that opens (kHasDevices only).
  [[nodiscard]] virtual std::string PutDevice() = 0;
};

template <typename SubjectType>
class SystemContract : public ::testing::Test {
 protected:
  SystemContract() : subject_(std::make_unique<SubjectType>()) {}

  Subject& subject() { return *subject_; }
  SystemAccess& system() { return subject_->System(); }
  [[nodiscard]] bool Can(Capability capability) const {
    return (subject_->Capabilities() & capability) != 0;
  }
  std::unique_ptr<RegistryConnection> Connect() {
    return system().ConnectRegistry(RegistryView::Native);
  }
  std::string Below(std::string_view relative) {
    // Appended piece by piece: GCC 12 takes "a" + b + c for an overlapping copy at -O2.
    std::string path = subject_->Key();
    if (!relative.empty()) {
      path += '\\';
      path += relative;
    }
    return path;
  }
  static std::uint32_t ErrorOf(const std::function<void()>& action) {
    try {
      action();
    } catch (const SystemError& error) {
      return error.Code();
    }
    return 0;
  }

 private:
  std::unique_ptr<Subject> subject_;
};

// Skips the test, naming the capability the implementation declares it lacks.
#define LK_REQUIRE_CAPABILITY(capability) \
  if (!this->Can(capability))             \
  GTEST_SKIP() << "the implementation declares no " << ::lk::contract::CapabilityName(capability)

TYPED_TEST_SUITE_P(SystemContract);

// --- Registry: strings ------------------------------------------------------------------------

TYPED_TEST_P(SystemContract, StringsRoundTripThroughTheSeamAndTheStore) {
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

TYPED_TEST_P(SystemContract, TheEmptyTextIsOneNulAndReadsEmpty) {
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

TYPED_TEST_P(SystemContract, MissingKeysAndValuesGiveTwo) {
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

TYPED_TEST_P(SystemContract, OtherTypesAreNoText) {
  this->subject().PutValue("", "Number", RegistryValue::Dword(7));
  this->subject().PutValue("", "Bytes", RegistryValue::Binary(std::string("ab\0c", 4)));
  auto registry = this->Connect();
  ASSERT_TRUE(registry->OpenMachineKeyReadOnly(this->subject().Key()));
  EXPECT_EQ(this->ErrorOf([&] { static_cast<void>(registry->ReadStringValue("Number")); }), 1630U);
  EXPECT_EQ(this->ErrorOf([&] { static_cast<void>(registry->ReadStringValue("Bytes")); }), 1630U);
  EXPECT_TRUE(registry->ValuePresent("NUMBER"));
}

TYPED_TEST_P(SystemContract, WritesNeedAKeyOpenedForWriting) {
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

TYPED_TEST_P(SystemContract, OpeningReplacesTheOpenKeyAndClosingAnswersNothing) {
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

// --- Registry: typed values, key trees --------------------------------------------------------

TYPED_TEST_P(SystemContract, ValuesOfEveryTypeRoundTripAndAreListed) {
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
TYPED_TEST_P(SystemContract, StoredBytesRoundTripExactly) {
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

TYPED_TEST_P(SystemContract, CreatingAKeyCreatesItsParentsAndOpensIt) {
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

TYPED_TEST_P(SystemContract, KeyTreesAreDeletedWhole) {
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

// --- Services -----------------------------------------------------------------------------------

TYPED_TEST_P(SystemContract, ARegisteredServiceIsFoundAndAMissingOneGives1060) {
  const std::string name = this->subject().PutStoppedService();
  SystemAccess& system = this->system();
  ScopedServiceObject manager(system, system.OpenServiceManager());
  ASSERT_TRUE(manager) << "error " << system.LastSystemError();
  ScopedServiceObject service(system, system.OpenServiceEntry(manager.Get(), name));
  ASSERT_TRUE(service) << "error " << system.LastSystemError();
  EXPECT_EQ(system.QueryServiceState(service.Get()), ServiceState::Stopped);
  EXPECT_EQ(system.SendServiceStop(service.Get()), std::nullopt);
  EXPECT_EQ(system.LastSystemError(), win_error::kServiceNotActive) << "it is not running";

  EXPECT_FALSE(system.OpenServiceEntry(manager.Get(), name + "Missing"));
  EXPECT_EQ(system.LastSystemError(), win_error::kServiceDoesNotExist);
}

TYPED_TEST_P(SystemContract, ADeletedServiceIsGoneOnceItsHandlesAreClosed) {
  const std::string name = this->subject().PutStoppedService();
  SystemAccess& system = this->system();
  ScopedServiceObject manager(system, system.OpenServiceManager());
  {
    ScopedServiceObject service(system, system.OpenServiceEntry(manager.Get(), name));
    ASSERT_TRUE(service);
    EXPECT_TRUE(system.DeleteServiceEntry(service.Get())) << system.LastSystemError();
  }
  EXPECT_FALSE(system.OpenServiceEntry(manager.Get(), name));
  EXPECT_EQ(system.LastSystemError(), win_error::kServiceDoesNotExist);
}

TYPED_TEST_P(SystemContract, AStopEndsARunningService) {
  LK_REQUIRE_CAPABILITY(kCanStopServices);
  const std::string name = this->subject().PutRunningService();
  SystemAccess& system = this->system();
  ScopedServiceObject manager(system, system.OpenServiceManager());
  ScopedServiceObject service(system, system.OpenServiceEntry(manager.Get(), name));
  ASSERT_TRUE(service);
  EXPECT_EQ(system.QueryServiceState(service.Get()), ServiceState::Running);
  ASSERT_TRUE(system.SendServiceStop(service.Get()).has_value()) << system.LastSystemError();
  std::optional<ServiceState> state;
  for (int query = 0; query < 600 && state != ServiceState::Stopped; ++query) {
    state = system.QueryServiceState(service.Get());
    if (state != ServiceState::Stopped) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(state, ServiceState::Stopped);
}

// --- Files and devices --------------------------------------------------------------------------

TYPED_TEST_P(SystemContract, FilesArePresentAbsentAndDeleted) {
  const std::string folder = this->subject().Folder();
  const std::string file = folder + "\\mfc42ul.dll";
  this->subject().PutFile(file, "MZ");
  SystemAccess& system = this->system();
  EXPECT_TRUE(system.FilePresent(file));
  EXPECT_FALSE(system.FilePresent(folder)) << "a folder is no file";
  EXPECT_FALSE(system.FilePresent(folder + "\\missing.dll"));
  EXPECT_EQ(system.LastSystemError(), win_error::kFileNotFound);
  EXPECT_FALSE(system.FilePresent(folder + "\\Missing\\x.dll"));
  EXPECT_EQ(system.LastSystemError(), win_error::kPathNotFound);

  EXPECT_FALSE(system.DeleteFileNow(folder)) << "a folder is not deleted as a file";
  EXPECT_TRUE(system.DeleteFileNow(file));
  EXPECT_FALSE(this->subject().FileStored(file));
  EXPECT_FALSE(system.FilePresent(file));
  EXPECT_FALSE(system.DeleteFileNow(file));
  EXPECT_EQ(system.LastSystemError(), win_error::kFileNotFound);
}

TYPED_TEST_P(SystemContract, NothingPendingCannotBeWithdrawn) {
  const std::string file = this->subject().Folder() + "\\b.dll";
  EXPECT_FALSE(this->system().CancelDeleteAtRestart(file));
  EXPECT_EQ(this->system().LastSystemError(), win_error::kFileNotFound);
}

TYPED_TEST_P(SystemContract, ARestartDeletionIsRegisteredAndCanBeWithdrawn) {
  LK_REQUIRE_CAPABILITY(kDeletesAtRestart);
  const std::string file = this->subject().Folder() + "\\b.dll";
  this->subject().PutFile(file, "MZ");
  SystemAccess& system = this->system();
  ASSERT_TRUE(system.DeleteFileAtRestart(file)) << system.LastSystemError();
  EXPECT_TRUE(this->subject().FileStored(file)) << "it stays until the restart";
  EXPECT_TRUE(system.CancelDeleteAtRestart(file)) << system.LastSystemError();
  EXPECT_FALSE(system.CancelDeleteAtRestart(file));
}

TYPED_TEST_P(SystemContract, AMissingDeviceDoesNotOpen) {
  EXPECT_FALSE(this->system().DeviceCanBeOpened("\\\\.\\LkNoSuchDevice"));
}

TYPED_TEST_P(SystemContract, AnExistingDeviceOpens) {
  LK_REQUIRE_CAPABILITY(kHasDevices);
  EXPECT_TRUE(this->system().DeviceCanBeOpened(this->subject().PutDevice()));
}

REGISTER_TYPED_TEST_SUITE_P(SystemContract, StringsRoundTripThroughTheSeamAndTheStore,
                            TheEmptyTextIsOneNulAndReadsEmpty, MissingKeysAndValuesGiveTwo,
                            OtherTypesAreNoText, WritesNeedAKeyOpenedForWriting,
                            OpeningReplacesTheOpenKeyAndClosingAnswersNothing,
                            ValuesOfEveryTypeRoundTripAndAreListed, StoredBytesRoundTripExactly,
                            CreatingAKeyCreatesItsParentsAndOpensIt, KeyTreesAreDeletedWhole,
                            ARegisteredServiceIsFoundAndAMissingOneGives1060,
                            ADeletedServiceIsGoneOnceItsHandlesAreClosed, AStopEndsARunningService,
                            FilesArePresentAbsentAndDeleted, NothingPendingCannotBeWithdrawn,
                            ARestartDeletionIsRegisteredAndCanBeWithdrawn,
                            AMissingDeviceDoesNotOpen, AnExistingDeviceOpens);

}  // namespace lk::contract
