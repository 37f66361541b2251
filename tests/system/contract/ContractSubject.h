#pragma once
// What the contract suites of the system seam share: the subject an implementation comes with,
// and the fixture the suites derive from. The scripted and the offline models are only as good
// as their agreement with Windows; the suites are where that agreement is checked.
//
// There is one typed suite per part of the seam (RegistryContract, ServiceManagerContract,
// SystemFilesContract, PlatformContract, LiveSystemContract, DesktopContract); the deleting cases
// of services and files are suites of their own (ServiceDeletionContract,
// SystemFileDeletionContract), since a read-only system such as a disk image provides the rest but
// not them, and so are the devices only a running system opens (LivePlatformContract). An
// implementation is instantiated in every suite whose part it provides, and in no other: what it
// cannot do is not tested on it, and no test is skipped for want of an ability.
//
// Each implementation comes with a subject: it makes the system and arranges what a test needs
// by the implementation's own means (the Win32 calls, the model's scripting, hivex), so the
// behaviour under test is observed through the seam and its effects are checked outside it.
// A test arranges everything before it first uses the system: a subject may take its system's
// state as it is at that moment (the offline one reads the hive files then).

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "system/SystemAccess.h"

namespace lk::contract {

// The interface of a subject. Keys are relative to HKEY_LOCAL_MACHINE; paths are Windows paths.
class Subject {
 public:
  Subject() = default;
  Subject(const Subject&) = delete;
  Subject& operator=(const Subject&) = delete;
  virtual ~Subject() = default;

  [[nodiscard]] virtual SystemAccess& System() = 0;

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
};

// The subject of a system that runs (LiveSystemContract).
class LiveSubject : public Subject {
 public:
  // Registers and starts a service of the test's own, which stops when asked; its name.
  [[nodiscard]] virtual std::string PutRunningService() = 0;
  // A device path that opens.
  [[nodiscard]] virtual std::string PutDevice() = 0;
};

template <typename SubjectType>
class ContractFixture : public ::testing::Test {
 protected:
  ContractFixture() : subject_(std::make_unique<SubjectType>()) {}

  SubjectType& subject() { return *subject_; }
  SystemAccess& system() { return subject_->System(); }
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
  std::unique_ptr<SubjectType> subject_;
};

}  // namespace lk::contract
