#include "system/offline/OfflineSystemAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "base/TextCase.h"
#include "base/WindowsErrorTexts.h"
#include "base/WindowsPath.h"
#include "system/offline/Hive.h"
#include "system/offline/HiveText.h"
#include "system/posix/PosixFileStore.h"

namespace lk {

namespace {

constexpr std::uint32_t kInvalidFunction = win_error::kInvalidFunction;
constexpr std::uint32_t kUnsupportedType = win_error::kUnsupportedType;
constexpr std::uint32_t kKeyDeleted = win_error::kKeyDeleted;
constexpr char kControlSetPrefix[] = "ControlSet";

// "ControlSet" and three digits, as Windows names the control sets.
bool IsControlSetName(std::string_view name) {
  const std::string_view prefix = kControlSetPrefix;
  if (name.size() != prefix.size() + 3 || !StartsWithIgnoringAsciiCase(name, prefix)) return false;
  for (std::size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
  }
  return true;
}

}  // namespace

struct OfflineSystemAccess::State {
  PosixFileSystem files;
  PosixFileStore store{files};
  std::string root;  // as the file layer spells it: "R", "R/", "R//" and "./R" are one
  std::unique_ptr<Hive> system;
  std::unique_ptr<Hive> software;
  std::string currentControlSet;  // "ControlSet001"; empty when Select\Current names none
  bool is64Bit = false;
  std::uint32_t lastError = 0;
  std::string lastDamage;

  explicit State(std::string rootFolder)
      : files(std::move(rootFolder)), root(files.Paths().HostRoot()) {}

  std::uint32_t Fail(std::uint32_t code) {
    lastError = code;
    return code;
  }
  std::uint32_t Check(Hive& hive, std::uint32_t code) {
    if (code == hive_error::kRegistryCorrupt) lastDamage = hive.DamageText();
    if (code != 0) lastError = code;
    return code;
  }

  // Where a key of the seam (relative to HKLM) lives: its hive and the path below the hive's root.
  struct Location {
    Hive* hive = nullptr;
    Hive::KeyPath path;
  };
  std::optional<Location> Locate(std::string_view keyPath, RegistryView view) const {
    std::vector<std::string> parts = PathParts(keyPath);
    if (parts.empty()) return std::nullopt;
    Location location;
    if (EqualsIgnoringAsciiCase(parts[0], "SYSTEM")) {
      location.hive = system.get();
      if (parts.size() > 1 && EqualsIgnoringAsciiCase(parts[1], "CurrentControlSet")) {
        if (currentControlSet.empty()) return std::nullopt;
        parts[1] = currentControlSet;
      }
    } else if (EqualsIgnoringAsciiCase(parts[0], "SOFTWARE")) {
      location.hive = software.get();
      if (view == RegistryView::Wow32 && is64Bit &&
          !(parts.size() > 1 && EqualsIgnoringAsciiCase(parts[1], "Wow6432Node"))) {
        parts.insert(parts.begin() + 1, "Wow6432Node");
      }
    } else {
      return std::nullopt;
    }
    location.path.assign(parts.begin() + 1, parts.end());
    return location;
  }
};

namespace {

// A connection with at most one open key, held by its location and resolved anew for each call:
// a change may have moved the key's cell, and a deleted key must not be written through.
class OfflineRegistryConnection final : public RegistryConnection {
 public:
  OfflineRegistryConnection(std::shared_ptr<OfflineSystemAccess::State> state, RegistryView view)
      : state_(std::move(state)), view_(view) {}

  bool OpenMachineKeyReadOnly(std::string_view keyPath) override { return Open(keyPath, false); }
  bool OpenMachineKeyReadWrite(std::string_view keyPath) override { return Open(keyPath, true); }

  bool ValuePresent(std::string_view valueName) override {
    HiveValue value;
    return Read(valueName, &value) == 0;
  }

  std::string ReadStringValue(std::string_view valueName) override {
    HiveValue value;
    const std::uint32_t error = Read(valueName, &value);
    if (error == hive_error::kRegistryCorrupt) Raise(error, valueName);
    // As on Windows: a value that cannot be found (or no open key) reads as the empty text.
    if (error != 0 || value.data.empty()) return {};
    const auto type = static_cast<RegistryValueType>(value.type);
    if (type != RegistryValueType::Sz && type != RegistryValueType::ExpandSz) {
      Raise(kUnsupportedType, valueName);
    }
    return TextFromHiveString(value.data);
  }

  void WriteStringValue(std::string_view valueName, std::string_view text) override {
    if (!WriteValue(valueName, RegistryValue::String(text))) {
      Raise(state_->lastError, valueName);
    }
  }

  bool SubKeyPresent(std::string_view subKeyName) override {
    if (!open_) return Failed(win_error::kInvalidHandle);
    Hive::KeyPath path = open_->path;
    for (std::string& part : PathParts(subKeyName)) path.push_back(std::move(part));
    Hive::Node node = 0;
    return state_->Check(*open_->hive, open_->hive->Find(path, &node)) == 0;
  }

  bool DeleteSubKeyTree(std::string_view subKeyName) override {
    if (!open_) return Failed(win_error::kInvalidHandle);
    // An empty name would name the open key itself: never a subkey the caller meant.
    const std::vector<std::string> parts = PathParts(subKeyName);
    if (parts.empty()) return Failed(win_error::kInvalidParameter);
    if (const std::uint32_t error = Resolve()) return Failed(error);
    Hive::KeyPath path = open_->path;
    path.insert(path.end(), parts.begin(), parts.end());
    return state_->Check(*open_->hive, open_->hive->DeleteKey(path)) == 0;
  }

  void CloseMachineKey() override { open_.reset(); }

  bool CreateMachineKey(std::string_view keyPath) override {
    std::optional<OfflineSystemAccess::State::Location> location = state_->Locate(keyPath, view_);
    // Keys outside the two hives exist only while Windows runs: they cannot be made here.
    if (!location || location->path.empty()) {
      return Failed(location ? win_error::kAccessDenied : win_error::kFileNotFound);
    }
    if (state_->Check(*location->hive, location->hive->CreateKey(location->path)) != 0) {
      return false;
    }
    open_ = OpenKey{location->hive, std::move(location->path), true};
    return true;
  }

  std::optional<RegistryValue> ReadValue(std::string_view valueName) override {
    HiveValue stored;
    if (Read(valueName, &stored) != 0) return std::nullopt;
    RegistryValue value{static_cast<RegistryValueType>(stored.type), std::move(stored.data)};
    if (HoldsText(value.type)) value.data = Utf8FromHiveData(value.data);
    return value;
  }

  bool WriteValue(std::string_view valueName, const RegistryValue& value) override {
    if (!open_) return Failed(win_error::kInvalidHandle);
    if (!open_->writable) return Failed(win_error::kAccessDenied);
    if (const std::uint32_t error = Resolve()) return Failed(error);
    HiveValue stored{static_cast<std::uint32_t>(value.type),
                     HoldsText(value.type) ? HiveDataFromUtf8(value.data) : value.data};
    return state_->Check(*open_->hive, open_->hive->SetValue(open_->path, valueName, stored)) == 0;
  }

  std::optional<StoredRegistryValue> ReadStoredValue(std::string_view valueName) override {
    HiveValue stored;
    if (Read(valueName, &stored) != 0) return std::nullopt;
    return StoredRegistryValue{static_cast<RegistryValueType>(stored.type), std::move(stored.data)};
  }

  bool WriteStoredValue(std::string_view valueName, const StoredRegistryValue& value) override {
    if (!open_) return Failed(win_error::kInvalidHandle);
    if (!open_->writable) return Failed(win_error::kAccessDenied);
    if (const std::uint32_t error = Resolve()) return Failed(error);
    const HiveValue stored{static_cast<std::uint32_t>(value.type), value.bytes};
    return state_->Check(*open_->hive, open_->hive->SetValue(open_->path, valueName, stored)) == 0;
  }

  bool DeleteValue(std::string_view valueName) override {
    if (!open_) return Failed(win_error::kInvalidHandle);
    if (!open_->writable) return Failed(win_error::kAccessDenied);
    if (const std::uint32_t error = Resolve()) return Failed(error);
    return state_->Check(*open_->hive, open_->hive->DeleteValue(open_->path, valueName)) == 0;
  }

  std::optional<std::vector<std::string>> ValueNames() override {
    return Names([](Hive& hive, Hive::Node node, std::vector<std::string>* names) {
      return hive.ValueNames(node, names);
    });
  }

  std::optional<std::vector<std::string>> SubKeyNames() override {
    return Names([](Hive& hive, Hive::Node node, std::vector<std::string>* names) {
      return hive.SubKeyNames(node, names);
    });
  }

 private:
  struct OpenKey {
    Hive* hive = nullptr;
    Hive::KeyPath path;
    bool writable = false;
  };

  bool Failed(std::uint32_t code) {
    state_->Fail(code);
    return false;
  }

  [[noreturn]] void Raise(std::uint32_t code, std::string_view valueName) {
    std::string what =
        "registry value \"" + std::string(valueName) + "\" (error " + std::to_string(code) + ")";
    if (code == hive_error::kRegistryCorrupt) what = state_->lastDamage;
    throw SystemError(code, what);
  }

  bool Open(std::string_view keyPath, bool writable) {
    std::optional<OfflineSystemAccess::State::Location> location = state_->Locate(keyPath, view_);
    if (!location) return Failed(win_error::kFileNotFound);
    Hive::Node node = 0;
    if (state_->Check(*location->hive, location->hive->Find(location->path, &node)) != 0) {
      return false;
    }
    if (writable && !location->hive->IsWritable()) return Failed(win_error::kAccessDenied);
    open_ = OpenKey{location->hive, std::move(location->path), writable};
    return true;
  }

  // The open key's node now; 6 without an open key, 1018 when it was deleted meanwhile.
  std::uint32_t Resolve(Hive::Node* node = nullptr) {
    if (!open_) return state_->Fail(win_error::kInvalidHandle);
    Hive::Node found = 0;
    const std::uint32_t error = open_->hive->Find(open_->path, &found);
    if (error == hive_error::kFileNotFound) return state_->Fail(kKeyDeleted);
    if (state_->Check(*open_->hive, error) != 0) return error;
    if (node != nullptr) *node = found;
    return 0;
  }

  std::uint32_t Read(std::string_view valueName, HiveValue* value) {
    Hive::Node node = 0;
    if (const std::uint32_t error = Resolve(&node)) return error;
    return state_->Check(*open_->hive, open_->hive->ReadValue(node, valueName, value));
  }

  template <typename List>
  std::optional<std::vector<std::string>> Names(List list) {
    Hive::Node node = 0;
    if (Resolve(&node) != 0) return std::nullopt;
    std::vector<std::string> names;
    if (state_->Check(*open_->hive, list(*open_->hive, node, &names)) != 0) return std::nullopt;
    return names;
  }

  std::shared_ptr<OfflineSystemAccess::State> state_;
  RegistryView view_;
  std::optional<OpenKey> open_;
};

}  // namespace

OfflineSystemAccess::OfflineSystemAccess(std::shared_ptr<State> state) : state_(std::move(state)) {}

OfflineSystemAccess::~OfflineSystemAccess() = default;

std::unique_ptr<OfflineSystemAccess> OfflineSystemAccess::Open(const std::string& root,
                                                               std::string* error) {
  struct stat status {};
  if (stat(root.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    *error = root + " ist kein Ordner";
    return nullptr;
  }
  auto state = std::make_shared<State>(root);
  const auto openHive = [&](std::string_view name) -> std::unique_ptr<Hive> {
    const std::string windowsPath = "C:\\Windows\\System32\\config\\" + std::string(name);
    const std::string shown = state->root + "/Windows/System32/config/" + std::string(name);
    std::uint32_t missing = 0;
    std::optional<HostPathMap::WalkedEntry> entry =
        state->files.Paths().Walk(windowsPath, &missing);
    if (!entry || !entry->exists) {
      if (entry || missing == file_error::kPathNotFound || missing == file_error::kFileNotFound) {
        *error = "keine Registrierungsdatei " + shown + " (ist " + state->root +
                 " das eingehängte Systemlaufwerk einer Windows-Installation?)";
      } else {
        *error = "Registrierungsdatei " + shown + ": nicht untersucht, " +
                 DescribeFileErrorInGerman(missing);
      }
      return nullptr;
    }
    const std::string host = entry->hostFolder + "/" + entry->name;
    return Hive::Open(std::move(entry->folder), entry->name, host, error);
  };
  state->system = openHive("SYSTEM");
  if (!state->system) return nullptr;
  state->software = openHive("SOFTWARE");
  if (!state->software) return nullptr;

  Hive& system = *state->system;
  Hive::Node select = 0;
  const std::uint32_t selectError = system.Find({"Select"}, &select);
  HiveValue current;
  if (selectError == 0 && system.ReadValue(select, "Current", &current) == 0 &&
      current.type == static_cast<std::uint32_t>(RegistryValueType::Dword) &&
      current.data.size() == 4) {
    std::uint32_t number = 0;
    for (std::size_t i = 4; i-- > 0;) {
      number = (number << 8U) | static_cast<unsigned char>(current.data[i]);
    }
    if (number >= 1 && number <= 999) {
      char name[16] = {};
      std::snprintf(name, sizeof(name), "%s%03u", kControlSetPrefix, number);
      state->currentControlSet = name;
    }
  }
  if (!system.DamageText().empty()) {
    *error = system.DamageText();
    return nullptr;
  }

  std::unique_ptr<OfflineSystemAccess> access(new OfflineSystemAccess(state));
  Hive::Node wow6432 = 0;
  std::uint32_t ignored = 0;
  state->is64Bit =
      static_cast<bool>(state->files.Paths().OpenFolder("C:\\Windows\\SysWOW64", &ignored)) ||
      state->software->Find({"Wow6432Node"}, &wow6432) == 0;
  return access;
}

void OfflineSystemAccess::SetBeforeFirstHiveWrite(
    std::function<bool(const std::string& hostPath)> hook) {
  state_->system->SetBeforeFirstWrite(hook);
  state_->software->SetBeforeFirstWrite(std::move(hook));
}

std::vector<std::string> OfflineSystemAccess::DirtyHives() const {
  std::vector<std::string> dirty;
  for (const Hive* hive : {state_->system.get(), state_->software.get()}) {
    if (hive->IsDirty()) dirty.push_back(hive->Path());
  }
  return dirty;
}

std::vector<OfflineSystemAccess::DirtyHive> OfflineSystemAccess::DirtyHiveStates() const {
  std::vector<DirtyHive> dirty;
  for (const Hive* hive : {state_->system.get(), state_->software.get()}) {
    if (hive->IsDirty()) dirty.push_back({hive->Path(), hive->LogsApplied(), hive->LogFailure()});
  }
  return dirty;
}

std::string OfflineSystemAccess::CheckChanges(
    std::string_view serviceName,
    const std::vector<std::pair<RegistryView, std::string>>& valueKeys) {
  Hive& system = *state_->system;
  Hive::Node root = 0;
  std::vector<std::string> sets;
  if (system.Find({}, &root) != 0 || system.SubKeyNames(root, &sets) != 0) {
    return system.DamageText();
  }
  for (const std::string& set : sets) {
    if (!IsControlSetName(set)) continue;
    if (std::string why = system.CheckDeleteKey({set, "Services", std::string(serviceName)});
        !why.empty()) {
      return why;
    }
  }
  for (const auto& [view, key] : valueKeys) {
    const std::optional<State::Location> location = state_->Locate(key, view);
    if (!location) continue;
    if (std::string why = location->hive->CheckValuesChange(location->path); !why.empty()) {
      return why;
    }
  }
  return {};
}

const std::string& OfflineSystemAccess::Root() const noexcept { return state_->root; }

std::unique_ptr<RegistryConnection> OfflineSystemAccess::ConnectRegistry(RegistryView view) {
  return std::make_unique<OfflineRegistryConnection>(state_, view);
}

FileOperations& OfflineSystemAccess::SystemFiles() { return state_->store; }

std::string OfflineSystemAccess::SpelledFolder(std::string_view windowsPath,
                                               std::string fallback) const {
  // Only a folder reached without a link is spelled from the disk.
  if (!state_->files.Paths().OpenFolder(windowsPath, nullptr)) return fallback;
  return state_->files.Paths().SpelledPath(windowsPath).value_or(std::move(fallback));
}

std::string OfflineSystemAccess::QuerySystemDirectory() {
  return SpelledFolder("C:\\Windows\\System32", "C:\\Windows\\System32");
}

std::string OfflineSystemAccess::QueryProgramDataDirectory() {
  return SpelledFolder("C:\\ProgramData", "C:\\ProgramData");
}

bool OfflineSystemAccess::DeviceCanBeOpened(std::string_view) {
  // Devices exist only while the installation runs.
  return state_->Fail(win_error::kCallNotImplemented) == 0;
}

bool OfflineSystemAccess::IsNtFamily() { return true; }

bool OfflineSystemAccess::HasAdministratorRights() {
  return state_->system->IsWritable() && state_->software->IsWritable() &&
         access(state_->root.c_str(), W_OK) == 0;
}

bool OfflineSystemAccess::RunningUnderWow64() { return false; }

bool OfflineSystemAccess::Is64BitWindows() { return state_->is64Bit; }

std::unique_ptr<FsRedirectionScope> OfflineSystemAccess::DisableFsRedirection() {
  // Every folder is seen as it is: there is nothing to switch off.
  state_->Fail(kInvalidFunction);
  return nullptr;
}

std::unique_ptr<ServiceManager> OfflineSystemAccess::OpenServiceManager() {
  return OpenOwnedServiceManager(*this);
}

ServiceHandle OfflineSystemAccess::OpenServiceManagerHandle() {
  const std::uintptr_t handle = nextHandle_++;
  services_[handle] = "";
  return ServiceHandle{handle};
}

ServiceHandle OfflineSystemAccess::OpenServiceEntry(ServiceHandle manager,
                                                    std::string_view serviceName) {
  const auto found = services_.find(manager.value);
  if (found == services_.end() || !found->second.empty()) {
    state_->Fail(win_error::kInvalidHandle);
    return {};
  }
  if (serviceName.empty() || serviceName.find('\\') != std::string_view::npos) {
    state_->Fail(win_error::kInvalidName);
    return {};
  }
  auto registry = ConnectRegistry(RegistryView::Native);
  if (!registry->OpenMachineKeyReadOnly("SYSTEM\\CurrentControlSet\\Services\\" +
                                        std::string(serviceName))) {
    if (state_->lastError == win_error::kFileNotFound) {
      state_->Fail(win_error::kServiceDoesNotExist);
    }
    return {};
  }
  const std::uintptr_t handle = nextHandle_++;
  services_[handle] = std::string(serviceName);
  return ServiceHandle{handle};
}

std::optional<std::string> OfflineSystemAccess::ServiceOf(ServiceHandle service) {
  const auto found = services_.find(service.value);
  if (found == services_.end() || found->second.empty()) {
    state_->Fail(win_error::kInvalidHandle);
    return std::nullopt;
  }
  return found->second;
}

std::optional<ServiceState> OfflineSystemAccess::QueryServiceState(ServiceHandle service) {
  const std::optional<std::string> name = ServiceOf(service);
  if (!name) return std::nullopt;
  auto registry = ConnectRegistry(RegistryView::Native);
  if (!registry->OpenMachineKeyReadOnly("SYSTEM\\CurrentControlSet\\Services\\" + *name)) {
    if (state_->lastError == win_error::kFileNotFound) {
      state_->Fail(win_error::kServiceDoesNotExist);
    }
    return std::nullopt;
  }
  // Nothing of the installation runs.
  return ServiceState::Stopped;
}

std::optional<ServiceState> OfflineSystemAccess::SendServiceStop(ServiceHandle service) {
  if (ServiceOf(service)) state_->Fail(win_error::kServiceNotActive);
  return std::nullopt;
}

bool OfflineSystemAccess::DeleteServiceEntry(ServiceHandle service) {
  const std::optional<std::string> name = ServiceOf(service);
  if (!name) return false;
  Hive& system = *state_->system;
  Hive::Node root = 0;
  std::vector<std::string> sets;
  if (state_->Check(system, system.Find({}, &root)) != 0 ||
      state_->Check(system, system.SubKeyNames(root, &sets)) != 0) {
    return false;
  }
  // The service is registered in each control set that Windows may boot from.
  bool deletedAny = false;
  for (const std::string& set : sets) {
    if (!IsControlSetName(set)) continue;
    const std::uint32_t error = system.DeleteKey({set, "Services", *name});
    if (error == hive_error::kFileNotFound) continue;
    if (state_->Check(system, error) != 0) return false;
    deletedAny = true;
  }
  if (!deletedAny) return state_->Fail(win_error::kServiceDoesNotExist) == 0;
  return true;
}

ServiceHandle OfflineSystemAccess::CreateServiceEntry(ServiceHandle manager,
                                                      const ServiceDefinition& definition) {
  const auto found = services_.find(manager.value);
  if (found == services_.end() || !found->second.empty()) {
    state_->Fail(win_error::kInvalidHandle);
    return {};
  }
  if (definition.name.empty() || definition.name.find('\\') != std::string::npos) {
    state_->Fail(win_error::kInvalidName);
    return {};
  }
  const std::string key = "SYSTEM\\CurrentControlSet\\Services\\" + definition.name;
  auto registry = ConnectRegistry(RegistryView::Native);
  if (registry->OpenMachineKeyReadOnly(key)) {
    state_->Fail(win_error::kServiceExists);
    return {};
  }
  if (!registry->CreateMachineKey(key) ||
      !registry->WriteValue("Type", RegistryValue::Dword(definition.type)) ||
      !registry->WriteValue("Start", RegistryValue::Dword(definition.start)) ||
      !registry->WriteValue("ErrorControl", RegistryValue::Dword(definition.errorControl)) ||
      !registry->WriteValue("ImagePath", RegistryValue::ExpandString(definition.imagePath)) ||
      (!definition.displayName.empty() &&
       !registry->WriteValue("DisplayName", RegistryValue::String(definition.displayName)))) {
    return {};
  }
  const std::uintptr_t handle = nextHandle_++;
  services_[handle] = definition.name;
  return ServiceHandle{handle};
}

void OfflineSystemAccess::CloseServiceObject(ServiceHandle handle) {
  if (services_.erase(handle.value) == 0) state_->Fail(win_error::kInvalidHandle);
}

std::uint32_t OfflineSystemAccess::LastSystemError() { return state_->lastError; }

std::string OfflineSystemAccess::SystemErrorText(std::uint32_t code) {
  // A damaged hive is named with what was wrong with it.
  if (code == win_error::kRegistryCorrupt && !state_->lastDamage.empty()) {
    return state_->lastDamage;
  }
  const std::string_view message = GermanSystemMessage(code);
  return message.empty() ? "Fehler " + std::to_string(code) : std::string(message);
}

}  // namespace lk
