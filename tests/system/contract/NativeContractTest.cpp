// The contract suites for the implementations that run natively: the scripted model (every
// part of the seam, its desktop included) and the offline system over hive files of a
// Windows-like tree (what a system that does not run provides).
#include "tests/system/contract/DesktopContract.h"
#include "tests/system/contract/FileStoreContract.h"
#include "tests/system/contract/FileSystemContract.h"
#include "tests/system/contract/LiveSystemContract.h"
#include "tests/system/contract/PlatformContract.h"
#include "tests/system/contract/RegistryContract.h"
#include "tests/system/contract/ServiceManagerContract.h"
#include "tests/system/contract/SystemFilesContract.h"

#include "base/Utf8.h"
#include "system/offline/OfflineSystemAccess.h"
#include "system/posix/PosixFileStore.h"
#include "system/posix/PosixFileSystem.h"
#include "testing/scripted/ScriptedSystem.h"
#include "tests/support/WindowsTree.h"

namespace lk::contract {
namespace {

class ScriptedSubject final : public LiveSubject {
 public:
  ScriptedSubject() {
    system_.AddKey(kKey);
    system_.AddDirectory(kFolder);
  }
  SystemAccess& System() override { return system_; }
  std::string Key() override { return kKey; }
  void PutKey(std::string_view relative) override { system_.AddKey(Below(relative)); }
  void PutValue(std::string_view relative, std::string_view name,
                const RegistryValue& value) override {
    system_.SetValue(Below(relative), name, value);
  }
  std::optional<RegistryValue> StoredValue(std::string_view relative,
                                           std::string_view name) override {
    return system_.Value(Below(relative), name);
  }
  bool KeyStored(std::string_view relative) override { return system_.KeyExists(Below(relative)); }
  std::string Folder() override { return kFolder; }
  void PutFile(std::string_view path, std::string_view) override { system_.AddFile(path); }
  bool FileStored(std::string_view path) override { return system_.FileExists(path); }
  std::string PutStoppedService() override {
    ServiceScript script;
    script.state = ServiceState::Stopped;
    system_.AddService("LkContractService", script);
    return "LkContractService";
  }
  std::string PutRunningService() override {
    system_.AddService("LkRunningService", ServiceScript{});
    return "LkRunningService";
  }
  std::string PutDevice() override {
    system_.AddDevice("\\\\.\\LkContractDevice");
    return "\\\\.\\LkContractDevice";
  }

 private:
  static constexpr char kKey[] = "SOFTWARE\\LkContract";
  static constexpr char kFolder[] = "C:\\LkContract";
  static std::string Below(std::string_view relative) {
    return std::string(kKey) + (relative.empty() ? "" : "\\" + std::string(relative));
  }

  ScriptedSystem system_;
};

// The offline system opens the hive files when the test first uses it; the arrangement before
// goes into the files through hivex.
class OfflineSubject final : public Subject {
 public:
  OfflineSubject() {
    tree_.AddKey(test::HiveName::Software, kKey);
    std::filesystem::create_directories(tree_.Host("LkContract"));
  }
  SystemAccess& System() override {
    if (!system_) {
      std::string error;
      system_ = OfflineSystemAccess::Open(tree_.Root(), &error);
      if (!system_) throw std::runtime_error(error);
    }
    return *system_;
  }
  std::string Key() override { return std::string("SOFTWARE\\") + kKey; }
  void PutKey(std::string_view relative) override {
    Arranging();
    tree_.AddKey(test::HiveName::Software, Below(relative));
  }
  void PutValue(std::string_view relative, std::string_view name,
                const RegistryValue& value) override {
    Arranging();
    const bool text = HoldsText(value.type);
    tree_.SetValue(test::HiveName::Software, Below(relative), name,
                   static_cast<std::uint32_t>(value.type), text ? Utf16(value.data) : value.data);
  }
  std::optional<RegistryValue> StoredValue(std::string_view relative,
                                           std::string_view name) override {
    const std::optional<HiveValue> stored =
        tree_.StoredValue(test::HiveName::Software, Below(relative), name);
    if (!stored) return std::nullopt;
    RegistryValue value{static_cast<RegistryValueType>(stored->type), stored->data};
    if (HoldsText(value.type)) {
      std::u16string units;
      for (std::size_t i = 0; i + 1 < stored->data.size(); i += 2) {
        units.push_back(
            static_cast<char16_t>(static_cast<unsigned char>(stored->data[i]) |
                                  (static_cast<unsigned char>(stored->data[i + 1]) << 8U)));
      }
      value.data = Utf8FromUtf16(units);
    }
    return value;
  }
  bool KeyStored(std::string_view relative) override {
    return tree_.KeyStored(test::HiveName::Software, Below(relative));
  }
  std::string Folder() override { return "C:\\LkContract"; }
  void PutFile(std::string_view path, std::string_view bytes) override {
    tree_.WriteFile(Relative(path), bytes);
  }
  bool FileStored(std::string_view path) override {
    return std::filesystem::is_regular_file(tree_.Host(Relative(path)));
  }
  std::string PutStoppedService() override {
    Arranging();
    for (const char* set : {"ControlSet001", "ControlSet002"}) {
      const std::string key = std::string(set) + "\\Services\\LkContractService";
      tree_.SetString(test::HiveName::System, key, "ImagePath", "system32\\lkcontract.exe", 2);
      tree_.SetDword(test::HiveName::System, key, "Type", 16);
      tree_.SetDword(test::HiveName::System, key, "Start", 3);
    }
    return "LkContractService";
  }

 private:
  static constexpr char kKey[] = "LkContract";
  static std::string Below(std::string_view relative) {
    return std::string(kKey) + (relative.empty() ? "" : "\\" + std::string(relative));
  }
  static std::string Utf16(std::string_view utf8) {
    std::string bytes;
    for (const char16_t unit : Utf16FromUtf8(utf8)) {
      bytes.push_back(static_cast<char>(unit & 0xFFU));
      bytes.push_back(static_cast<char>(unit >> 8U));
    }
    return bytes;
  }
  // "C:\LkContract\x.dll" -> "LkContract/x.dll"
  static std::string Relative(std::string_view path) {
    std::string relative(path.substr(3));
    for (char& c : relative) {
      if (c == '\\') c = '/';
    }
    return relative;
  }
  void Arranging() const {
    if (system_) ADD_FAILURE() << "arranged after the offline system read the hives";
  }

  test::WindowsTree tree_{test::WindowsTreeOptions{true, false}};
  std::unique_ptr<OfflineSystemAccess> system_;
};

// The model's desktop: pending work runs at the next pump, as a posted window message would.
class ScriptedDesktopSubject final : public DesktopSubject {
 public:
  Desktop& TheDesktop() override { return system_; }
  std::string Unavailable() override { return {}; }
  std::optional<std::string> ClipboardText() override { return system_.Clipboard(); }
  void PostWork(std::function<void()> work) override {
    system_.AtPump(system_.PumpCount() + 1, std::move(work));
  }

 private:
  ScriptedSystem system_;
};

// The file layer over a host folder that stands for drive C:.
class PosixFilesSubject {
 public:
  PosixFilesSubject() {
    for (const auto& [path, bytes] : FileContractTree()) tree_.WriteFile(path, bytes);
  }
  FileSystem& Files() { return files_; }
  static std::string Root() { return "C:"; }

 private:
  test::WindowsTree tree_{test::WindowsTreeOptions{true, false}};
  PosixFileSystem files_{tree_.Root()};
};

// The writing side over a host folder, read back through the reading side over the same folder.
class PosixStoreSubject {
 public:
  PosixStoreSubject() { std::filesystem::create_directories(tree_.Host("Store")); }
  FileStore& Store() { return store_; }
  FileSystem& Files() { return files_; }
  static std::string Root() { return "C:"; }

 private:
  test::WindowsTree tree_{test::WindowsTreeOptions{true, false}};
  PosixFileSystem files_{tree_.Root()};
  PosixFileStore store_{files_};
};

INSTANTIATE_TYPED_TEST_SUITE_P(Scripted, RegistryContract, ScriptedSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Scripted, ServiceManagerContract, ScriptedSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Scripted, SystemFilesContract, ScriptedSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Scripted, PlatformContract, ScriptedSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Scripted, SystemFileDeletionContract, ScriptedSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Scripted, ServiceDeletionContract, ScriptedSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Scripted, LiveSystemContract, ScriptedSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Scripted, LivePlatformContract, ScriptedSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Scripted, DesktopContract, ScriptedDesktopSubject);

INSTANTIATE_TYPED_TEST_SUITE_P(Offline, RegistryContract, OfflineSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Offline, ServiceManagerContract, OfflineSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Offline, SystemFilesContract, OfflineSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Offline, PlatformContract, OfflineSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Offline, SystemFileDeletionContract, OfflineSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Offline, ServiceDeletionContract, OfflineSubject);

INSTANTIATE_TYPED_TEST_SUITE_P(Posix, FileSystemContract, PosixFilesSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Posix, FileStoreContract, PosixStoreSubject);

}  // namespace
}  // namespace lk::contract
