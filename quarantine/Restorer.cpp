#include "analysis/Restorer.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "analysis/AnalysisTexts.h"
#include "analysis/ControlSets.h"
#include "analysis/QuarantineFormat.h"
#include "base/TextCase.h"
#include "base/WindowsPath.h"
#include "system/Sha256.h"

namespace lk {

namespace qf = quarantine_format;
using qf::Json;

namespace {

constexpr std::size_t kBlock = 64 * 1024;
// Deeper nesting than any valid manifest has (a service tree of kMaxTreeDepth levels needs about
// twice that) is refused before it is parsed.
constexpr int kMaxJsonNesting = 4 * qf::kMaxTreeDepth + 16;
// What one restore reads of its records in all, whatever the folder holds (records linked many
// times over included), and how many JSON elements it parses in all: a parsed element takes
// tens of bytes, so the text cap alone would not bound the memory.
constexpr std::int64_t kMaxRunBytes = 256 * 1024 * 1024;
constexpr std::size_t kMaxRunElements = 2 * 1024 * 1024;

struct FileItem {
  std::string path;
  std::string copy;
  std::int64_t size = 0;
  std::string sha256;
  std::uint32_t attributes = 0;
  std::int64_t creationTime = 0;
  std::int64_t lastAccessTime = 0;
  std::int64_t lastWriteTime = 0;
};

struct ValueItem {
  std::string key;
  RegistryView view = RegistryView::Default;
  std::string name;
  qf::KeptValue value;
};

struct TreeNode {
  std::string name;
  std::vector<std::pair<std::string, qf::KeptValue>> values;
  std::vector<TreeNode> subkeys;
};

struct ServiceItem {
  std::string name;
  std::string key;
  // The control set the key was kept from when it is not the current one ("ControlSet002"):
  // there it is a key like any other, unknown to the service manager.
  std::string otherControlSet;
  TreeNode tree;
};

// What a removal can have kept, and so all that a restore accepts: the trojan's two files in the
// system folders, the AppInit_DLLs value of either view, the service's key in any control set,
// and whole hive files.
class KeptPlaces {
 public:
  explicit KeptPlaces(SystemAccess& system) {
    const std::string systemFolder = system.QuerySystemDirectory();
    if (systemFolder.empty()) return;
    const std::string library(names::kLibraryFile);
    files_.push_back(FoldedAscii(JoinPath(systemFolder, library)));
    files_.push_back(FoldedAscii(
        JoinPath(JoinPath(systemFolder, names::kDriversSubdirectory), names::kDriverFile)));
    files_.push_back(FoldedAscii(
        JoinPath(JoinPath(std::string(ParentPath(systemFolder)), "SysWOW64"), library)));
    const std::string config = JoinPath(systemFolder, "config");
    for (const char* hive : {"SYSTEM", "SOFTWARE"}) {
      const std::string path = JoinPath(config, hive);
      backups_.push_back(FoldedAscii(path));
      // A hive's transaction logs are part of it: a dirty hive is kept with them.
      backups_.push_back(FoldedAscii(path + ".LOG"));
      backups_.push_back(FoldedAscii(path + ".LOG1"));
      backups_.push_back(FoldedAscii(path + ".LOG2"));
    }
  }

  [[nodiscard]] bool File(std::string_view path) const { return Listed(files_, path); }
  [[nodiscard]] bool Backup(std::string_view path) const { return Listed(backups_, path); }
  [[nodiscard]] static bool Value(std::string_view key, std::string_view name) {
    return EqualsIgnoringAsciiCase(key, names::kWindowsKey) &&
           EqualsIgnoringAsciiCase(name, names::kAppInitValue);
  }
  // The control set of a service key: "" for CurrentControlSet; no value for any other key.
  [[nodiscard]] static std::optional<std::string> ServiceSet(std::string_view key) {
    const std::string_view head = "SYSTEM\\";
    const std::string tail = "\\Services\\" + std::string(names::kServiceName);
    if (key.size() <= head.size() + tail.size() || !StartsWithIgnoringAsciiCase(key, head) ||
        !EqualsIgnoringAsciiCase(key.substr(key.size() - tail.size()), tail)) {
      return std::nullopt;
    }
    const std::string_view set = key.substr(head.size(), key.size() - head.size() - tail.size());
    if (EqualsIgnoringAsciiCase(set, "CurrentControlSet")) return std::string();
    if (IsControlSetName(set)) return std::string(set);
    return std::nullopt;
  }

 private:
  static bool Listed(const std::vector<std::string>& list, std::string_view path) {
    return std::find(list.begin(), list.end(), FoldedAscii(path)) != list.end();
  }
  std::vector<std::string> files_;
  std::vector<std::string> backups_;
};

struct Plan {
  std::vector<FileItem> files;
  std::vector<FileItem> backups;  // whole hive files and, for a reconciled hive, its logs
  std::vector<ValueItem> values;
  std::vector<ServiceItem> services;
};

// Raised while reading the records: the run is not valid. Caught in Run, never beyond.
struct InvalidRecord {
  std::string reason;
};

[[noreturn]] void Invalid(std::string reason) { throw InvalidRecord{std::move(reason)}; }

bool HasBadCharacter(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20) return true;
  }
  return false;
}

// An absolute path with a drive letter, each component a plain name: no "." or "..", no empty
// component, nothing Windows forbids in a name.
bool IsPlainWindowsPath(std::string_view path) {
  if (path.size() < 4 || path.size() > qf::kMaxNameBytes || HasBadCharacter(path)) return false;
  const char letter = FoldAscii(path[0]);
  if (letter < 'a' || letter > 'z' || path[1] != ':' || path[2] != '\\') return false;
  std::string_view rest = path.substr(3);
  while (true) {
    const std::size_t end = rest.find('\\');
    const std::string_view component = rest.substr(0, end);
    if (component.empty() || component == "." || component == ".." ||
        component.find_first_of("/<>:\"|?*") != std::string_view::npos) {
      return false;
    }
    if (end == std::string_view::npos) return true;
    rest.remove_prefix(end + 1);
  }
}

// A registry key path below HKEY_LOCAL_MACHINE: non-empty components, none "." or "..".
bool IsPlainKeyPath(std::string_view key) {
  if (key.empty() || key.size() > qf::kMaxNameBytes || HasBadCharacter(key)) return false;
  while (true) {
    const std::size_t end = key.find('\\');
    const std::string_view component = key.substr(0, end);
    if (component.empty() || component == "." || component == "..") return false;
    if (end == std::string_view::npos) return true;
    key.remove_prefix(end + 1);
  }
}

// The deepest nesting of arrays and objects, counted before parsing so that a hostile file
// cannot make anything recurse deeply.
int JsonNesting(std::string_view text) {
  int depth = 0;
  int deepest = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

const Json& Field(const Json& record, const char* name) {
  const auto it = record.find(name);
  if (it == record.end()) Invalid(std::string("Feld \"") + name + "\" fehlt");
  return *it;
}

std::string Text(const Json& record, const char* name, std::size_t maxBytes = qf::kMaxNameBytes) {
  const Json& field = Field(record, name);
  if (!field.is_string() || field.get_ref<const std::string&>().size() > maxBytes) {
    Invalid(std::string("Feld \"") + name + "\" ist kein Text passender Länge");
  }
  return field.get<std::string>();
}

std::int64_t Number(const Json& record, const char* name, std::int64_t max) {
  const Json& field = Field(record, name);
  if (!field.is_number_integer() ||
      (field.is_number_unsigned() &&
       field.get<std::uint64_t>() > static_cast<std::uint64_t>(max))) {
    Invalid(std::string("Feld \"") + name + "\" ist keine passende Zahl");
  }
  const auto value = field.get<std::int64_t>();
  if (value < 0 || value > max) Invalid(std::string("Feld \"") + name + "\" liegt außerhalb");
  return value;
}

qf::KeptValue Value(const Json& record) {
  std::string error;
  std::optional<qf::KeptValue> value = qf::GetValue(record, &error);
  if (!value) Invalid(error);
  return std::move(*value);
}

bool IsCopyName(std::string_view name) {
  if (name.size() < 8 || name.size() > 10 || name.substr(name.size() - 4) != ".lkq") return false;
  for (const char c : name.substr(0, name.size() - 4)) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool IsSha256(std::string_view text) {
  if (text.size() != 64) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

struct TreeBudget {
  std::size_t keys = 0;
  std::size_t values = 0;
  std::size_t bytes = 0;
};

TreeNode Tree(const Json& node, int depth, TreeBudget& budget) {
  if (!node.is_object()) Invalid("Dienstschlüssel ist kein Objekt");
  if (depth > qf::kMaxTreeDepth || ++budget.keys > qf::kMaxTreeKeys) {
    Invalid("Dienstschlüssel zu tief oder zu groß");
  }
  TreeNode tree;
  const Json& values = Field(node, "values");
  const Json& subkeys = Field(node, "subkeys");
  if (!values.is_array() || !subkeys.is_array())
    Invalid("Werte oder Unterschlüssel sind keine Liste");
  for (const Json& entry : values) {
    if (!entry.is_object()) Invalid("Wert ist kein Objekt");
    std::string name = Text(entry, "name");
    if (HasBadCharacter(name)) Invalid("Wertname mit Steuerzeichen");
    qf::KeptValue value = Value(entry);
    budget.bytes += value.stored ? value.stored->bytes.size() : value.value.data.size();
    if (++budget.values > qf::kMaxTreeValues || budget.bytes > qf::kMaxTreeBytes) {
      Invalid("Dienstschlüssel zu groß");
    }
    tree.values.emplace_back(std::move(name), std::move(value));
  }
  for (const Json& entry : subkeys) {
    if (!entry.is_object()) Invalid("Unterschlüssel ist kein Objekt");
    std::string name = Text(entry, "name", 255);
    if (name.empty() || name.find('\\') != std::string::npos || name == "." || name == ".." ||
        HasBadCharacter(name)) {
      Invalid("ungültiger Name eines Unterschlüssels");
    }
    TreeNode child = Tree(entry, depth + 1, budget);
    child.name = std::move(name);
    tree.subkeys.push_back(std::move(child));
  }
  return tree;
}

void AddItem(const Json& item, const KeptPlaces& places, Plan& plan) {
  if (!item.is_object()) Invalid("Eintrag ist kein Objekt");
  const std::string kind = Text(item, "kind", 32);
  if (kind == "file" || kind == "backup") {
    FileItem file;
    file.path = Text(item, "path");
    if (!IsPlainWindowsPath(file.path)) Invalid("ungültiger Pfad: " + file.path);
    if (kind == "file" && !places.File(file.path)) {
      Invalid("eine Entfernung hält " + file.path + " nie fest; zurückgelegt wird es nicht");
    }
    if (kind == "backup" && !places.Backup(file.path)) {
      Invalid("eine Entfernung hält " + file.path + " nie als ganze Datei fest");
    }
    file.copy = Text(item, "copy", 16);
    if (!IsCopyName(file.copy)) Invalid("ungültiger Name der Kopie");
    file.size = Number(item, "size", std::int64_t{1} << 53);
    file.sha256 = Text(item, "sha256", 64);
    if (!IsSha256(file.sha256)) Invalid("ungültige SHA-256");
    file.attributes = static_cast<std::uint32_t>(Number(item, "attributes", 0xFFFFFFFF));
    constexpr std::int64_t kMaxTime = INT64_MAX;
    file.creationTime = Number(item, "creation_time", kMaxTime);
    file.lastAccessTime = Number(item, "last_access_time", kMaxTime);
    file.lastWriteTime = Number(item, "last_write_time", kMaxTime);
    // A whole hive as it was before an offline removal. On its own it is for a person to fall
    // back on (the value and service records undo the removal); see ReconciledHives.
    (kind == "file" ? plan.files : plan.backups).push_back(std::move(file));
  } else if (kind == "registry-value") {
    ValueItem value;
    value.key = Text(item, "key");
    if (!IsPlainKeyPath(value.key)) Invalid("ungültiger Schlüssel: " + value.key);
    const auto view = qf::ViewFromName(Text(item, "view", 16));
    if (!view) Invalid("ungültige Registrierungsansicht");
    value.view = *view;
    value.name = Text(item, "name");
    if (HasBadCharacter(value.name)) Invalid("Wertname mit Steuerzeichen");
    if (!KeptPlaces::Value(value.key, value.name)) {
      Invalid("eine Entfernung hält HKLM\\" + value.key + "\\" + value.name +
              " nie fest; zurückgelegt wird es nicht");
    }
    value.value = Value(item);
    plan.values.push_back(std::move(value));
  } else if (kind == "service") {
    ServiceItem service;
    service.name = Text(item, "name", 256);
    if (service.name.empty() || service.name.find('\\') != std::string::npos ||
        service.name == "." || service.name == ".." || HasBadCharacter(service.name)) {
      Invalid("ungültiger Dienstname");
    }
    if (!EqualsIgnoringAsciiCase(service.name, names::kServiceName)) {
      Invalid("eine Entfernung hält den Dienst " + service.name + " nie fest");
    }
    service.key = Text(item, "key");
    // Only the service's own key: a record cannot name another place in the registry.
    const std::optional<std::string> set = KeptPlaces::ServiceSet(service.key);
    if (!set) Invalid("der Schlüssel passt nicht zum Dienst");
    service.otherControlSet = *set;
    TreeBudget budget;
    service.tree = Tree(Field(item, "tree"), 0, budget);
    plan.services.push_back(std::move(service));
  } else {
    Invalid("unbekannte Art des Eintrags: " + kind);
  }
}

// The whole content of a small file; 0, or the file layer's error (kReadFault when too big).
std::uint32_t ReadSmallFile(FileSystem& files, const std::string& path, std::int64_t limit,
                            std::string& content) {
  std::uint32_t error = 0;
  std::unique_ptr<ReadableFile> file = files.OpenForReading(path, FileShare::Read, &error);
  if (!file) return error != 0 ? error : file_error::kReadFault;
  const std::int64_t size = file->Size();
  if (size < 0 || size > limit) return file_error::kReadFault;
  content.assign(static_cast<std::size_t>(size), '\0');
  const ReadResult read = file->ReadAt(0, content.data(), content.size());
  if (!read.Ok()) return read.error;
  content.resize(read.bytes);
  return 0;
}

// What the whole restore may still read and parse.
struct RunBudget {
  std::int64_t bytes = kMaxRunBytes;
  std::size_t elements = kMaxRunElements;

  void Take(std::int64_t size) {
    if (size > bytes) Invalid("die Einträge des Laufs sind zusammen zu groß");
    bytes -= size;
  }
};

// The size of a file, or -1 when it cannot be opened (0 when it is missing).
std::int64_t SizeOf(FileSystem& files, const std::string& path, bool* missing) {
  std::uint32_t error = 0;
  const std::unique_ptr<ReadableFile> file = files.OpenForReading(path, FileShare::Read, &error);
  *missing = !file && error == file_error::kFileNotFound;
  if (!file) return *missing ? 0 : -1;
  return file->Size();
}

// Refuses, before anything is parsed, a run whose files together hold more than a restore reads:
// a folder of records linked many times over costs only the look at their sizes.
void CheckRunSize(FileSystem& files, const std::string& folder) {
  bool missing = false;
  std::int64_t total =
      std::max<std::int64_t>(0, SizeOf(files, JoinPath(folder, qf::kManifestName), &missing));
  for (std::size_t number = 1; number <= qf::kMaxItems; ++number) {
    const std::int64_t size = SizeOf(files, JoinPath(folder, qf::RecordName(number)), &missing);
    if (missing) break;
    total += std::max<std::int64_t>(0, std::min(size, qf::kMaxRecordBytes + 1));
    if (total > kMaxRunBytes) Invalid("die Einträge des Laufs sind zusammen zu groß");
  }
}

std::optional<Json> ParseJson(const std::string& text, RunBudget& budget) {
  if (JsonNesting(text) > kMaxJsonNesting) return std::nullopt;
  const Json::parser_callback_t count = [&budget](int, Json::parse_event_t event, Json&) {
    if (event == Json::parse_event_t::value || event == Json::parse_event_t::object_start ||
        event == Json::parse_event_t::array_start) {
      if (budget.elements == 0) Invalid("die Einträge des Laufs haben zusammen zu viele Teile");
      --budget.elements;
    }
    return true;
  };
  Json parsed = Json::parse(text, count, false);
  if (parsed.is_discarded()) return std::nullopt;
  return parsed;
}

std::string ErrorText(std::uint32_t code) { return "Fehler " + std::to_string(code); }

// Writes the value back in the form it was kept in: its exact bytes where the text would not give
// them.
bool WriteKept(RegistryConnection& registry, const std::string& name, const qf::KeptValue& kept) {
  return kept.stored ? registry.WriteStoredValue(name, *kept.stored)
                     : registry.WriteValue(name, kept.value);
}

std::uint32_t DwordOf(const TreeNode& tree, std::string_view name, std::uint32_t fallback) {
  for (const auto& [valueName, kept] : tree.values) {
    const RegistryValue& seam = kept.value;
    if (!kept.stored && FoldedAscii(valueName) == FoldedAscii(name) &&
        seam.type == RegistryValueType::Dword && seam.data.size() == 4) {
      std::uint32_t number = 0;
      for (int i = 3; i >= 0; --i) {
        number = (number << 8) | static_cast<unsigned char>(seam.data[static_cast<std::size_t>(i)]);
      }
      return number;
    }
  }
  return fallback;
}

std::string TextOf(const TreeNode& tree, std::string_view name) {
  for (const auto& [valueName, kept] : tree.values) {
    if (FoldedAscii(valueName) == FoldedAscii(name) && !kept.stored &&
        (kept.value.type == RegistryValueType::Sz ||
         kept.value.type == RegistryValueType::ExpandSz)) {
      return kept.value.data.substr(0, kept.value.data.find('\0'));
    }
  }
  return {};
}

// The run's records: manifest.json's items, then the records written after its last rewrite; the
// records alone where manifest.json is missing or cut short. Each one is checked as soon as it is
// read, and only its checked form is kept.
Plan ReadPlan(FileSystem& files, const std::string& folder, const KeptPlaces& places,
              std::vector<ScanNote>& notes) {
  CheckRunSize(files, folder);
  Plan plan;
  RunBudget budget;
  std::size_t count = 0;
  std::string text;
  const std::string manifestPath = JoinPath(folder, qf::kManifestName);
  const std::uint32_t manifestError =
      ReadSmallFile(files, manifestPath, qf::kMaxManifestBytes, text);
  std::optional<Json> manifest;
  bool haveManifest = false;
  if (manifestError == 0) {
    budget.Take(static_cast<std::int64_t>(text.size()));
    manifest = ParseJson(text, budget);
  }
  if (manifest) {
    if (!manifest->is_object()) Invalid("manifest.json ist kein Objekt");
    if (Text(*manifest, "format", 64) != qf::kFormat ||
        Number(*manifest, "format_version", 1000) != qf::kFormatVersion) {
      Invalid("manifest.json hat ein unbekanntes Format");
    }
    const Json& listed = Field(*manifest, "items");
    if (!listed.is_array() || listed.size() > qf::kMaxItems)
      Invalid("\"items\" ist keine Liste passender Länge");
    for (const Json& item : listed) AddItem(item, places, plan);
    count = listed.size();
    haveManifest = true;
    manifest.reset();
  } else if (manifestError != 0 && manifestError != file_error::kFileNotFound) {
    Invalid("manifest.json kann nicht gelesen werden (" + ErrorText(manifestError) + ")");
  }
  const std::size_t listedCount = count;
  for (std::size_t number = count + 1; number <= qf::kMaxItems; ++number) {
    const std::uint32_t error =
        ReadSmallFile(files, JoinPath(folder, qf::RecordName(number)), qf::kMaxRecordBytes, text);
    if (error == file_error::kFileNotFound) break;
    if (error != 0)
      Invalid(qf::RecordName(number) + " kann nicht gelesen werden (" + ErrorText(error) + ")");
    budget.Take(static_cast<std::int64_t>(text.size()));
    std::optional<Json> record = ParseJson(text, budget);
    if (!record) Invalid(qf::RecordName(number) + " ist kein gültiges JSON");
    AddItem(*record, places, plan);
    ++count;
  }
  if (!haveManifest && count == 0) {
    Invalid(manifestError == file_error::kFileNotFound
                ? "manifest.json fehlt: hier liegt kein Lauf einer Quarantäne"
                : "manifest.json ist kein gültiges JSON");
  }
  if (!haveManifest) {
    notes.push_back({"restore",
                     "manifest.json fehlt oder ist unvollständig; die Einträge werden "
                     "aus den einzelnen Dateien des Laufs gelesen."});
  } else if (count > listedCount) {
    notes.push_back({"restore",
                     "manifest.json nennt nicht alle Einträge; die übrigen werden aus "
                     "den einzelnen Dateien des Laufs gelesen."});
  }
  return plan;
}

// A hive whose logs were kept with it was reconciled by the removal: the replayed hive became
// the primary. Only the primary and the logs as they were give back the data that was only in
// the logs, so such a hive comes back whole, and the records of its values and keys with it.
struct HiveSet {
  std::string hiveName;         // "SYSTEM", as keys name the hive
  std::vector<FileItem> files;  // the logs first, the primary last
};

std::vector<HiveSet> ReconciledHives(const std::vector<FileItem>& backups) {
  std::vector<HiveSet> sets;
  for (const FileItem& primary : backups) {
    HiveSet set;
    for (const FileItem& log : backups) {
      for (const char* suffix : {".LOG", ".LOG1", ".LOG2"}) {
        if (EqualsIgnoringAsciiCase(log.path, primary.path + suffix)) set.files.push_back(log);
      }
    }
    if (set.files.empty()) continue;
    set.files.push_back(primary);
    set.hiveName = primary.path.substr(primary.path.rfind('\\') + 1);
    sets.push_back(std::move(set));
  }
  return sets;
}

// The hive a key of a record lives in ("SOFTWARE\\..." is in SOFTWARE).
std::string HiveOfKey(std::string_view key) { return std::string(key.substr(0, key.find('\\'))); }

bool InSets(const std::vector<HiveSet>& sets, std::string_view hiveName) {
  return std::any_of(sets.begin(), sets.end(), [&](const HiveSet& set) {
    return EqualsIgnoringAsciiCase(set.hiveName, hiveName);
  });
}

class Restoration {
 public:
  Restoration(SystemAccess& system, FileSystem& files, FileStore& store, ScanReport& report,
              std::string folder)
      : system_(system),
        files_(files),
        store_(store),
        report_(report),
        folder_(std::move(folder)) {}

  void RestoreFile(const FileItem& item) {
    const FileDigest present = DigestFile(files_, item.path);
    if (present.Ok() && present.sha256 != item.sha256) {
      Act("restore-file", item.path, false,
          "Am Ort liegt eine andere Datei; sie wird nicht überschrieben.");
      return;
    }
    if (!present.Ok() && present.error != file_error::kFileNotFound) {
      Act("restore-file", item.path, false,
          "Die Datei am Ort kann nicht gelesen werden (" + ErrorText(present.error) + ").");
      return;
    }
    if (present.Ok()) {
      Act("restore-file", item.path, true, {});
    } else if (std::string error = WriteBack(item); !error.empty()) {
      Act("restore-file", item.path, false, error);
      return;
    } else {
      Act("restore-file", item.path, true, {});
    }
    if (system_.CancelDeleteAtRestart(item.path)) {
      Act("withdraw-delete-at-restart", item.path, true, {});
    } else if (const std::uint32_t error = system_.LastSystemError();
               error != win_error::kFileNotFound) {
      Act("withdraw-delete-at-restart", item.path, false,
          "Die Löschung beim Neustart kann nicht zurückgenommen werden (" + ErrorText(error) +
              ").");
    }
  }

  // Every copy is checked before the first file is replaced: a set that cannot come back whole
  // is not touched. The logs go back before the primary: until the primary is back, the clean
  // reconciled primary makes Windows ignore them.
  void RestoreHive(const HiveSet& set) {
    for (const FileItem& item : set.files) {
      if (std::string error = CheckCopy(item); !error.empty()) {
        for (const FileItem& each : set.files) {
          Act("restore-file", each.path, false,
              "Die Registrierungsdatei wird nicht zurückgelegt: " + item.path + ": " + error);
        }
        return;
      }
    }
    for (const FileItem& item : set.files) {
      const std::uint32_t removed = store_.DeleteFile(item.path);
      std::string error;
      if (removed != 0 && removed != file_error::kFileNotFound) {
        error = "Die Datei am Ort kann nicht ersetzt werden (" + ErrorText(removed) + ").";
      } else {
        error = WriteBack(item);
      }
      Act("restore-file", item.path, error.empty(), error);
    }
    report_.Note({"restore", "Die Registrierungsdatei " + set.files.back().path +
                                 " ist mit ihren Transaktionsprotokollen so zurückgelegt, wie "
                                 "sie vor der Entfernung war; ihre Werte und Schlüssel sind "
                                 "darin enthalten."});
  }

  void RestoreValue(const ValueItem& item) {
    const std::string target = "HKLM\\" + item.key + "\\" + item.name;
    std::unique_ptr<RegistryConnection> registry = system_.ConnectRegistry(item.view);
    if (!registry ||
        (!registry->OpenMachineKeyReadWrite(item.key) && !registry->CreateMachineKey(item.key))) {
      Act("restore-registry", target, false,
          "Der Schlüssel kann nicht geöffnet werden (" + ErrorText(system_.LastSystemError()) +
              ").");
      return;
    }
    if (!WriteKept(*registry, item.name, item.value)) {
      Act("restore-registry", target, false,
          "Der Wert kann nicht geschrieben werden (" + ErrorText(system_.LastSystemError()) + ").");
      return;
    }
    Act("restore-registry", target, true, {});
  }

  void RestoreService(const ServiceItem& item) {
    const std::string target = "HKLM\\" + item.key;
    if (!item.otherControlSet.empty()) {
      // A set Windows does not run from now: the service manager knows nothing of it.
      std::unique_ptr<RegistryConnection> registry = system_.ConnectRegistry(RegistryView::Native);
      std::string error;
      if (!registry || !WriteTree(*registry, item.key, item.tree, &error)) {
        Act("restore-service", target, false,
            error.empty() ? "Die Registrierung ist nicht erreichbar." : error);
        return;
      }
      Act("restore-service", target, true, {});
      return;
    }
    ScopedServiceObject manager(system_, system_.OpenServiceManager());
    if (!manager) {
      Act("restore-service", target, false,
          "Die Dienststeuerung ist nicht erreichbar (" + ErrorText(system_.LastSystemError()) +
              ").");
      return;
    }
    // Registered anew even where the service manager still knows the service: only the refusal
    // tells a service that exists (1073) from one that is still marked for deletion (1072).
    ServiceDefinition definition;
    definition.name = item.name;
    definition.displayName = TextOf(item.tree, "DisplayName");
    definition.type = DwordOf(item.tree, "Type", definition.type);
    definition.start = DwordOf(item.tree, "Start", definition.start);
    definition.errorControl = DwordOf(item.tree, "ErrorControl", definition.errorControl);
    definition.imagePath = TextOf(item.tree, "ImagePath");
    bool marked = false;
    ScopedServiceObject service(system_, system_.CreateServiceEntry(manager.Get(), definition));
    if (!service) {
      const std::uint32_t error = system_.LastSystemError();
      if (error == win_error::kServiceMarkedForDelete) {
        marked = true;
      } else if (error != win_error::kServiceExists) {
        Act("restore-service", target, false,
            "Der Dienst kann nicht angemeldet werden (" + ErrorText(error) + ").");
        return;
      }
    }
    service.Close();
    manager.Close();
    std::unique_ptr<RegistryConnection> registry = system_.ConnectRegistry(RegistryView::Native);
    std::string error;
    if (!registry || !WriteTree(*registry, item.key, item.tree, &error)) {
      Act("restore-service", target, false,
          error.empty() ? "Die Registrierung ist nicht erreichbar." : error);
      return;
    }
    if (marked) {
      // The service manager marks the key of a deleted service and removes such a key at the
      // next start: take the mark away so that the key written back stays.
      static_cast<void>(registry->OpenMachineKeyReadWrite(item.key) &&
                        registry->DeleteValue("DeleteFlag"));
      restartRequired_ = true;
      report_.Note({"restart", "Der Dienst " + item.name +
                                   " ist noch zum Löschen vorgemerkt; sein Schlüssel ist zurück, "
                                   "angemeldet ist er erst nach einem Neustart wieder."});
    }
    Act("restore-service", target, true, {});
  }

  [[nodiscard]] bool AllRestored() const noexcept { return allRestored_; }
  [[nodiscard]] bool RestartRequired() const noexcept { return restartRequired_; }

 private:
  void Act(const char* action, const std::string& target, bool ok, std::string error) {
    if (!ok) allRestored_ = false;
    ScanAction record{action, target, ok, std::nullopt};
    if (!error.empty()) record.error = std::move(error);
    report_.Action(record);
  }

  // A copy longer than recorded: the walk stops there (no Windows code means this).
  static constexpr std::uint32_t kTooLong = 0xFFFFFFFFU;

  // Writes the kept copy back untransformed as a new file; the reason it failed, else empty.
  // Whether the kept copy is whole (its size and SHA-256 as recorded); the reason, else empty.
  std::string CheckCopy(const FileItem& item) {
    std::uint32_t code = 0;
    const std::string copyPath = JoinPath(folder_, item.copy);
    std::unique_ptr<ReadableFile> copy = files_.OpenForReading(copyPath, FileShare::Read, &code);
    if (!copy)
      return "Die Kopie " + copyPath + " kann nicht gelesen werden (" + ErrorText(code) + ").";
    Sha256 hash;
    std::string buffer(kBlock, '\0');
    std::int64_t offset = 0;
    while (offset <= item.size) {
      const ReadResult read = copy->ReadAt(offset, buffer.data(), buffer.size());
      if (!read.Ok()) return "Die Kopie kann nicht gelesen werden (" + ErrorText(read.error) + ").";
      if (read.bytes == 0) break;
      qf::Transform(buffer.data(), read.bytes, offset);
      hash.Update(buffer.data(), read.bytes);
      offset += static_cast<std::int64_t>(read.bytes);
    }
    if (offset != item.size || Sha256::Hex(hash.Finish()) != item.sha256) {
      return "Die Kopie in der Quarantäne ist beschädigt: ihre SHA-256 stimmt nicht.";
    }
    return {};
  }

  std::string WriteBack(const FileItem& item) {
    std::uint32_t code = 0;
    const std::string copyPath = JoinPath(folder_, item.copy);
    std::unique_ptr<ReadableFile> copy = files_.OpenForReading(copyPath, FileShare::Read, &code);
    if (!copy)
      return "Die Kopie " + copyPath + " kann nicht gelesen werden (" + ErrorText(code) + ").";
    // The copy is checked whole before anything is written into the target: a copy that is not
    // the one recorded never reaches the installation, not even for a moment.
    {
      Sha256 check;
      std::int64_t at = 0;
      const std::uint32_t error = qf::ReadOriginal(
          *copy, kBlock,
          [&](std::int64_t offset, const char* data, std::int64_t length) -> std::uint32_t {
            if (offset + length > item.size) return kTooLong;
            if (data == nullptr) {
              HashZeros(check, length);
            } else {
              check.Update(data, static_cast<std::size_t>(length));
            }
            return 0;
          },
          &at);
      if (error != 0 && error != kTooLong) {
        return "Die Kopie kann nicht gelesen werden (" + ErrorText(error) + ").";
      }
      if (error == kTooLong || at != item.size || Sha256::Hex(check.Finish()) != item.sha256) {
        return "Die Kopie in der Quarantäne ist beschädigt: ihre SHA-256 stimmt nicht.";
      }
    }
    std::unique_ptr<WritableFile> file = store_.CreateNewFile(item.path, &code);
    if (!file) return "Die Datei kann nicht angelegt werden (" + ErrorText(code) + ").";
    const auto fail = [&](std::string why) {
      file.reset();
      static_cast<void>(store_.DeleteFile(item.path));
      return why;
    };
    Sha256 hash;
    std::int64_t offset = 0;
    std::uint32_t writeError = 0;
    const std::uint32_t readError = qf::ReadOriginal(
        *copy, kBlock,
        [&](std::int64_t at, const char* data, std::int64_t length) -> std::uint32_t {
          if (at + length > item.size) return kTooLong;
          if (data == nullptr) {
            HashZeros(hash, length);
            writeError = file->WriteHole(length);
            if (writeError != 50) return writeError;
            const std::string zeros(static_cast<std::size_t>(std::min<std::int64_t>(
                                        length, static_cast<std::int64_t>(kBlock))),
                                    '\0');
            for (std::int64_t done = 0; done < length;) {
              const auto chunk = static_cast<std::size_t>(
                  std::min<std::int64_t>(length - done, static_cast<std::int64_t>(zeros.size())));
              if ((writeError = file->Write(zeros.data(), chunk)) != 0) return writeError;
              done += static_cast<std::int64_t>(chunk);
            }
            return 0;
          }
          hash.Update(data, static_cast<std::size_t>(length));
          writeError = file->Write(data, static_cast<std::size_t>(length));
          return writeError;
        },
        &offset);
    if (writeError != 0) {
      return fail("Die Datei kann nicht geschrieben werden (" + ErrorText(writeError) + ").");
    }
    if (readError == kTooLong) {
      return fail("Die Kopie in der Quarantäne ist beschädigt: ihre SHA-256 stimmt nicht.");
    }
    if (readError != 0) {
      return fail("Die Kopie kann nicht gelesen werden (" + ErrorText(readError) + ").");
    }
    if (const std::uint32_t finished = file->Finish(); finished != 0) {
      return fail("Die Datei kann nicht geschrieben werden (" + ErrorText(finished) + ").");
    }
    if (offset != item.size || Sha256::Hex(hash.Finish()) != item.sha256) {
      return fail("Die Kopie in der Quarantäne ist beschädigt: ihre SHA-256 stimmt nicht.");
    }
    if (const std::uint32_t error = store_.SetFileMetadata(
            item.path, item.attributes, item.creationTime, item.lastAccessTime, item.lastWriteTime);
        error != 0) {
      return "Der Inhalt ist zurück, Attribute und Zeiten aber nicht (" + ErrorText(error) + ").";
    }
    return {};
  }

  // Makes the key exactly the kept tree: what the service manager (or anyone) added beside the
  // kept values and subkeys goes, so the registry holds what it held before the removal.
  bool WriteTree(RegistryConnection& registry, const std::string& key, const TreeNode& tree,
                 std::string* error) {
    const auto fail = [&](const std::string& what) {
      *error = what + " (" + ErrorText(system_.LastSystemError()) + ").";
      return false;
    };
    if (!registry.CreateMachineKey(key)) {
      return fail("Der Schlüssel " + key + " kann nicht angelegt werden");
    }
    const std::optional<std::vector<std::string>> valueNames = registry.ValueNames();
    const std::optional<std::vector<std::string>> subKeyNames = registry.SubKeyNames();
    if (!valueNames || !subKeyNames)
      return fail("Der Schlüssel " + key + " kann nicht aufgezählt werden");
    for (const std::string& name : *valueNames) {
      const bool kept = std::any_of(tree.values.begin(), tree.values.end(), [&](const auto& value) {
        return EqualsIgnoringAsciiCase(value.first, name);
      });
      if (!kept && !registry.DeleteValue(name)) {
        return fail("Der Wert " + name + " in " + key + " kann nicht gelöscht werden");
      }
    }
    for (const auto& [name, value] : tree.values) {
      if (!WriteKept(registry, name, value)) {
        return fail("Der Wert " + name + " in " + key + " kann nicht geschrieben werden");
      }
    }
    for (const std::string& name : *subKeyNames) {
      const bool kept =
          std::any_of(tree.subkeys.begin(), tree.subkeys.end(),
                      [&](const auto& child) { return EqualsIgnoringAsciiCase(child.name, name); });
      if (!kept && !registry.DeleteSubKeyTree(name)) {
        return fail("Der Unterschlüssel " + name + " von " + key + " kann nicht gelöscht werden");
      }
    }
    for (const TreeNode& child : tree.subkeys) {
      if (!WriteTree(registry, key + "\\" + child.name, child, error)) return false;
    }
    return true;
  }

  SystemAccess& system_;
  FileSystem& files_;
  FileStore& store_;
  ScanReport& report_;
  std::string folder_;
  bool allRestored_ = true;
  bool restartRequired_ = false;
};

}  // namespace

int Restorer::Run(std::string_view runFolder) {
  std::string folder(runFolder);
  while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  ScanSummary summary;
  summary.restore = true;
  summary.quarantine = folder;
  summary.exitCode = kIncomplete;

  // The paths were kept as the scan saw them, with the redirection off on 64-bit Windows.
  ScopedFsRedirection redirection(system_);
  redirection.DisableIf(system_.RunningUnderWow64());

  Plan plan;
  std::vector<ScanNote> notes;
  try {
    // What the folder describes is written back with the rights of an administrator: a folder
    // that someone else may change, or that a link leads to, could describe anything.
    if (const FolderTrust trust = store_.CheckPrivateDirectory(folder);
        trust != FolderTrust::Private && trust != FolderTrust::Missing) {
      throw InvalidRecord{"der Ordner " + folder +
                          (trust == FolderTrust::ReparsePoint
                               ? " ist eine Verknüpfung oder liegt hinter einer"
                               : " ist nicht nur den Administratoren und dem System zugänglich")};
    }
    plan = ReadPlan(files_, folder, KeptPlaces(system_), notes);
  } catch (const InvalidRecord& invalid) {
    for (const ScanNote& note : notes) report_.Note(note);
    report_.Skipped({JoinPath(folder, qf::kManifestName),
                     "Die Quarantäne ist beschädigt oder ungültig: " + invalid.reason +
                         ". Es wurde nichts zurückgelegt."});
    summary.skipped = 1;
    report_.Summary(summary);
    return summary.exitCode;
  }
  for (const ScanNote& note : notes) report_.Note(note);

  Restoration restoration(system_, files_, store_, report_, folder);
  // Files first: the service's image and the library that the registry names must be back
  // before anything names them again.
  for (const FileItem& item : plan.files) restoration.RestoreFile(item);
  const std::vector<HiveSet> hives = ReconciledHives(plan.backups);
  for (const HiveSet& set : hives) restoration.RestoreHive(set);
  for (const ServiceItem& item : plan.services) {
    if (!InSets(hives, "SYSTEM")) restoration.RestoreService(item);
  }
  for (const ValueItem& item : plan.values) {
    if (!InSets(hives, HiveOfKey(item.key))) restoration.RestoreValue(item);
  }

  summary.restartRequired = restoration.RestartRequired();
  summary.exitCode = restoration.AllRestored() ? 0 : kIncomplete;
  report_.Summary(summary);
  return summary.exitCode;
}

}  // namespace lk
