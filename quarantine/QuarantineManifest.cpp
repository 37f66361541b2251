#include "quarantine/QuarantineManifest.h"

#include <algorithm>
#include <memory>

#include "system/Sha256.h"

namespace lk::quarantine_manifest {

using qf::Json;

namespace {

// Deeper nesting than any valid manifest has (a service tree of kMaxTreeDepth levels needs about
// twice that) is refused before it is parsed.
constexpr int kMaxJsonNesting = 4 * qf::kMaxTreeDepth + 16;
// What one restore reads of its records in all, whatever the folder holds (records linked many
// times over included), and how many JSON elements it parses in all: a parsed element takes
// tens of bytes, so the text cap alone would not bound the memory.
constexpr std::int64_t kMaxRunBytes = 256 * 1024 * 1024;
constexpr std::size_t kMaxRunElements = 2 * 1024 * 1024;

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
    // A removal keeps no file larger than what gets a digest: a larger size could not be
    // checked against its SHA-256 in bounded time.
    file.size = Number(item, "size", kDigestLimit);
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

}  // namespace

std::string ErrorText(std::uint32_t code) { return "Fehler " + std::to_string(code); }

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

}  // namespace lk::quarantine_manifest
