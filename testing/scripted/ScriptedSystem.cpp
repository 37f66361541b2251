#include "testing/scripted/ScriptedSystem.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <utility>

#include "base/TextCase.h"
#include "base/Utf8.h"
#include "base/WindowsErrorTexts.h"
#include "base/WindowsPath.h"

namespace lk {

namespace scripted_detail {

namespace {

// The UTF-16LE bytes of UTF-8 text, as Windows stores a string value written through the seam.
std::string Utf16leBytes(std::string_view utf8) {
  std::string bytes;
  for (const char16_t unit : Utf16FromUtf8(utf8)) {
    bytes.push_back(static_cast<char>(unit & 0xFFU));
    bytes.push_back(static_cast<char>(unit >> 8U));
  }
  return bytes;
}

// The seam's form of stored string bytes, as the Windows implementation reads them: a trailing
// odd byte dropped, a lone surrogate U+FFFD, the terminating NULs completed.
std::string SeamTextOf(RegistryValueType type, std::string_view bytes) {
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8U)));
  }
  std::string text = Utf8FromUtf16(units);
  if (text.empty() || text.back() != '\0') text.push_back('\0');
  if (type == RegistryValueType::MultiSz && (text.size() < 2 || text[text.size() - 2] != '\0')) {
    text.push_back('\0');
  }
  return text;
}

}  // namespace

// Windows error codes that only the model produces.
using win_error::kInvalidFunction;
using win_error::kInvalidParameter;
using win_error::kInvalidServiceControl;
using win_error::kKeyDeleted;
using win_error::kProcNotFound;
using win_error::kUnsupportedType;

// Paths of the model use '\' only and carry no trailing separator; a drive root is "C:".
std::string NormalizePath(std::string_view path) {
  std::string result(path);
  std::replace(result.begin(), result.end(), '/', '\\');
  while (!result.empty() && result.back() == '\\') result.pop_back();
  return result;
}

std::string NormalizeKeyPath(std::string_view path) {
  std::string result(path);
  while (!result.empty() && result.front() == '\\') result.erase(result.begin());
  while (!result.empty() && result.back() == '\\') result.pop_back();
  return result;
}

std::string Quoted(std::string_view text) {
  std::string result = "\"";
  for (char c : text) {
    switch (c) {
      case '\r':
        result += "\\r";
        break;
      case '\n':
        result += "\\n";
        break;
      case '\0':
        result += "\\0";
        break;
      case '"':
        result += "\\\"";
        break;
      case '\\':
        result += "\\\\";
        break;
      default:
        result.push_back(c);
    }
  }
  result.push_back('"');
  return result;
}

std::string Failed(std::uint32_t code) { return "failed " + std::to_string(code); }

struct Key {
  std::string path;  // as first spelled
  bool denyRead = false;
  bool denyWrite = false;
  std::map<std::string, std::pair<std::string, RegistryValue>> values;  // lower name -> entry
  // The bytes of string values written as stored bytes that their UTF-8 form does not carry (a
  // lone surrogate, an odd byte count, no NUL); every other write of the value drops them.
  std::map<std::string, std::string> storedBytes;  // lower name -> bytes
};

struct FileNode {
  std::string path;  // as first spelled
  bool directory = false;
  bool inUse = false;
};

struct Service {
  std::string name;
  ServiceScript script;
  ServiceState state = ServiceState::Running;
  int startPendingLeft = 0;
  bool stopAccepted = false;
  std::size_t afterStopIndex = 0;
  bool marked = false;
  int openHandles = 0;
};

struct HandleInfo {
  bool manager = false;
  std::string serviceKey;  // lower name, for service handles
};

// The machine itself; ScriptedSystem and its registry connections both work on it.
struct Machine {
  bool ntFamily = true;
  bool wow64 = false;
  bool redirectionAvailable = true;
  bool redirectionDisabled = false;
  bool serviceManagerAvailable = true;
  bool administrator = true;
  std::string programData = "C:\\ProgramData";
  std::string systemDirectory = "C:\\WINDOWS\\system32";

  std::map<std::string, Key> keys;  // lower path -> key
  std::map<std::string, FileNode> files;
  std::vector<std::string> pendingDeletions;
  std::map<std::string, Service> services;
  std::map<std::string, std::string> devices;  // lower path -> path

  std::map<std::uintptr_t, HandleInfo> handles;
  std::set<std::uintptr_t> closedHandles;
  std::uintptr_t nextHandle = 0x100;
  int handleFaults = 0;

  std::set<std::uintptr_t> redirectionTokens;
  std::uintptr_t nextToken = 1;

  std::optional<std::string> clipboard;
  std::vector<ShutdownRequest> shutdowns;

  int pumps = 0;
  int pauses = 0;
  int pausedSeconds = 0;
  std::multimap<int, std::function<void()>> pumpHooks;
  std::multimap<int, std::function<void()>> pauseHooks;
  std::vector<std::function<void()>> everyPump;
  std::function<void(const std::string&)> onFileDeleted;

  int openKeys = 0;
  std::vector<std::string> log;
  std::uint32_t lastError = 0;

  void Fail(std::uint32_t code) { lastError = code; }
  void Log(std::string line) { log.push_back(std::move(line)); }

  // --- Registry -------------------------------------------------------------------------
  Key& EnsureKey(std::string_view keyPath) {
    const std::string path = NormalizeKeyPath(keyPath);
    std::string partial;
    Key* key = nullptr;
    std::size_t start = 0;
    while (start <= path.size() && !path.empty()) {
      const auto end = std::min(path.find('\\', start), path.size());
      partial = path.substr(0, end);
      auto [it, inserted] = keys.try_emplace(FoldedAscii(partial));
      if (inserted) it->second.path = partial;
      key = &it->second;
      start = end + 1;
    }
    if (key == nullptr) {  // the root itself
      auto [it, inserted] = keys.try_emplace(std::string());
      key = &it->second;
    }
    return *key;
  }

  Key* FindKey(std::string_view lowerPath) {
    if (lowerPath.empty()) return &EnsureKey("");
    const auto it = keys.find(std::string(lowerPath));
    return it == keys.end() ? nullptr : &it->second;
  }

  // The lower-case paths of the direct subkeys, in the order RegEnumKeyEx would give them.
  std::vector<std::string> SubKeys(std::string_view lowerPath) const {
    std::vector<std::string> result;
    const std::string prefix = lowerPath.empty() ? std::string() : std::string(lowerPath) + "\\";
    for (auto it = keys.lower_bound(prefix); it != keys.end(); ++it) {
      if (it->first.compare(0, prefix.size(), prefix) != 0) break;
      const std::string rest = it->first.substr(prefix.size());
      if (!rest.empty() && rest.find('\\') == std::string::npos) result.push_back(it->first);
    }
    return result;
  }

  // Deletes one key from its parent (RegDeleteKey): refused while it has subkeys or denies
  // access, as Windows refuses it without DELETE access.
  bool DeleteKey(std::string_view lowerPath) {
    auto it = keys.find(std::string(lowerPath));
    if (it == keys.end() || lowerPath.empty()) {
      Fail(win_error::kFileNotFound);
      return false;
    }
    if (it->second.denyRead || it->second.denyWrite || !SubKeys(lowerPath).empty()) {
      Log("DeleteKey " + it->second.path + " " + Failed(win_error::kAccessDenied));
      Fail(win_error::kAccessDenied);
      return false;
    }
    Log("DeleteKey " + it->second.path + " ok");
    keys.erase(it);
    return true;
  }

  // DeleteSubKeyTree's procedure: the children from the last to the first, then the key.
  bool DeleteTree(std::string_view lowerPath) {
    const Key* key = FindKey(lowerPath);
    if (key != nullptr && !key->denyRead && !key->denyWrite) {
      const auto children = SubKeys(lowerPath);
      for (auto child = children.rbegin(); child != children.rend(); ++child) {
        (void)DeleteTree(*child);
      }
    }
    return DeleteKey(lowerPath);
  }

  // --- Files ----------------------------------------------------------------------------
  void EnsureDirectory(std::string_view path) {
    const std::string normalized = NormalizePath(path);
    if (normalized.empty() || normalized.find('\\') == std::string::npos) return;  // a root
    EnsureDirectory(ParentPath(normalized));
    auto [it, inserted] = files.try_emplace(FoldedAscii(normalized));
    if (inserted) it->second.path = normalized;
    it->second.directory = true;
  }

  FileNode* FindFile(std::string_view normalized) {
    const auto it = files.find(FoldedAscii(normalized));
    return it == files.end() ? nullptr : &it->second;
  }

  bool DirectoryExists(std::string_view normalized) {
    if (normalized.find('\\') == std::string_view::npos) return !normalized.empty();  // root
    const FileNode* node = FindFile(normalized);
    return node != nullptr && node->directory;
  }

  // The error Windows gives for a path that does not exist: 2 when its directory exists.
  std::uint32_t MissingError(std::string_view normalized) {
    return DirectoryExists(ParentPath(normalized)) ? win_error::kFileNotFound
                                                   : win_error::kPathNotFound;
  }

  std::string WindowsDirectory() const {
    return std::string(ParentPath(NormalizePath(systemDirectory)));
  }

  std::string Redirected(std::string_view path) const {
    const std::string normalized = NormalizePath(path);
    if (!wow64 || redirectionDisabled) return normalized;
    const std::string system = NormalizePath(systemDirectory);
    const std::string windows = WindowsDirectory();
    if (system.empty() || windows.empty()) return normalized;
    const auto below = [&](std::string_view base) {
      return StartsWithIgnoringAsciiCase(normalized, base) &&
             (normalized.size() == base.size() || normalized[base.size()] == '\\');
    };
    // "Sysnative" lets a 32-bit process reach the native system directory.
    const std::string sysnative = windows + "\\Sysnative";
    if (below(sysnative)) return system + normalized.substr(sysnative.size());
    if (!below(system)) return normalized;
    const std::string rest = normalized.substr(system.size());  // "" or "\..."
    static constexpr std::string_view kExempt[] = {"\\drivers\\etc", "\\catroot", "\\catroot2",
                                                   "\\logfiles", "\\spool"};
    for (const std::string_view exempt : kExempt) {
      if (StartsWithIgnoringAsciiCase(rest, exempt) &&
          (rest.size() == exempt.size() || rest[exempt.size()] == '\\')) {
        return normalized;
      }
    }
    return windows + "\\SysWOW64" + rest;
  }

  // --- Services -------------------------------------------------------------------------
  ServiceHandle NewHandle(HandleInfo info) {
    const std::uintptr_t value = nextHandle;
    nextHandle += 4;
    handles.emplace(value, std::move(info));
    return ServiceHandle{value};
  }

  Service* ServiceOf(ServiceHandle handle) {
    const auto it = handles.find(handle.value);
    if (it == handles.end() || it->second.manager) return nullptr;
    const auto service = services.find(it->second.serviceKey);
    return service == services.end() ? nullptr : &service->second;
  }

  // A service marked for deletion goes once it is stopped and its last handle is closed.
  void RemoveIfDone(const std::string& key) {
    const auto it = services.find(key);
    if (it == services.end()) return;
    const Service& service = it->second;
    if (service.marked && service.openHandles == 0 && service.state == ServiceState::Stopped) {
      Log("ServiceRemoved " + service.name);
      services.erase(it);
    }
  }

  void RunHooks(std::multimap<int, std::function<void()>>& hooks, int n) {
    std::vector<std::function<void()>> due;
    const auto [first, last] = hooks.equal_range(n);
    for (auto it = first; it != last; ++it) due.push_back(it->second);
    for (const auto& hook : due) hook();
  }
};

// One registry connection of the model. It must not outlive the ScriptedSystem it came from.
class ScriptedRegistryConnection final : public RegistryConnection {
 public:
  // wow32: the connection sees the 32-bit view of 64-bit Windows.
  ScriptedRegistryConnection(std::shared_ptr<Machine> machine, bool wow32)
      : owner_(std::move(machine)), machine_(*owner_), wow32_(wow32) {}
  ~ScriptedRegistryConnection() override { CloseMachineKey(); }

  bool OpenMachineKeyReadOnly(std::string_view keyPath) override { return Open(keyPath, false); }
  bool OpenMachineKeyReadWrite(std::string_view keyPath) override { return Open(keyPath, true); }

  bool ValuePresent(std::string_view valueName) override {
    Key* key = OpenKey();
    if (key == nullptr) return false;
    if (key->values.count(FoldedAscii(valueName)) == 0) {
      machine_.Fail(win_error::kFileNotFound);
      return false;
    }
    return true;
  }

  std::string ReadStringValue(std::string_view valueName) override {
    // As the Windows implementation: a size query that fails (no key, no value, a deleted key)
    // or gives 0 yields the empty text; only the type check of the data read raises.
    Key* key = OpenKey();
    if (key == nullptr) return {};
    const auto it = key->values.find(FoldedAscii(valueName));
    if (it == key->values.end()) {
      machine_.Fail(win_error::kFileNotFound);
      return {};
    }
    const RegistryValue& value = it->second.second;
    if (value.data.empty()) return {};
    if (value.type != RegistryValueType::Sz && value.type != RegistryValueType::ExpandSz) {
      machine_.Fail(kUnsupportedType);
      Raise("ReadStringValue", valueName);
    }
    return value.data.substr(0, value.data.find('\0'));
  }

  void WriteStringValue(std::string_view valueName, std::string_view text) override {
    Key* key = OpenKey();
    const std::string subject =
        (open_ ? open_->display : std::string("<no key>")) + "\\" + std::string(valueName);
    if (key != nullptr && !open_->writable) machine_.Fail(win_error::kAccessDenied);
    if (key == nullptr || !open_->writable) {
      machine_.Log("WriteStringValue " + subject + " " + Failed(machine_.lastError));
      Raise("WriteStringValue", valueName);
    }
    key->values[FoldedAscii(valueName)] = {std::string(valueName), RegistryValue::String(text)};
    key->storedBytes.erase(FoldedAscii(valueName));
    machine_.Log("WriteStringValue " + subject + " = " + Quoted(text) + " ok");
  }

  bool SubKeyPresent(std::string_view subKeyName) override {
    if (OpenKey() == nullptr) return false;
    const Key* sub =
        machine_.FindKey(FoldedAscii(JoinPath(open_->path, NormalizeKeyPath(subKeyName))));
    if (sub == nullptr) {
      machine_.Fail(win_error::kFileNotFound);
      return false;
    }
    if (sub->denyRead) {
      machine_.Fail(win_error::kAccessDenied);
      return false;
    }
    return true;
  }

  bool DeleteSubKeyTree(std::string_view subKeyName) override {
    if (OpenKey() == nullptr) return false;
    // An empty name would delete the open key itself: never a subkey the caller meant.
    if (NormalizeKeyPath(subKeyName).empty()) {
      machine_.Fail(kInvalidParameter);
      return false;
    }
    return machine_.DeleteTree(FoldedAscii(JoinPath(open_->path, NormalizeKeyPath(subKeyName))));
  }

  bool CreateMachineKey(std::string_view keyPath) override {
    const std::string path = ViewPath(keyPath);
    const std::string lower = FoldedAscii(path);
    // RegCreateKeyEx needs the right to add a subkey to the nearest key that exists, and full
    // access to the key itself when it exists already.
    std::string existing = lower;
    while (!existing.empty() && machine_.FindKey(existing) == nullptr) {
      existing = std::string(ParentPath(existing));
    }
    const Key* nearest = machine_.FindKey(existing);
    if (nearest != nullptr && (nearest->denyRead || nearest->denyWrite)) {
      machine_.Fail(win_error::kAccessDenied);
      machine_.Log("CreateMachineKey " + path + " " + Failed(win_error::kAccessDenied));
      return false;
    }
    const std::string display = machine_.EnsureKey(path).path;
    CloseMachineKey();
    open_ = OpenedKey{lower, display, true};
    ++machine_.openKeys;
    machine_.Log("CreateMachineKey " + display + " ok");
    return true;
  }

  std::optional<RegistryValue> ReadValue(std::string_view valueName) override {
    Key* key = OpenKey();
    if (key == nullptr) return std::nullopt;
    const auto it = key->values.find(FoldedAscii(valueName));
    if (it == key->values.end()) {
      machine_.Fail(win_error::kFileNotFound);
      return std::nullopt;
    }
    return it->second.second;
  }

  bool WriteValue(std::string_view valueName, const RegistryValue& value) override {
    Key* key = WritableKey("WriteValue", valueName);
    if (key == nullptr) return false;
    key->values[FoldedAscii(valueName)] = {std::string(valueName), value};
    key->storedBytes.erase(FoldedAscii(valueName));
    machine_.Log("WriteValue " + open_->display + "\\" + std::string(valueName) + " type " +
                 std::to_string(static_cast<std::uint32_t>(value.type)) + " = " +
                 Quoted(value.data) + " ok");
    return true;
  }

  bool DeleteValue(std::string_view valueName) override {
    Key* key = WritableKey("DeleteValue", valueName);
    if (key == nullptr) return false;
    const auto it = key->values.find(FoldedAscii(valueName));
    const std::string subject = open_->display + "\\" + std::string(valueName);
    if (it == key->values.end()) {
      machine_.Fail(win_error::kFileNotFound);
      machine_.Log("DeleteValue " + subject + " " + Failed(win_error::kFileNotFound));
      return false;
    }
    key->values.erase(it);
    key->storedBytes.erase(FoldedAscii(valueName));
    machine_.Log("DeleteValue " + subject + " ok");
    return true;
  }

  std::optional<StoredRegistryValue> ReadStoredValue(std::string_view valueName) override {
    Key* key = OpenKey();
    if (key == nullptr) return std::nullopt;
    const std::string lower = FoldedAscii(valueName);
    const auto it = key->values.find(lower);
    if (it == key->values.end()) {
      machine_.Fail(win_error::kFileNotFound);
      return std::nullopt;
    }
    const RegistryValue& value = it->second.second;
    if (const auto stored = key->storedBytes.find(lower); stored != key->storedBytes.end()) {
      return StoredRegistryValue{value.type, stored->second};
    }
    return StoredRegistryValue{value.type,
                               HoldsText(value.type) ? Utf16leBytes(value.data) : value.data};
  }

  bool WriteStoredValue(std::string_view valueName, const StoredRegistryValue& value) override {
    Key* key = WritableKey("WriteStoredValue", valueName);
    if (key == nullptr) return false;
    const std::string lower = FoldedAscii(valueName);
    RegistryValue seam{value.type, value.bytes};
    key->storedBytes.erase(lower);
    if (HoldsText(value.type)) {
      seam.data = SeamTextOf(value.type, value.bytes);
      if (Utf16leBytes(seam.data) != value.bytes) key->storedBytes[lower] = value.bytes;
    }
    key->values[lower] = {std::string(valueName), seam};
    machine_.Log("WriteStoredValue " + open_->display + "\\" + std::string(valueName) + " type " +
                 std::to_string(static_cast<std::uint32_t>(value.type)) + " ok");
    return true;
  }

  std::optional<std::vector<std::string>> ValueNames() override {
    Key* key = OpenKey();
    if (key == nullptr) return std::nullopt;
    std::vector<std::string> names;
    for (const auto& [lower, entry] : key->values) names.push_back(entry.first);
    return names;
  }

  std::optional<std::vector<std::string>> SubKeyNames() override {
    if (OpenKey() == nullptr) return std::nullopt;
    std::vector<std::string> names;
    for (const std::string& child : machine_.SubKeys(open_->path)) {
      const std::string& display = machine_.keys.at(child).path;
      names.push_back(display.substr(display.rfind('\\') + 1));
    }
    return names;
  }

  void CloseMachineKey() override {
    if (open_) {
      open_.reset();
      --machine_.openKeys;
    }
  }

 private:
  struct OpenedKey {
    std::string path;     // lower case
    std::string display;  // as the key is spelled in the model
    bool writable = false;
  };

  // The key's path in the native view, spelled as given: SOFTWARE\X is SOFTWARE\Wow6432Node\X
  // to the 32-bit view of 64-bit Windows.
  std::string ViewPath(std::string_view keyPath) const {
    std::string path = NormalizeKeyPath(keyPath);
    const std::string lower = FoldedAscii(path);
    constexpr std::string_view kSoftware = "software";
    constexpr std::string_view kWow = "software\\wow6432node";
    if (!wow32_ || lower.rfind(kSoftware, 0) != 0) return path;
    if (lower.size() > kSoftware.size() && lower[kSoftware.size()] != '\\') return path;
    if (lower.rfind(kWow, 0) == 0 && (lower.size() == kWow.size() || lower[kWow.size()] == '\\')) {
      return path;
    }
    return path.substr(0, kSoftware.size()) + "\\Wow6432Node" + path.substr(kSoftware.size());
  }

  std::string InView(std::string_view keyPath) const { return FoldedAscii(ViewPath(keyPath)); }

  // The open key when it may be changed; else none, with the error set and the refusal logged.
  Key* WritableKey(std::string_view operation, std::string_view valueName) {
    Key* key = OpenKey();
    if (key != nullptr && !open_->writable) machine_.Fail(win_error::kAccessDenied);
    if (key != nullptr && open_->writable) return key;
    const std::string subject =
        (open_ ? open_->display : std::string("<no key>")) + "\\" + std::string(valueName);
    machine_.Log(std::string(operation) + " " + subject + " " + Failed(machine_.lastError));
    return nullptr;
  }

  bool Open(std::string_view keyPath, bool writable) {
    const std::string lower = InView(keyPath);
    const Key* key = machine_.FindKey(lower);
    if (key == nullptr) {
      machine_.Fail(win_error::kFileNotFound);
      return false;
    }
    if (key->denyRead || (writable && key->denyWrite)) {
      machine_.Fail(win_error::kAccessDenied);
      return false;
    }
    const std::string display = key->path;
    CloseMachineKey();
    open_ = OpenedKey{lower, display, writable};
    ++machine_.openKeys;
    return true;
  }

  // The open key, or null with the error Windows gives: no key (6) or a deleted one (1018).
  Key* OpenKey() {
    if (!open_) {
      machine_.Fail(win_error::kInvalidHandle);
      return nullptr;
    }
    Key* key = machine_.FindKey(open_->path);
    if (key == nullptr) machine_.Fail(kKeyDeleted);
    return key;
  }

  [[noreturn]] void Raise(std::string_view operation, std::string_view valueName) {
    throw SystemError(machine_.lastError, std::string(operation) + " " + std::string(valueName) +
                                              ": error " + std::to_string(machine_.lastError));
  }

  std::shared_ptr<Machine> owner_;
  Machine& machine_;
  bool wow32_ = false;
  std::optional<OpenedKey> open_;
};

}  // namespace scripted_detail

using scripted_detail::FileNode;
using scripted_detail::NormalizePath;

// The machine is shared with the registry connections, so a connection that outlives its system
// still works on valid memory instead of a dangling reference.
struct ScriptedSystem::Model {
  std::shared_ptr<scripted_detail::Machine> machine = std::make_shared<scripted_detail::Machine>();
};

// --- RegistryValue --------------------------------------------------------------------------

// --- Scripting --------------------------------------------------------------------------------

ScriptedSystem::ScriptedSystem() : model_(std::make_unique<Model>()) {
  model_->machine->EnsureDirectory(model_->machine->systemDirectory);
  model_->machine->EnsureDirectory(model_->machine->systemDirectory + "\\drivers");
}

ScriptedSystem::~ScriptedSystem() = default;

void ScriptedSystem::SetNtFamily(bool ntFamily) { model_->machine->ntFamily = ntFamily; }

void ScriptedSystem::SetRunningUnderWow64(bool wow64) {
  model_->machine->wow64 = wow64;
  if (wow64 && !model_->machine->WindowsDirectory().empty()) {
    model_->machine->EnsureDirectory(model_->machine->WindowsDirectory() + "\\SysWOW64");
  }
}

void ScriptedSystem::SetSystemDirectory(std::string directory) {
  model_->machine->systemDirectory = NormalizePath(directory);
  if (model_->machine->systemDirectory.empty()) return;
  model_->machine->EnsureDirectory(model_->machine->systemDirectory);
  model_->machine->EnsureDirectory(model_->machine->systemDirectory + "\\drivers");
  SetRunningUnderWow64(model_->machine->wow64);
}

void ScriptedSystem::SetRedirectionAvailable(bool available) {
  model_->machine->redirectionAvailable = available;
}

void ScriptedSystem::SetServiceManagerAvailable(bool available) {
  model_->machine->serviceManagerAvailable = available;
}

void ScriptedSystem::SetAdministratorRights(bool administrator) {
  model_->machine->administrator = administrator;
}

void ScriptedSystem::SetProgramDataDirectory(std::string directory) {
  model_->machine->programData = std::move(directory);
}

void ScriptedSystem::AddKey(std::string_view keyPath) { (void)model_->machine->EnsureKey(keyPath); }

void ScriptedSystem::SetValue(std::string_view keyPath, std::string_view valueName,
                              RegistryValue value) {
  scripted_detail::Key& key = model_->machine->EnsureKey(keyPath);
  key.storedBytes.erase(FoldedAscii(valueName));
  key.values[FoldedAscii(valueName)] = {std::string(valueName), std::move(value)};
}

void ScriptedSystem::DenyKeyRead(std::string_view keyPath) {
  model_->machine->EnsureKey(keyPath).denyRead = true;
}

void ScriptedSystem::DenyKeyWrite(std::string_view keyPath) {
  model_->machine->EnsureKey(keyPath).denyWrite = true;
}

void ScriptedSystem::AddDirectory(std::string_view path) { model_->machine->EnsureDirectory(path); }

void ScriptedSystem::AddFile(std::string_view path, bool inUse) {
  const std::string normalized = NormalizePath(path);
  model_->machine->EnsureDirectory(ParentPath(normalized));
  auto [it, inserted] = model_->machine->files.try_emplace(FoldedAscii(normalized));
  if (inserted) it->second.path = normalized;
  it->second.directory = false;
  it->second.inUse = inUse;
}

void ScriptedSystem::SetFileInUse(std::string_view path, bool inUse) {
  if (FileNode* node = model_->machine->FindFile(NormalizePath(path)); node != nullptr) {
    node->inUse = inUse;
  }
}

bool ScriptedSystem::FileInUse(std::string_view path) const {
  const FileNode* node = model_->machine->FindFile(NormalizePath(path));
  return node != nullptr && node->inUse;
}

void ScriptedSystem::AddService(std::string_view name, ServiceScript script) {
  scripted_detail::Service service;
  service.name = std::string(name);
  service.state = script.state;
  service.startPendingLeft = script.startPendingQueries;
  service.script = std::move(script);
  model_->machine->services[FoldedAscii(name)] = std::move(service);
}

void ScriptedSystem::AddDevice(std::string_view devicePath) {
  model_->machine->devices[FoldedAscii(devicePath)] = std::string(devicePath);
}

void ScriptedSystem::RemoveDevice(std::string_view devicePath) {
  model_->machine->devices.erase(FoldedAscii(devicePath));
}

void ScriptedSystem::OnFileDeleted(std::function<void(const std::string& path)> callback) {
  model_->machine->onFileDeleted = std::move(callback);
}

void ScriptedSystem::AtPump(int n, std::function<void()> callback) {
  model_->machine->pumpHooks.emplace(n, std::move(callback));
}

void ScriptedSystem::AtPause(int n, std::function<void()> callback) {
  model_->machine->pauseHooks.emplace(n, std::move(callback));
}

void ScriptedSystem::OnEveryPump(std::function<void()> callback) {
  model_->machine->everyPump.push_back(std::move(callback));
}

// --- Reading the state ------------------------------------------------------------------------

bool ScriptedSystem::KeyExists(std::string_view keyPath) const {
  return model_->machine->keys.count(FoldedAscii(scripted_detail::NormalizeKeyPath(keyPath))) != 0;
}

std::optional<RegistryValue> ScriptedSystem::Value(std::string_view keyPath,
                                                   std::string_view valueName) const {
  const auto key =
      model_->machine->keys.find(FoldedAscii(scripted_detail::NormalizeKeyPath(keyPath)));
  if (key == model_->machine->keys.end()) return std::nullopt;
  const auto value = key->second.values.find(FoldedAscii(valueName));
  if (value == key->second.values.end()) return std::nullopt;
  return value->second.second;
}

std::vector<std::pair<std::string, std::map<std::string, RegistryValue>>>
ScriptedSystem::RegistrySnapshot() const {
  std::vector<std::pair<std::string, std::map<std::string, RegistryValue>>> result;
  for (const auto& [lower, key] : model_->machine->keys) {
    if (lower.empty()) continue;  // the root is no key of its own
    std::map<std::string, RegistryValue> values;
    for (const auto& [lowerName, entry] : key.values) values.emplace(entry.first, entry.second);
    result.emplace_back(key.path, std::move(values));
  }
  return result;
}

bool ScriptedSystem::FileExists(std::string_view path) const {
  const auto it = model_->machine->files.find(FoldedAscii(NormalizePath(path)));
  return it != model_->machine->files.end() && !it->second.directory;
}

std::vector<std::string> ScriptedSystem::Files() const {
  std::vector<std::string> result;
  for (const auto& [lower, node] : model_->machine->files) {
    if (!node.directory) result.push_back(node.path);
  }
  return result;
}

std::vector<std::string> ScriptedSystem::PendingDeletions() const {
  return model_->machine->pendingDeletions;
}

bool ScriptedSystem::ServiceExists(std::string_view name) const {
  return model_->machine->services.count(FoldedAscii(name)) != 0;
}

std::optional<ServiceState> ScriptedSystem::CurrentServiceState(std::string_view name) const {
  const auto it = model_->machine->services.find(FoldedAscii(name));
  if (it == model_->machine->services.end()) return std::nullopt;
  return it->second.state;
}

bool ScriptedSystem::ServiceMarkedForDeletion(std::string_view name) const {
  const auto it = model_->machine->services.find(FoldedAscii(name));
  return it != model_->machine->services.end() && it->second.marked;
}

std::vector<std::string> ScriptedSystem::ServiceNames() const {
  std::vector<std::string> result;
  for (const auto& [lower, service] : model_->machine->services) result.push_back(service.name);
  return result;
}

std::optional<std::string> ScriptedSystem::Clipboard() const { return model_->machine->clipboard; }

const std::vector<ShutdownRequest>& ScriptedSystem::ShutdownRequests() const {
  return model_->machine->shutdowns;
}

bool ScriptedSystem::RedirectionDisabled() const { return model_->machine->redirectionDisabled; }
int ScriptedSystem::PumpCount() const { return model_->machine->pumps; }
int ScriptedSystem::PauseCount() const { return model_->machine->pauses; }
int ScriptedSystem::PausedSeconds() const { return model_->machine->pausedSeconds; }
int ScriptedSystem::OpenServiceHandleCount() const {
  return static_cast<int>(model_->machine->handles.size());
}
int ScriptedSystem::OpenRegistryKeyCount() const { return model_->machine->openKeys; }
int ScriptedSystem::HandleFaultCount() const { return model_->machine->handleFaults; }
const std::vector<std::string>& ScriptedSystem::Log() const { return model_->machine->log; }

std::string ScriptedSystem::RedirectedPath(std::string_view path) const {
  return model_->machine->Redirected(path);
}

// --- SystemAccess: registry and files ---------------------------------------------------------

std::unique_ptr<RegistryConnection> ScriptedSystem::ConnectRegistry(RegistryView view) {
  const bool wow32 = model_->machine->wow64 && view != RegistryView::Native;
  return std::make_unique<scripted_detail::ScriptedRegistryConnection>(model_->machine, wow32);
}

std::uint32_t ScriptedSystem::FindFile(std::string_view path) {
  const std::string target = model_->machine->Redirected(path);
  const FileNode* node = model_->machine->FindFile(target);
  if (node == nullptr) {
    const std::uint32_t error = model_->machine->MissingError(target);
    model_->machine->Fail(error);
    return error;
  }
  // Windows finds the folder's attributes and sets no error; the folder is still no file.
  return node->directory ? win_error::kFileNotFound : 0;
}

std::uint32_t ScriptedSystem::DeleteFile(std::string_view path) {
  const std::string target = model_->machine->Redirected(path);
  const FileNode* node = model_->machine->FindFile(target);
  std::uint32_t error = 0;
  if (node == nullptr) {
    error = model_->machine->MissingError(target);
  } else if (node->directory) {
    error = win_error::kAccessDenied;
  } else if (node->inUse) {
    error = win_error::kSharingViolation;
  }
  if (error != 0) {
    model_->machine->Fail(error);
    model_->machine->Log("DeleteFileNow " + target + " " + scripted_detail::Failed(error));
    return error;
  }
  const std::string deleted = node->path;
  model_->machine->files.erase(FoldedAscii(target));
  model_->machine->Log("DeleteFileNow " + deleted + " ok");
  if (model_->machine->onFileDeleted) model_->machine->onFileDeleted(deleted);
  return 0;
}

std::uint32_t ScriptedSystem::DeleteFileAtRestart(std::string_view path) {
  // MoveFileEx only writes the request down: it neither checks the file nor applies the
  // redirection, and the system's start-up acts on the native path.
  const std::string requested(path);
  model_->machine->pendingDeletions.push_back(requested);
  model_->machine->Log("DeleteFileAtRestart " + requested + " ok");
  return 0;
}

std::uint32_t ScriptedSystem::CancelDeleteAtRestart(std::string_view path) {
  auto& pending = model_->machine->pendingDeletions;
  const auto sameFile = [&](const std::string& entry) {
    return FoldedAscii(NormalizePath(entry)) == FoldedAscii(NormalizePath(path));
  };
  const auto kept = std::remove_if(pending.begin(), pending.end(), sameFile);
  if (kept == pending.end()) {
    model_->machine->Fail(win_error::kFileNotFound);
    model_->machine->Log("CancelDeleteAtRestart " + std::string(path) + " " +
                         scripted_detail::Failed(win_error::kFileNotFound));
    return win_error::kFileNotFound;
  }
  pending.erase(kept, pending.end());
  model_->machine->Log("CancelDeleteAtRestart " + std::string(path) + " ok");
  return 0;
}

std::string ScriptedSystem::QuerySystemDirectory() { return model_->machine->systemDirectory; }

std::string ScriptedSystem::QueryProgramDataDirectory() { return model_->machine->programData; }

bool ScriptedSystem::DeviceCanBeOpened(std::string_view devicePath) {
  if (model_->machine->devices.count(FoldedAscii(devicePath)) != 0) return true;
  const std::string target = model_->machine->Redirected(devicePath);
  const FileNode* node = model_->machine->FindFile(target);
  std::uint32_t error = 0;
  if (node == nullptr) {
    error = model_->machine->MissingError(target);
  } else if (node->directory) {
    error = win_error::kAccessDenied;  // CreateFile opens directories only with backup semantics
  } else if (node->inUse) {
    error = win_error::kSharingViolation;  // share mode 0 clashes with every other opener
  }
  if (error == 0) return true;
  model_->machine->Fail(error);
  return false;
}

// --- SystemAccess: platform -------------------------------------------------------------------

bool ScriptedSystem::IsNtFamily() { return model_->machine->ntFamily; }
bool ScriptedSystem::HasAdministratorRights() { return model_->machine->administrator; }
bool ScriptedSystem::RunningUnderWow64() { return model_->machine->wow64; }

bool ScriptedSystem::Is64BitWindows() { return model_->machine->wow64; }

namespace {

// Hands its token back once, when it ends.
class ScriptedRedirectionScope final : public FsRedirectionScope {
 public:
  ScriptedRedirectionScope(ScriptedSystem& system, RedirectionToken token)
      : system_(system), token_(token) {}
  ~ScriptedRedirectionScope() override {
    static_cast<void>(system_.RevertRedirectionToken(token_));
  }
  ScriptedRedirectionScope(const ScriptedRedirectionScope&) = delete;
  ScriptedRedirectionScope& operator=(const ScriptedRedirectionScope&) = delete;

 private:
  ScriptedSystem& system_;
  RedirectionToken token_;
};

}  // namespace

std::unique_ptr<FsRedirectionScope> ScriptedSystem::DisableFsRedirection() {
  const std::optional<RedirectionToken> token = DisableRedirectionToken();
  if (!token) return nullptr;
  return std::make_unique<ScriptedRedirectionScope>(*this, *token);
}

std::optional<RedirectionToken> ScriptedSystem::DisableRedirectionToken() {
  // Without the functions the look-up fails; on a 32-bit system they exist but fail.
  const std::uint32_t error = !model_->machine->redirectionAvailable
                                  ? scripted_detail::kProcNotFound
                              : !model_->machine->wow64 ? scripted_detail::kInvalidFunction
                                                        : 0;
  if (error != 0) {
    model_->machine->Fail(error);
    model_->machine->Log("DisableFsRedirection " + scripted_detail::Failed(error));
    return std::nullopt;
  }
  // The token remembers the state before the switch in its lowest bit.
  const std::uintptr_t token =
      (model_->machine->nextToken++ << 1U) | (model_->machine->redirectionDisabled ? 1U : 0U);
  model_->machine->redirectionTokens.insert(token);
  model_->machine->redirectionDisabled = true;
  model_->machine->Log("DisableFsRedirection ok");
  return RedirectionToken{token};
}

bool ScriptedSystem::RevertRedirectionToken(RedirectionToken token) {
  const std::uint32_t error = !model_->machine->redirectionAvailable
                                  ? scripted_detail::kProcNotFound
                              : !model_->machine->wow64 ? scripted_detail::kInvalidFunction
                              : model_->machine->redirectionTokens.count(token.value) == 0
                                  ? scripted_detail::kInvalidParameter
                                  : 0;
  if (error != 0) {
    model_->machine->Fail(error);
    model_->machine->Log("RevertFsRedirection " + scripted_detail::Failed(error));
    return false;
  }
  model_->machine->redirectionTokens.erase(token.value);
  model_->machine->redirectionDisabled = (token.value & 1U) != 0;
  model_->machine->Log(std::string("RevertFsRedirection ok, redirection ") +
                       (model_->machine->redirectionDisabled ? "off" : "on"));
  return true;
}

// --- SystemAccess: services -------------------------------------------------------------------

std::unique_ptr<ServiceManager> ScriptedSystem::OpenServiceManager() {
  return OpenOwnedServiceManager(*this);
}

ServiceHandle ScriptedSystem::OpenServiceManagerHandle() {
  if (!model_->machine->serviceManagerAvailable) {
    model_->machine->Fail(win_error::kAccessDenied);
    return {};
  }
  return model_->machine->NewHandle(scripted_detail::HandleInfo{true, {}});
}

ServiceHandle ScriptedSystem::OpenServiceEntry(ServiceHandle manager,
                                               std::string_view serviceName) {
  const auto it = model_->machine->handles.find(manager.value);
  if (it == model_->machine->handles.end() || !it->second.manager) {
    model_->machine->Fail(win_error::kInvalidHandle);
    return {};
  }
  const std::string key = FoldedAscii(serviceName);
  const auto service = model_->machine->services.find(key);
  if (service == model_->machine->services.end()) {
    model_->machine->Fail(win_error::kServiceDoesNotExist);
    return {};
  }
  ++service->second.openHandles;
  return model_->machine->NewHandle(scripted_detail::HandleInfo{false, key});
}

std::optional<ServiceState> ScriptedSystem::QueryServiceState(ServiceHandle service) {
  scripted_detail::Service* entry = model_->machine->ServiceOf(service);
  if (entry == nullptr) {
    model_->machine->Fail(win_error::kInvalidHandle);
    return std::nullopt;
  }
  if (entry->stopAccepted && !entry->script.statesAfterStop.empty()) {
    const auto& states = entry->script.statesAfterStop;
    entry->state = states[std::min(entry->afterStopIndex, states.size() - 1)];
    ++entry->afterStopIndex;
  } else if (entry->state == ServiceState::StartPending) {
    if (entry->startPendingLeft > 0) {
      --entry->startPendingLeft;
    } else {
      entry->state = ServiceState::Running;
    }
  }
  return entry->state;
}

std::optional<ServiceState> ScriptedSystem::SendServiceStop(ServiceHandle service) {
  scripted_detail::Service* entry = model_->machine->ServiceOf(service);
  if (entry == nullptr) {
    model_->machine->Fail(win_error::kInvalidHandle);
    return std::nullopt;
  }
  std::uint32_t error = 0;
  switch (entry->state) {
    case ServiceState::Stopped:
      error = win_error::kServiceNotActive;
      break;
    case ServiceState::StartPending:
    case ServiceState::StopPending:
      error = win_error::kServiceCannotAcceptCtrl;
      break;
    default:
      if (!entry->script.acceptsStop) error = scripted_detail::kInvalidServiceControl;
  }
  if (error != 0) {
    model_->machine->Fail(error);
    model_->machine->Log("SendServiceStop " + entry->name + " " + scripted_detail::Failed(error));
    return std::nullopt;
  }
  entry->stopAccepted = true;
  entry->afterStopIndex = 0;
  entry->state =
      entry->script.statesAfterStop.empty() ? ServiceState::Stopped : ServiceState::StopPending;
  model_->machine->Log("SendServiceStop " + entry->name + " accepted");
  return entry->state;
}

bool ScriptedSystem::DeleteServiceEntry(ServiceHandle service) {
  scripted_detail::Service* entry = model_->machine->ServiceOf(service);
  if (entry == nullptr) {
    model_->machine->Fail(win_error::kInvalidHandle);
    return false;
  }
  const std::uint32_t error =
      entry->marked ? win_error::kServiceMarkedForDelete : entry->script.deleteError;
  if (error != 0) {
    model_->machine->Fail(error);
    model_->machine->Log("DeleteServiceEntry " + entry->name + " " +
                         scripted_detail::Failed(error));
    return false;
  }
  entry->marked = true;
  model_->machine->Log("DeleteServiceEntry " + entry->name + " ok, marked for deletion");
  return true;
}

ServiceHandle ScriptedSystem::CreateServiceEntry(ServiceHandle manager,
                                                 const ServiceDefinition& definition) {
  scripted_detail::Machine& machine = *model_->machine;
  const auto it = machine.handles.find(manager.value);
  if (it == machine.handles.end() || !it->second.manager) {
    machine.Fail(win_error::kInvalidHandle);
    return {};
  }
  const std::string key = FoldedAscii(definition.name);
  if (const auto existing = machine.services.find(key); existing != machine.services.end()) {
    const std::uint32_t error =
        existing->second.marked ? win_error::kServiceMarkedForDelete : win_error::kServiceExists;
    machine.Fail(error);
    machine.Log("CreateServiceEntry " + definition.name + " " + scripted_detail::Failed(error));
    return {};
  }
  ServiceScript script;
  script.state = ServiceState::Stopped;
  scripted_detail::Service service;
  service.name = definition.name;
  service.script = script;
  service.state = ServiceState::Stopped;
  service.openHandles = 1;
  machine.services.emplace(key, std::move(service));
  // The service manager keeps a service's registration in its key, as Windows does.
  const std::string keyPath = "SYSTEM\\CurrentControlSet\\Services\\" + definition.name;
  auto& values = machine.EnsureKey(keyPath).values;
  const auto set = [&](std::string_view name, RegistryValue value) {
    values[FoldedAscii(name)] = {std::string(name), std::move(value)};
  };
  set("Type", RegistryValue::Dword(definition.type));
  set("Start", RegistryValue::Dword(definition.start));
  set("ErrorControl", RegistryValue::Dword(definition.errorControl));
  set("ImagePath", RegistryValue::ExpandString(definition.imagePath));
  if (!definition.displayName.empty())
    set("DisplayName", RegistryValue::String(definition.displayName));
  machine.Log("CreateServiceEntry " + definition.name + " ok");
  return machine.NewHandle(scripted_detail::HandleInfo{false, key});
}

void ScriptedSystem::CloseServiceObject(ServiceHandle handle) {
  if (!handle) return;
  const auto it = model_->machine->handles.find(handle.value);
  if (it == model_->machine->handles.end()) {
    const bool closedBefore = model_->machine->closedHandles.count(handle.value) != 0;
    ++model_->machine->handleFaults;
    model_->machine->Fail(win_error::kInvalidHandle);
    model_->machine->Log("CloseServiceObject " + std::to_string(handle.value) +
                         (closedBefore ? " double-close" : " invalid handle"));
    return;
  }
  const std::string serviceKey = it->second.serviceKey;
  const bool manager = it->second.manager;
  model_->machine->handles.erase(it);
  model_->machine->closedHandles.insert(handle.value);
  if (manager) return;
  const auto service = model_->machine->services.find(serviceKey);
  if (service != model_->machine->services.end()) {
    --service->second.openHandles;
    model_->machine->RemoveIfDone(serviceKey);
  }
}

std::uint32_t ScriptedSystem::LastSystemError() { return model_->machine->lastError; }

std::string ScriptedSystem::SystemErrorText(std::uint32_t code) {
  // The messages as the system's message table has them (with their full stop and line end),
  // trimmed the way the real operation trims them.
  const std::string_view message = EnglishSystemMessage(code);
  std::string text = !message.empty() ? std::string(message) : "Error " + std::to_string(code);
  while (!text.empty()) {
    const auto last = static_cast<unsigned char>(text.back());
    if (last > ' ' && last != '.') break;
    text.pop_back();
  }
  return text;
}

// --- Desktop ----------------------------------------------------------------------------------

void ScriptedSystem::ShutdownWindows(ShutdownMode mode, bool force) {
  model_->machine->shutdowns.push_back(ShutdownRequest{mode, force});
  std::string effect = "nothing";
  if (model_->machine->ntFamily) {
    if (mode == ShutdownMode::ShutDown) effect = force ? "ExitWindowsEx 5" : "ExitWindowsEx 1";
    if (mode == ShutdownMode::Restart) effect = force ? "ExitWindowsEx 6" : "ExitWindowsEx 2";
    if (mode == ShutdownMode::LogOff) effect = force ? "ExitWindowsEx 4" : "ExitWindowsEx 0";
    if (mode == ShutdownMode::MonitorOff && force) effect = "monitor off";
  }
  model_->machine->Log("ShutdownWindows " + std::to_string(static_cast<int>(mode)) +
                       (force ? " force" : "") + ": " + effect);
}

void ScriptedSystem::SetClipboardText(std::string_view text) {
  model_->machine->clipboard = std::string(text);
  model_->machine->Log("SetClipboardText " + scripted_detail::Quoted(text));
}

void ScriptedSystem::PumpWindowMessages() {
  const int n = ++model_->machine->pumps;
  model_->machine->RunHooks(model_->machine->pumpHooks, n);
  const auto everyPump = model_->machine->everyPump;  // a hook may add hooks
  for (const auto& hook : everyPump) hook();
}

void ScriptedSystem::PauseSeconds(int seconds) {
  if (seconds <= 0) return;
  const int n = ++model_->machine->pauses;
  model_->machine->pausedSeconds += seconds;
  model_->machine->RunHooks(model_->machine->pauseHooks, n);
}

}  // namespace lk
