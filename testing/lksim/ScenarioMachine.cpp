#include "testing/lksim/ScenarioMachine.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <string_view>
#include <utility>

#include "base/TextCase.h"

namespace lk::lksim {

namespace {

constexpr const char* kContentLimitText = "the files' content exceeds 64 MiB in all";

[[noreturn]] void Fail(const std::string& place, const std::string& what) {
  throw ScenarioError(place + ": " + what);
}

bool IsOnDriveC(const std::string& path) {
  return path.size() >= 3 && EqualsIgnoringAsciiCase(path.substr(0, 3), "C:\\");
}

// A Windows path on drive C: whose parts all stay inside the drive folder: ".." would climb out
// of it, and a NUL would cut the host path short.
void CheckDrivePath(const std::string& path, const std::string& place) {
  if (!IsOnDriveC(path)) Fail(place, "path must be on drive C: (\"C:\\...\")");
  if (path.find('\0') != std::string::npos) Fail(place, "path holds a NUL character");
  std::string_view rest(path);
  rest.remove_prefix(3);
  while (!rest.empty()) {
    const std::size_t cut = rest.find_first_of("\\/");
    if (rest.substr(0, cut) == "..") Fail(place, "path must not contain \"..\"");
    rest = cut == std::string_view::npos ? std::string_view{} : rest.substr(cut + 1);
  }
}

// The spelling of an existing entry of folder that names part, an exact one first, else one that
// differs in case only; part itself when there is none.
std::string SpellingIn(const std::filesystem::path& folder, const std::string& part) {
  std::string spelling = part;
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) return spelling;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name == part) return name;
    if (EqualsIgnoringAsciiCase(name, part)) spelling = name;
  }
  return spelling;
}

void WriteHostFile(const std::filesystem::path& host, const std::string& bytes,
                   const std::string& place) {
  std::error_code error;
  std::filesystem::create_directories(host.parent_path(), error);
  if (error) Fail(place, "cannot create its folder in the drive folder: " + error.message());
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) Fail(place, "cannot write the file to the drive folder");
}

std::string ToHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (!text.empty()) text.push_back(' ');
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0xF]);
  }
  return text;
}

std::uint32_t DwordOf(const std::string& data) {
  std::uint32_t number = 0;
  for (std::size_t i = 0; i < 4 && i < data.size(); ++i) {
    number |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[i])) << (8 * i);
  }
  return number;
}

// The texts of REG_MULTI_SZ data, up to the empty text that ends the list.
Json TextsOf(const std::string& data) {
  Json texts = Json::array();
  std::size_t at = 0;
  while (at < data.size() && data[at] != '\0') {
    const std::size_t end = data.find('\0', at);
    texts.push_back(data.substr(at, end - at));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return texts;
}

bool ListHoldsIgnoringCase(const std::vector<std::string>& texts, std::string_view text) {
  return std::any_of(texts.begin(), texts.end(),
                     [&](const std::string& t) { return EqualsIgnoringAsciiCase(t, text); });
}

// A registry value in the scenario's form; string data without its terminating NUL.
Json ValueJson(const RegistryValue& value) {
  const std::string textUpToNul = value.data.substr(0, value.data.find('\0'));
  switch (value.type) {
    case RegistryValueType::Sz:
      return {{"type", "REG_SZ"}, {"data", textUpToNul}};
    case RegistryValueType::ExpandSz:
      return {{"type", "REG_EXPAND_SZ"}, {"data", textUpToNul}};
    case RegistryValueType::Dword:
      return {{"type", "REG_DWORD"}, {"data", DwordOf(value.data)}};
    case RegistryValueType::MultiSz:
      return {{"type", "REG_MULTI_SZ"}, {"data", TextsOf(value.data)}};
    case RegistryValueType::Binary:
    default:
      return {{"type", "REG_BINARY"}, {"data", ToHex(value.data)}};
  }
}

// Adds a key's values, ordered by name without regard to case.
void AddValues(const std::map<std::string, RegistryValue>& byName, Json::object_t& values) {
  std::vector<std::string> names;
  for (const auto& [name, value] : byName) names.push_back(name);
  std::sort(names.begin(), names.end(), LessIgnoringAsciiCase);
  for (const std::string& name : names) values[name] = ValueJson(byName.at(name));
}

}  // namespace

bool IsAnswerOf(DialogResult answer, DialogButtons buttons) {
  switch (answer) {
    case DialogResult::Yes:
      return (buttons & kButtonYes) != 0;
    case DialogResult::No:
      return (buttons & kButtonNo) != 0;
    case DialogResult::Ok:
      return (buttons & kButtonOk) != 0;
    case DialogResult::Cancel:
      // "Close": the window system can close every dialog.
      return true;
  }
  return false;
}

std::string ButtonNames(DialogButtons buttons) {
  std::string names;
  for (const auto& [button, name] :
       {std::pair{kButtonYes, "\"Yes\""}, std::pair{kButtonNo, "\"No\""},
        std::pair{kButtonOk, "\"Ok\""}, std::pair{kButtonCancel, "\"Cancel\""}}) {
    if ((buttons & button) == 0) continue;
    if (!names.empty()) names += ", ";
    names += name;
  }
  return names.empty() ? "none" : names;
}

ScenarioMachine::ScenarioMachine() {
  static std::atomic<int> counter{0};
  root_ = std::filesystem::temp_directory_path() /
          ("lksim-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(root_);
  std::filesystem::create_directories(root_);
  files_ = std::make_unique<PosixFileSystem>(root_.string(), "C:");
  files_->SetPathMapping([this](std::string_view path) { return system_.RedirectedPath(path); });
  system_.OnFileDeleted([this](const std::string& path) {
    // Only the scenario's own files are deleted, and their paths were checked when loaded.
    const std::optional<std::filesystem::path> host = HostPath(path);
    std::error_code ignored;
    if (host) std::filesystem::remove(*host, ignored);
  });
}

ScenarioMachine::~ScenarioMachine() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::optional<std::filesystem::path> ScenarioMachine::HostPath(
    const std::string& windowsPath) const {
  std::filesystem::path host = root_;
  std::string_view rest(windowsPath);
  rest.remove_prefix(std::min<std::size_t>(2, rest.size()));  // "C:"
  while (!rest.empty()) {
    const std::size_t cut = rest.find_first_of("\\/");
    const std::string part(rest.substr(0, cut));
    rest = cut == std::string_view::npos ? std::string_view{} : rest.substr(cut + 1);
    if (part.empty() || part == ".") continue;
    if (part == ".." || part.find('\0') != std::string::npos) return std::nullopt;
    host /= SpellingIn(host, part);
  }
  return host;
}

std::filesystem::path ScenarioMachine::CheckedHostPath(const std::string& windowsPath,
                                                       const std::string& place) const {
  CheckDrivePath(windowsPath, place);
  std::optional<std::filesystem::path> host = HostPath(windowsPath);
  if (!host) Fail(place, "path leaves the drive");
  return *std::move(host);
}

void ScenarioMachine::MakeDirectory(const std::string& windowsPath, const std::string& place) {
  const std::filesystem::path host = CheckedHostPath(windowsPath, place);
  std::error_code error;
  std::filesystem::create_directories(host, error);
  if (error) Fail(place, "cannot create the folder in the drive folder: " + error.message());
  system_.AddDirectory(windowsPath);
}

RunScript ScenarioMachine::Load(const Json& document) {
  const Scenario scenario = ReadScenario(document);
  LoadSystem(scenario.system);
  LoadDirectories(scenario.directories);
  LoadFiles(scenario.files);
  LoadRegistry(scenario.registry);
  for (const std::string& key : scenario.deniedKeys) {
    system_.DenyKeyRead(key);
    system_.DenyKeyWrite(key);
  }
  for (const auto& [name, script] : scenario.services.entries) system_.AddService(name, script);
  for (const std::string& device : scenario.devices) system_.AddDevice(device);
  return scenario.run;
}

void ScenarioMachine::LoadSystem(const SystemRecord& system) {
  const std::string place = Place(Json::json_pointer("/system/systemDirectory"));
  const std::string& directory = system.systemDirectory;
  if (!directory.empty() && !IsOnDriveC(directory)) {
    Fail(place, "must be empty or on drive C: (\"C:\\...\")");
  }
  system_.SetSystemDirectory(directory);
  if (!directory.empty()) {
    MakeDirectory(directory, place);
    MakeDirectory(directory + "\\drivers", place);
  }
  system_.SetNtFamily(system.ntFamily);
  if (!system.is64) return;
  system_.SetRunningUnderWow64(true);
  const std::size_t slash = directory.find_last_of('\\');
  if (slash != std::string::npos && slash > 2) {
    MakeDirectory(directory.substr(0, slash) + "\\SysWOW64", place);
  }
}

void ScenarioMachine::LoadDirectories(const std::vector<std::string>& directories) {
  for (std::size_t i = 0; i < directories.size(); ++i) {
    MakeDirectory(directories[i], Place(Json::json_pointer("/directories") / i));
  }
}

void ScenarioMachine::LoadFiles(const Named<FileRecord>& files) {
  for (const auto& [path, file] : files.entries) LoadFile(path, file);
}

void ScenarioMachine::LoadFile(const std::string& path, const FileRecord& file) {
  const Json::json_pointer pointer = Json::json_pointer("/files") / path;
  const std::string place = Place(pointer);
  // "C:\" itself is the drive folder, not a file.
  if (path.size() < 4) Fail(place, "path must be on drive C: (\"C:\\...\")");
  const std::filesystem::path host = CheckedHostPath(path, place);
  WriteHostFile(host, FileContent(file.content, pointer / "content"), place);
  system_.AddFile(path, file.inUse);
  filePaths_.push_back(path);
}

std::string ScenarioMachine::FileContent(const std::vector<ContentPiece>& pieces,
                                         const Json::json_pointer& place) {
  std::string bytes;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const ContentPiece& piece = pieces[i];
    const std::int64_t room =
        kMaxContentBytes - contentBytes_ - static_cast<std::int64_t>(bytes.size());
    // Checked before the bytes are made: a "repeat" may ask for far more memory than allowed.
    if (static_cast<std::int64_t>(piece.unit.size()) * piece.count > room) {
      Fail(Place(place / i / piece.kind), kContentLimitText);
    }
    if (piece.unit.empty()) continue;
    for (std::int64_t k = 0; k < piece.count; ++k) bytes += piece.unit;
  }
  contentBytes_ += static_cast<std::int64_t>(bytes.size());
  return bytes;
}

void ScenarioMachine::LoadRegistry(const Named<Named<RegistryValue>>& registry) {
  for (const auto& [key, values] : registry.entries) {
    if (key.empty()) Fail(Place(Json::json_pointer("/registry") / key), "empty key path");
    system_.AddKey(key);
    registryKeys_.push_back(key);
    for (const auto& [name, value] : values.entries) system_.SetValue(key, name, value);
  }
}

Json ScenarioMachine::State() const {
  return {{"registry", RegistryState()},
          {"files", FilesState()},
          {"deleteAtRestart", system_.PendingDeletions()},
          {"services", ServicesState()}};
}

// The state's objects are filled as the library's object type and become a Json once: with the
// library's diagnostics on (for the scenario's messages) every value knows its parent, and an
// ordered Json object that grows in place leaves the members it moves with a stale one.
Json ScenarioMachine::RegistryState() const {
  Json::object_t registry;
  const auto snapshot = system_.RegistrySnapshot();
  std::vector<std::string> reported;
  for (const std::string& key : registryKeys_) {
    // The scenario may name a key twice, in different case; the state names it once.
    if (ListHoldsIgnoringCase(reported, key) || !system_.KeyExists(key)) continue;
    reported.push_back(key);
    Json::object_t values;
    for (const auto& [path, byName] : snapshot) {
      if (EqualsIgnoringAsciiCase(path, key)) AddValues(byName, values);
    }
    registry[key] = Json(std::move(values));
  }
  return Json(std::move(registry));
}

Json ScenarioMachine::FilesState() const {
  std::vector<std::string> existing;
  for (const std::string& path : filePaths_) {
    if (system_.FileExists(path)) existing.push_back(path);
  }
  std::sort(existing.begin(), existing.end(), LessIgnoringAsciiCase);
  return existing;
}

Json ScenarioMachine::ServicesState() const {
  Json::object_t services;
  for (const std::string& name : system_.ServiceNames()) {
    const std::optional<ServiceState> state = system_.CurrentServiceState(name);
    services[name] = {{"state", state ? static_cast<int>(*state) : 0},
                      {"markedForDeletion", system_.ServiceMarkedForDeletion(name)}};
  }
  return Json(std::move(services));
}

}  // namespace lk::lksim
