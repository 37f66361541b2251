#include "tools/lksim/ScenarioMachine.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <utility>

#include "analysis/TextCase.h"
#include "tools/lksim/ScenarioText.h"

namespace lk::lksim {

namespace {

// The content of all files together; more is surely a mistake in the scenario, and the drive
// folder lies in the host's temporary folder.
constexpr std::int64_t kMaxContentBytes = std::int64_t{64} << 20;
constexpr const char* kContentLimitText = "the files' content exceeds 64 MiB in all";

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw ScenarioError(where + ": " + what);
}

std::string Quote(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '"';
  quoted += text;
  quoted += '"';
  return quoted;
}

void ExpectObject(const Json& value, const std::string& where) {
  if (!value.is_object()) Fail(where, "expected an object");
}

void ExpectArray(const Json& value, const std::string& where) {
  if (!value.is_array()) Fail(where, "expected an array");
}

void CheckKeys(const Json& object, std::initializer_list<std::string_view> allowed,
               const std::string& where) {
  for (const auto& [key, value] : object.items()) {
    if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
      Fail(where, "unknown key " + Quote(key));
    }
  }
}

const std::string& GetString(const Json& value, const std::string& where) {
  if (!value.is_string()) Fail(where, "expected a string");
  return value.get_ref<const std::string&>();
}

bool GetBool(const Json& value, const std::string& where) {
  if (!value.is_boolean()) Fail(where, "expected true or false");
  return value.get<bool>();
}

std::int64_t GetInteger(const Json& value, const std::string& where, std::int64_t min,
                        std::int64_t max) {
  if (!value.is_number_integer()) Fail(where, "expected an integer");
  const std::int64_t number = value.is_number_unsigned()
                                  ? static_cast<std::int64_t>(std::min<std::uint64_t>(
                                        value.get<std::uint64_t>(), std::uint64_t{1} << 62))
                                  : value.get<std::int64_t>();
  if (number < min || number > max) {
    Fail(where, "expected an integer from " + std::to_string(min) + " to " + std::to_string(max));
  }
  return number;
}

std::string Member(const std::string& where, std::string_view key) {
  return where + "." + std::string(key);
}

std::string Element(const std::string& where, const std::string& key) {
  return where + "[" + Quote(key) + "]";
}

std::string Index(const std::string& where, std::size_t i) {
  return where + "[" + std::to_string(i) + "]";
}

// A Windows path on drive C: whose parts all stay inside the drive folder: ".." would climb out
// of it, and a NUL would cut the host path short.
void CheckDrivePath(const std::string& path, const std::string& where) {
  if (path.size() < 3 || !EqualsIgnoringCase(path.substr(0, 3), "C:\\")) {
    Fail(where, "path must be on drive C: (\"C:\\...\")");
  }
  if (path.find('\0') != std::string::npos) Fail(where, "path holds a NUL character");
  std::string_view rest(path);
  rest.remove_prefix(3);
  while (!rest.empty()) {
    const std::size_t cut = rest.find_first_of("\\/");
    if (rest.substr(0, cut) == "..") Fail(where, "path must not contain \"..\"");
    rest = cut == std::string_view::npos ? std::string_view{} : rest.substr(cut + 1);
  }
}

std::string Windows1252Of(const std::string& text, const std::string& where) {
  try {
    return Windows1252Bytes(text);
  } catch (const std::range_error& fault) {
    Fail(where, fault.what());
  }
}

// "01 ff", "01ff" or "01,ff": pairs of hex digits, blanks and commas between them ignored.
std::string ParseHex(const std::string& text, const std::string& where) {
  std::string bytes;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == ',') {
      if (high >= 0) Fail(where, "odd number of hex digits in a byte");
      continue;
    }
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) Fail(where, "not a hex digit: " + Quote(std::string(1, c)));
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<char>(high * 16 + digit));
      high = -1;
    }
  }
  if (high >= 0) Fail(where, "odd number of hex digits");
  return bytes;
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

ServiceState ParseServiceState(const Json& value, const std::string& where) {
  return static_cast<ServiceState>(GetInteger(value, where, 1, 7));
}

bool LessIgnoringCase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return FoldAscii(x) < FoldAscii(y); });
}

Json ValueJson(const RegistryValue& value) {
  Json json = Json::object();
  const auto textUpToNul = [&] { return value.data.substr(0, value.data.find('\0')); };
  switch (value.type) {
    case RegistryValueType::Sz:
      json["type"] = "REG_SZ";
      json["data"] = textUpToNul();
      break;
    case RegistryValueType::ExpandSz:
      json["type"] = "REG_EXPAND_SZ";
      json["data"] = textUpToNul();
      break;
    case RegistryValueType::Dword: {
      std::uint32_t number = 0;
      for (std::size_t i = 0; i < 4 && i < value.data.size(); ++i) {
        number |= static_cast<std::uint32_t>(static_cast<unsigned char>(value.data[i])) << (8 * i);
      }
      json["type"] = "REG_DWORD";
      json["data"] = number;
      break;
    }
    case RegistryValueType::MultiSz: {
      Json texts = Json::array();
      std::size_t at = 0;
      while (at < value.data.size() && value.data[at] != '\0') {
        const std::size_t end = value.data.find('\0', at);
        texts.push_back(value.data.substr(at, end - at));
        if (end == std::string::npos) break;
        at = end + 1;
      }
      json["type"] = "REG_MULTI_SZ";
      json["data"] = texts;
      break;
    }
    case RegistryValueType::Binary:
    default:
      json["type"] = "REG_BINARY";
      json["data"] = ToHex(value.data);
      break;
  }
  return json;
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

DialogResult ParseAnswer(const std::string& answer) {
  if (answer == "Yes") return DialogResult::Yes;
  if (answer == "No") return DialogResult::No;
  if (answer == "Ok") return DialogResult::Ok;
  if (answer == "Close") return DialogResult::Cancel;
  throw ScenarioError("answers: " + Quote(answer) +
                      " is none of \"Yes\", \"No\", \"Ok\", \"Close\"");
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
    std::string spelling = part;
    std::error_code error;
    if (std::filesystem::is_directory(host, error)) {
      for (const auto& entry : std::filesystem::directory_iterator(host, error)) {
        const std::string name = entry.path().filename().string();
        if (name == part) {
          spelling = name;
          break;
        }
        if (EqualsIgnoringCase(name, part)) spelling = name;
      }
    }
    host /= spelling;
  }
  return host;
}

std::filesystem::path ScenarioMachine::CheckedHostPath(const std::string& windowsPath,
                                                       const std::string& where) const {
  CheckDrivePath(windowsPath, where);
  std::optional<std::filesystem::path> host = HostPath(windowsPath);
  if (!host) Fail(where, "path leaves the drive");
  return *std::move(host);
}

void ScenarioMachine::MakeDirectory(const std::string& windowsPath, const std::string& where) {
  const std::filesystem::path host = CheckedHostPath(windowsPath, where);
  std::error_code error;
  std::filesystem::create_directories(host, error);
  if (error) Fail(where, "cannot create the folder in the drive folder: " + error.message());
  system_.AddDirectory(windowsPath);
}

RunScript ScenarioMachine::Load(const Json& scenario) {
  ExpectObject(scenario, "scenario");
  CheckKeys(scenario,
            {"description", "system", "registry", "deniedKeys", "files", "directories", "services",
             "devices", "answers", "cancelAt"},
            "scenario");
  LoadSystem(scenario.contains("system") ? scenario["system"] : Json::object());
  if (scenario.contains("directories")) {
    const Json& directories = scenario["directories"];
    ExpectArray(directories, "directories");
    for (std::size_t i = 0; i < directories.size(); ++i) {
      const std::string& path = GetString(directories[i], Index("directories", i));
      MakeDirectory(path, Index("directories", i));
    }
  }
  if (scenario.contains("files")) LoadFiles(scenario["files"]);
  if (scenario.contains("registry")) LoadRegistry(scenario["registry"]);
  if (scenario.contains("deniedKeys")) {
    const Json& denied = scenario["deniedKeys"];
    ExpectArray(denied, "deniedKeys");
    for (std::size_t i = 0; i < denied.size(); ++i) {
      const std::string& key = GetString(denied[i], Index("deniedKeys", i));
      system_.DenyKeyRead(key);
      system_.DenyKeyWrite(key);
    }
  }
  if (scenario.contains("services")) LoadServices(scenario["services"]);
  if (scenario.contains("devices")) {
    const Json& devices = scenario["devices"];
    ExpectArray(devices, "devices");
    for (std::size_t i = 0; i < devices.size(); ++i) {
      system_.AddDevice(GetString(devices[i], Index("devices", i)));
    }
  }

  RunScript script;
  if (scenario.contains("answers")) {
    const Json& answers = scenario["answers"];
    ExpectArray(answers, "answers");
    for (std::size_t i = 0; i < answers.size(); ++i) {
      script.answers.push_back(ParseAnswer(GetString(answers[i], Index("answers", i))));
    }
  }
  if (scenario.contains("cancelAt")) {
    const Json& cancel = scenario["cancelAt"];
    ExpectObject(cancel, "cancelAt");
    CheckKeys(cancel, {"pause", "pump"}, "cancelAt");
    if (cancel.size() != 1) Fail("cancelAt", "expected exactly one of \"pause\" and \"pump\"");
    const bool atPause = cancel.contains("pause");
    script.cancelPoint = atPause ? RunScript::CancelPoint::Pause : RunScript::CancelPoint::Pump;
    script.cancelAt = static_cast<int>(GetInteger(atPause ? cancel["pause"] : cancel["pump"],
                                                  atPause ? "cancelAt.pause" : "cancelAt.pump", 1,
                                                  1'000'000'000));
  }
  return script;
}

void ScenarioMachine::LoadSystem(const Json& system) {
  ExpectObject(system, "system");
  CheckKeys(system, {"is64", "ntFamily", "systemDirectory"}, "system");
  std::string directory = "C:\\WINDOWS\\system32";
  if (system.contains("systemDirectory")) {
    directory = GetString(system["systemDirectory"], "system.systemDirectory");
    if (!directory.empty() &&
        (directory.size() < 3 || !EqualsIgnoringCase(directory.substr(0, 3), "C:\\"))) {
      Fail("system.systemDirectory", "must be empty or on drive C: (\"C:\\...\")");
    }
  }
  system_.SetSystemDirectory(directory);
  if (!directory.empty()) {
    MakeDirectory(directory, "system.systemDirectory");
    MakeDirectory(directory + "\\drivers", "system.systemDirectory");
  }
  if (system.contains("ntFamily"))
    system_.SetNtFamily(GetBool(system["ntFamily"], "system.ntFamily"));
  if (system.contains("is64") && GetBool(system["is64"], "system.is64")) {
    system_.SetRunningUnderWow64(true);
    const std::size_t slash = directory.find_last_of('\\');
    if (slash != std::string::npos && slash > 2)
      MakeDirectory(directory.substr(0, slash) + "\\SysWOW64", "system.systemDirectory");
  }
}

void ScenarioMachine::LoadFiles(const Json& files) {
  ExpectObject(files, "files");
  for (const auto& [path, description] : files.items()) {
    const std::string where = Element("files", path);
    if (path.size() < 4) Fail(where, "path must be on drive C: (\"C:\\...\")");
    const std::filesystem::path host = CheckedHostPath(path, where);
    ExpectObject(description, where);
    CheckKeys(description, {"content", "inUse"}, where);
    std::string bytes;
    if (description.contains("content")) {
      const Json& pieces = description["content"];
      ExpectArray(pieces, Member(where, "content"));
      for (std::size_t i = 0; i < pieces.size(); ++i) {
        const std::string at = Index(Member(where, "content"), i);
        const Json& piece = pieces[i];
        ExpectObject(piece, at);
        if (piece.size() != 1)
          Fail(at, "expected exactly one of \"text\", \"utf16\", \"hex\", \"repeat\"");
        CheckKeys(piece, {"text", "utf16", "hex", "repeat"}, at);
        if (piece.contains("text")) {
          bytes += Windows1252Of(GetString(piece["text"], Member(at, "text")), Member(at, "text"));
        } else if (piece.contains("utf16")) {
          bytes += Utf16LeBytes(GetString(piece["utf16"], Member(at, "utf16")));
        } else if (piece.contains("hex")) {
          bytes += ParseHex(GetString(piece["hex"], Member(at, "hex")), Member(at, "hex"));
        } else {
          const Json& repeat = piece["repeat"];
          const std::string rat = Member(at, "repeat");
          ExpectObject(repeat, rat);
          CheckKeys(repeat, {"hex", "count"}, rat);
          if (!repeat.contains("hex") || !repeat.contains("count")) {
            Fail(rat, "expected \"hex\" and \"count\"");
          }
          const std::string unit =
              ParseHex(GetString(repeat["hex"], Member(rat, "hex")), Member(rat, "hex"));
          const std::int64_t count =
              GetInteger(repeat["count"], Member(rat, "count"), 0, kMaxContentBytes);
          if (static_cast<std::int64_t>(unit.size()) * count >
              kMaxContentBytes - contentBytes_ - static_cast<std::int64_t>(bytes.size())) {
            Fail(rat, kContentLimitText);
          }
          if (!unit.empty()) {
            for (std::int64_t k = 0; k < count; ++k) bytes += unit;
          }
        }
        if (static_cast<std::int64_t>(bytes.size()) > kMaxContentBytes - contentBytes_) {
          Fail(at, kContentLimitText);
        }
      }
    }
    contentBytes_ += static_cast<std::int64_t>(bytes.size());
    const bool inUse =
        description.contains("inUse") && GetBool(description["inUse"], Member(where, "inUse"));
    std::error_code error;
    std::filesystem::create_directories(host.parent_path(), error);
    if (error) Fail(where, "cannot create its folder in the drive folder: " + error.message());
    std::ofstream out(host, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) Fail(where, "cannot write the file to the drive folder");
    system_.AddFile(path, inUse);
    filePaths_.push_back(path);
  }
}

void ScenarioMachine::LoadRegistry(const Json& registry) {
  ExpectObject(registry, "registry");
  for (const auto& [key, values] : registry.items()) {
    const std::string where = Element("registry", key);
    if (key.empty()) Fail(where, "empty key path");
    ExpectObject(values, where);
    system_.AddKey(key);
    registryKeys_.push_back(key);
    for (const auto& [name, value] : values.items()) {
      const std::string at = Element(where, name);
      ExpectObject(value, at);
      CheckKeys(value, {"type", "data"}, at);
      if (!value.contains("type") || !value.contains("data"))
        Fail(at, "expected \"type\" and \"data\"");
      const std::string& type = GetString(value["type"], Member(at, "type"));
      const std::string dataAt = Member(at, "data");
      if (type == "REG_SZ") {
        system_.SetValue(key, name, RegistryValue::String(GetString(value["data"], dataAt)));
      } else if (type == "REG_EXPAND_SZ") {
        system_.SetValue(key, name, RegistryValue::ExpandString(GetString(value["data"], dataAt)));
      } else if (type == "REG_DWORD") {
        system_.SetValue(key, name,
                         RegistryValue::Dword(static_cast<std::uint32_t>(
                             GetInteger(value["data"], dataAt, 0, 0xFFFFFFFF))));
      } else if (type == "REG_BINARY") {
        system_.SetValue(key, name,
                         RegistryValue::Binary(ParseHex(GetString(value["data"], dataAt), dataAt)));
      } else if (type == "REG_MULTI_SZ") {
        const Json& texts = value["data"];
        ExpectArray(texts, dataAt);
        std::vector<std::string> list;
        for (std::size_t i = 0; i < texts.size(); ++i)
          list.push_back(GetString(texts[i], Index(dataAt, i)));
        system_.SetValue(key, name, RegistryValue::MultiString(list));
      } else {
        Fail(Member(at, "type"), Quote(type) +
                                     " is none of \"REG_SZ\", \"REG_EXPAND_SZ\", \"REG_DWORD\", "
                                     "\"REG_BINARY\", \"REG_MULTI_SZ\"");
      }
    }
  }
}

void ScenarioMachine::LoadServices(const Json& services) {
  ExpectObject(services, "services");
  for (const auto& [name, description] : services.items()) {
    const std::string where = Element("services", name);
    ExpectObject(description, where);
    CheckKeys(description,
              {"state", "onStop", "statesAfterStop", "startPendingQueries", "deleteError"}, where);
    ServiceScript script;
    if (description.contains("state"))
      script.state = ParseServiceState(description["state"], Member(where, "state"));
    if (description.contains("onStop")) {
      const std::string& onStop = GetString(description["onStop"], Member(where, "onStop"));
      if (onStop != "accept" && onStop != "refuse") {
        Fail(Member(where, "onStop"), Quote(onStop) + " is none of \"accept\", \"refuse\"");
      }
      script.acceptsStop = onStop == "accept";
    }
    if (description.contains("statesAfterStop")) {
      const Json& states = description["statesAfterStop"];
      const std::string at = Member(where, "statesAfterStop");
      ExpectArray(states, at);
      for (std::size_t i = 0; i < states.size(); ++i) {
        script.statesAfterStop.push_back(ParseServiceState(states[i], Index(at, i)));
      }
    }
    if (description.contains("startPendingQueries")) {
      script.startPendingQueries = static_cast<int>(GetInteger(
          description["startPendingQueries"], Member(where, "startPendingQueries"), 0, 1'000'000));
    }
    if (description.contains("deleteError")) {
      script.deleteError = static_cast<std::uint32_t>(
          GetInteger(description["deleteError"], Member(where, "deleteError"), 0, 0xFFFFFFFF));
    }
    system_.AddService(name, script);
  }
}

Json ScenarioMachine::State() const {
  Json state = Json::object();

  Json registry = Json::object();
  const auto snapshot = system_.RegistrySnapshot();
  std::vector<std::string> reported;
  for (const std::string& key : registryKeys_) {
    const bool seen = std::any_of(reported.begin(), reported.end(),
                                  [&](const std::string& k) { return EqualsIgnoringCase(k, key); });
    if (seen || !system_.KeyExists(key)) continue;
    reported.push_back(key);
    Json values = Json::object();
    for (const auto& [path, byName] : snapshot) {
      if (!EqualsIgnoringCase(path, key)) continue;
      std::vector<std::string> names;
      for (const auto& [name, value] : byName) names.push_back(name);
      std::sort(names.begin(), names.end(), LessIgnoringCase);
      for (const std::string& name : names) values[name] = ValueJson(byName.at(name));
    }
    registry[key] = values;
  }
  state["registry"] = registry;

  std::vector<std::string> existing;
  for (const std::string& path : filePaths_) {
    if (system_.FileExists(path)) existing.push_back(path);
  }
  std::sort(existing.begin(), existing.end(), LessIgnoringCase);
  state["files"] = existing;
  state["deleteAtRestart"] = system_.PendingDeletions();

  Json services = Json::object();
  for (const std::string& name : system_.ServiceNames()) {
    Json service = Json::object();
    const std::optional<ServiceState> serviceState = system_.CurrentServiceState(name);
    service["state"] = serviceState ? static_cast<int>(*serviceState) : 0;
    service["markedForDeletion"] = system_.ServiceMarkedForDeletion(name);
    services[name] = service;
  }
  state["services"] = services;
  return state;
}

}  // namespace lk::lksim
