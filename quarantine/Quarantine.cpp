#include "quarantine/Quarantine.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "base/TextCase.h"
#include "base/WindowsPath.h"
#include "system/Sha256.h"
#include "trojan/ControlSets.h"

namespace lk {

using quarantine_format::Json;
namespace qf = quarantine_format;

namespace {

constexpr std::size_t kBlock = 64 * 1024;
constexpr int kMaxRunSuffix = 99;

// "C:\x" or "C:\": a path that names its drive and does not depend on a current folder.
bool IsAbsoluteDrivePath(std::string_view path) {
  const auto letter = path.empty() ? '\0' : FoldAscii(path[0]);
  return path.size() >= 3 && letter >= 'a' && letter <= 'z' && path[1] == ':' &&
         (path[2] == '\\' || path[2] == '/');
}

std::string WithoutTrailingSeparators(std::string path) {
  const std::size_t keep = path.front() == '/' ? 1 : 3;
  while (path.size() > keep && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

}  // namespace

// What one service tree may still take: a hostile registry cannot make the keep read without end.
struct Quarantine::TreeBudget {
  std::size_t keys = 0;
  std::size_t values = 0;
  std::size_t bytes = 0;
};

Quarantine::Quarantine(SystemAccess& system, FileSystem& files, FileStore& store,
                       QuarantineSettings settings)
    : system_(system), files_(files), store_(store), settings_(std::move(settings)) {}

std::string Quarantine::CheckFolder(const std::string& folder) {
  switch (store_.CheckPrivateDirectory(folder)) {
    case FolderTrust::Private:
    case FolderTrust::Missing:
      return {};
    case FolderTrust::NotADirectory:
      return folder + " ist kein Ordner.";
    case FolderTrust::ReparsePoint:
      return folder +
             " ist eine Verknüpfung (symbolischer Link oder Abzweigungspunkt); ihr wird nicht "
             "gefolgt.";
    case FolderTrust::ForeignOwner:
      return folder + " gehört weder den Administratoren noch dem System.";
    case FolderTrust::WritableByOthers:
      return folder +
             " kann auch von anderen als den Administratoren und dem System verändert "
             "werden.";
    case FolderTrust::Unreadable:
      break;
  }
  return "Besitzer und Zugriffsrechte von " + folder + " können nicht gelesen werden.";
}

bool Quarantine::Open(std::string* error) {
  chain_.clear();
  notes_.clear();
  std::string base;
  if (settings_.folder.empty()) {
    const std::string programData = system_.PlatformQueries().QueryProgramDataDirectory();
    if (programData.empty()) {
      *error =
          "Der Ordner für Programmdaten (ProgramData) ist nicht bekannt; mit --quarantine DIR "
          "einen Quarantäneordner angeben.";
      return false;
    }
    if (store_.CheckPrivateDirectory(programData) == FolderTrust::Missing) {
      *error = "Der Ordner für Programmdaten " + programData + " fehlt.";
      return false;
    }
    chain_.push_back(JoinPath(programData, "Anti-Lauschkobold"));
    chain_.push_back(JoinPath(chain_.back(), "Quarantine"));
  } else {
    const bool hostPath = settings_.folder.front() == '/' && store_.TakesHostPaths();
    if (!IsAbsoluteDrivePath(settings_.folder) && !hostPath) {
      *error =
          "Der Quarantäneordner muss ein vollständiger Pfad mit Laufwerk sein (etwa "
          "D:\\Quarantäne): " +
          settings_.folder;
      return false;
    }
    chain_.push_back(WithoutTrailingSeparators(settings_.folder));
  }
  const bool hostFolder = chain_.front().front() == '/';
  for (const std::string& folder : chain_) {
    if (std::string refusal = CheckFolder(folder); !refusal.empty()) {
      *error = "Der Quarantäneordner wird nicht verwendet: " + refusal;
      return false;
    }
  }
  // A host folder is judged where it is (or would be); a folder on the drive by the one above.
  const std::string above(hostFolder ? chain_.front() : std::string(ParentPath(chain_.front())));
  if (!store_.KeepsAccessRules(above.size() == 2 ? above + "\\" : above)) {
    notes_.push_back("Die Zugriffsrechte des Quarantäneordners " + chain_.back() +
                     " konnten nicht ganz geprüft werden: sein Dateisystem oder System hält keine "
                     "Besitzer und Zugriffsrechte von Windows fest (etwa NTFS, unter Linux "
                     "eingehängt, oder Wine).");
  }
  opened_ = true;
  return true;
}

std::string Quarantine::NewRunFolder(const std::string& base, std::string* error) {
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(settings_.runTime.time_since_epoch())
          .count();
  const std::string name = qf::RunName(seconds);
  for (int attempt = 1; attempt <= kMaxRunSuffix; ++attempt) {
    const std::string folder =
        JoinPath(base, attempt == 1 ? name : name + "-" + std::to_string(attempt));
    const std::uint32_t created = store_.CreatePrivateDirectory(folder);
    if (created == win_error::kFileExists || created == win_error::kAlreadyExists) continue;
    if (created != 0) {
      *error = "Der Ordner " + folder + " kann nicht angelegt werden (Fehler " +
               std::to_string(created) + ").";
      return {};
    }
    if (store_.CheckPrivateDirectory(folder) != FolderTrust::Private) {
      *error = "Der neue Ordner " + folder + " ist nicht privat.";
      return {};
    }
    return folder;
  }
  *error = "Alle Namen für den Ordner dieses Laufs sind vergeben.";
  return {};
}

bool Quarantine::EnsureRunFolder(std::string* error) {
  if (!runFolder_.empty()) return true;
  if (!opened_) {
    *error = "Die Quarantäne ist nicht geöffnet.";
    return false;
  }
  // Checked again: between the check at the start and the first keep, a scan has run.
  for (const std::string& folder : chain_) {
    const FolderTrust trust = store_.CheckPrivateDirectory(folder);
    if (trust == FolderTrust::Missing) {
      if (const std::uint32_t created = store_.CreatePrivateDirectory(folder); created != 0) {
        *error = "Der Quarantäneordner " + folder + " kann nicht angelegt werden (Fehler " +
                 std::to_string(created) + ").";
        return false;
      }
    }
    if (std::string refusal = CheckFolder(folder); !refusal.empty()) {
      *error = "Der Quarantäneordner wird nicht verwendet: " + refusal;
      return false;
    }
  }
  runFolder_ = NewRunFolder(chain_.back(), error);
  return !runFolder_.empty();
}

std::uint32_t Quarantine::WriteWhole(const std::string& path, const std::string& text) {
  std::uint32_t error = 0;
  std::unique_ptr<WritableFile> file = store_.CreateNewFile(path, &error);
  if (!file) return error != 0 ? error : win_error::kAccessDenied;
  error = file->Write(text.data(), text.size());
  const std::uint32_t finished = file->Finish();
  if (error == 0) error = finished;
  if (error != 0) static_cast<void>(store_.DeleteFile(path));
  return error;
}

void Quarantine::WriteManifest() {
  Json manifest{{"format", qf::kFormat},
                {"format_version", qf::kFormatVersion},
                {"program_version", settings_.programVersion},
                {"run", std::string(FileNamePart(runFolder_))},
                {"items", Json::array()}};
  for (const Json& record : records_) manifest["items"].push_back(record);
  const std::string path = JoinPath(runFolder_, qf::kManifestName);
  // Without a rename, a delete and a create: the records stand in for a moment without it.
  static_cast<void>(store_.DeleteFile(path));
  static_cast<void>(WriteWhole(path, manifest.dump(1, '\t') + "\n"));
}

RemovalJournal::Kept Quarantine::Record(Json record) {
  const std::string path = JoinPath(runFolder_, qf::RecordName(records_.size() + 1));
  if (const std::uint32_t error = WriteWhole(path, record.dump(1, '\t') + "\n"); error != 0) {
    return {false, "Der Eintrag " + path + " kann nicht geschrieben werden (Fehler " +
                       std::to_string(error) + ")."};
  }
  records_.push_back(std::move(record));
  // The record alone suffices for a restore; a manifest that cannot be rewritten is rebuilt from
  // the records then.
  WriteManifest();
  return {true, {}};
}

bool Quarantine::StoreCopy(std::string_view path, const std::string& copyPath, Json& record,
                           std::string* error) {
  std::uint32_t code = 0;
  std::unique_ptr<ReadableFile> original = files_.OpenForReading(path, FileShare::All, &code);
  if (!original) {
    *error = "Die Datei kann nicht gelesen werden (Fehler " + std::to_string(code) + ").";
    return false;
  }
  // Its copy must be checked against its SHA-256 when it is made and when it is put back: a
  // file too large for a digest is not kept (and so not removed).
  if (original->Size() > kDigestLimit) {
    *error = "Die Datei ist größer als 1 GiB; ihre Kopie ließe sich nicht prüfen.";
    return false;
  }
  std::unique_ptr<WritableFile> copy = store_.CreateNewFile(copyPath, &code);
  if (!copy) {
    *error = "Die Kopie " + copyPath + " kann nicht angelegt werden (Fehler " +
             std::to_string(code) + ").";
    return false;
  }
  const auto fail = [&](std::string why) {
    copy.reset();
    static_cast<void>(store_.DeleteFile(copyPath));
    *error = std::move(why);
    return false;
  };
  // Holes are kept as holes where the store can make them: in a copy, a hole stands for zeros
  // of the original, everything else for transformed bytes.
  Sha256 hash;
  std::string zeros;
  std::int64_t offset = 0;
  std::uint32_t writeError = 0;
  const std::uint32_t readError = ReadExtents(
      *original, kBlock,
      [&](std::int64_t at, const char* data, std::int64_t length) -> std::uint32_t {
        if (data == nullptr) {
          HashZeros(hash, length);
          writeError = copy->WriteHole(length);
          if (writeError != 50) return writeError;
          // No holes here: the zeros are written as the transformed bytes they are.
          for (std::int64_t done = 0; done < length;) {
            const auto chunk = static_cast<std::size_t>(
                std::min<std::int64_t>(length - done, static_cast<std::int64_t>(kBlock)));
            zeros.assign(chunk, '\0');
            qf::Transform(zeros.data(), chunk, at + done);
            if ((writeError = copy->Write(zeros.data(), chunk)) != 0) return writeError;
            done += static_cast<std::int64_t>(chunk);
          }
          return 0;
        }
        const auto size = static_cast<std::size_t>(length);
        hash.Update(data, size);
        zeros.assign(data, size);
        qf::Transform(zeros.data(), size, at);
        writeError = copy->Write(zeros.data(), size);
        return writeError;
      },
      &offset);
  if (writeError != 0) {
    return fail("Die Kopie kann nicht geschrieben werden (Fehler " + std::to_string(writeError) +
                ").");
  }
  if (readError != 0) {
    return fail("Die Datei kann nicht gelesen werden (Fehler " + std::to_string(readError) + ").");
  }
  original.reset();
  if (const std::uint32_t finished = copy->Finish(); finished != 0) {
    return fail("Die Kopie kann nicht geschrieben werden (Fehler " + std::to_string(finished) +
                ").");
  }
  const std::string sha256 = Sha256::Hex(hash.Finish());

  // Read back what the disk holds: only a copy that gives the original again counts.
  std::unique_ptr<ReadableFile> stored = files_.OpenForReading(copyPath, FileShare::All, &code);
  if (!stored) {
    return fail("Die Kopie kann nicht wieder gelesen werden (Fehler " + std::to_string(code) +
                ").");
  }
  std::int64_t storedSize = 0;
  const std::uint32_t backError = qf::ReadOriginal(
      *stored, kBlock,
      [&](std::int64_t, const char* data, std::int64_t length) -> std::uint32_t {
        if (data == nullptr) {
          HashZeros(hash, length);
        } else {
          hash.Update(data, static_cast<std::size_t>(length));
        }
        return 0;
      },
      &storedSize);
  stored.reset();
  if (backError != 0) {
    return fail("Die Kopie kann nicht wieder gelesen werden (Fehler " + std::to_string(backError) +
                ").");
  }
  if (storedSize != offset || Sha256::Hex(hash.Finish()) != sha256) {
    return fail("Die Kopie stimmt nicht mit der Datei überein (SHA-256).");
  }
  record["size"] = offset;
  record["sha256"] = sha256;
  return true;
}

RemovalJournal::Kept Quarantine::KeepFile(std::string_view path) { return KeepCopy(path, "file"); }

RemovalJournal::Kept Quarantine::KeepBackup(std::string_view path) {
  return KeepCopy(path, "backup");
}

RemovalJournal::Kept Quarantine::KeepCopy(std::string_view path, std::string_view kind) {
  if (path.size() > qf::kMaxNameBytes || !qf::IsUtf8(path)) {
    return {false, "Der Pfad kann nicht festgehalten werden."};
  }
  std::string error;
  if (!EnsureRunFolder(&error)) return {false, error};
  const std::size_t number = records_.size() + 1;
  const std::string copyName = qf::CopyName(number);
  const std::string copyPath = JoinPath(runFolder_, copyName);
  Json record{{"kind", std::string(kind)}, {"path", std::string(path)}, {"copy", copyName}};
  try {
    if (!StoreCopy(path, copyPath, record, &error)) return {false, error};
  } catch (const std::exception& failure) {
    static_cast<void>(store_.DeleteFile(copyPath));
    return {false, std::string("SHA-256 steht nicht zur Verfügung: ") + failure.what()};
  }
  // Attributes and times as the folder's listing gives them; 0 where it tells nothing, which a
  // restore leaves as it finds it.
  DirectoryEntry found;
  const std::string name(FileNamePart(path));
  if (auto listing = files_.EnumerateDirectory(ParentPath(path), name)) {
    DirectoryEntry entry;
    while (listing->Next(entry)) {
      if (entry.error == 0 && FoldedAscii(entry.name) == FoldedAscii(name)) {
        found = entry;
        break;
      }
    }
  }
  record["attributes"] = found.attributes;
  record["creation_time"] = found.creationTime;
  record["last_access_time"] = found.lastAccessTime;
  record["last_write_time"] = found.lastWriteTime;
  Kept kept = Record(std::move(record));
  if (!kept.ok) static_cast<void>(store_.DeleteFile(copyPath));
  return kept;
}

RemovalJournal::Kept Quarantine::KeepRegistryValue(RegistryView view, std::string_view key,
                                                   std::string_view valueName) {
  if (key.size() > qf::kMaxNameBytes || valueName.size() > qf::kMaxNameBytes || !qf::IsUtf8(key) ||
      !qf::IsUtf8(valueName)) {
    return {false, "Schlüssel oder Name können nicht festgehalten werden."};
  }
  std::unique_ptr<RegistryConnection> registry = system_.ConnectRegistry(view);
  if (!registry || !registry->OpenMachineKeyReadOnly(key)) {
    return {false, "Der Schlüssel kann nicht gelesen werden (Fehler " +
                       std::to_string(system_.LastSystemError()) + ")."};
  }
  const std::optional<StoredRegistryValue> value = registry->ReadStoredValue(valueName);
  if (!value) {
    return {false, "Der Wert kann nicht gelesen werden (Fehler " +
                       std::to_string(system_.LastSystemError()) + ")."};
  }
  registry.reset();
  if (value->bytes.size() > qf::kMaxValueBytes) return {false, "Der Wert ist zu groß."};
  std::string error;
  if (!EnsureRunFolder(&error)) return {false, error};
  Json record{{"kind", "registry-value"},
              {"key", std::string(key)},
              {"view", qf::ViewName(view)},
              {"name", std::string(valueName)}};
  qf::PutStoredValue(record, *value);
  return Record(std::move(record));
}

bool Quarantine::ReadTree(RegistryConnection& registry, const std::string& keyPath, int depth,
                          TreeBudget& budget, Json& tree, std::string* error) {
  const auto fail = [&](std::string why) {
    *error = std::move(why);
    return false;
  };
  if (++budget.keys > qf::kMaxTreeKeys)
    return fail("Der Dienstschlüssel hat zu viele Unterschlüssel.");
  if (!registry.OpenMachineKeyReadOnly(keyPath)) {
    return fail("Der Schlüssel " + keyPath + " kann nicht gelesen werden (Fehler " +
                std::to_string(system_.LastSystemError()) + ").");
  }
  const auto valueNames = registry.ValueNames();
  const auto subKeyNames = registry.SubKeyNames();
  if (!valueNames || !subKeyNames) {
    return fail("Der Schlüssel " + keyPath + " kann nicht aufgezählt werden (Fehler " +
                std::to_string(system_.LastSystemError()) + ").");
  }
  tree["values"] = Json::array();
  for (const std::string& name : *valueNames) {
    if (name.size() > qf::kMaxNameBytes || !qf::IsUtf8(name)) {
      return fail("Ein Wertname in " + keyPath + " kann nicht festgehalten werden.");
    }
    const auto value = registry.ReadStoredValue(name);
    if (!value) {
      return fail("Der Wert " + name + " in " + keyPath + " kann nicht gelesen werden (Fehler " +
                  std::to_string(system_.LastSystemError()) + ").");
    }
    budget.bytes += value->bytes.size();
    if (++budget.values > qf::kMaxTreeValues || value->bytes.size() > qf::kMaxValueBytes ||
        budget.bytes > qf::kMaxTreeBytes) {
      return fail("Der Dienstschlüssel ist zu groß, um ihn festzuhalten.");
    }
    Json entry{{"name", name}};
    qf::PutStoredValue(entry, *value);
    tree["values"].push_back(std::move(entry));
  }
  tree["subkeys"] = Json::array();
  if (!subKeyNames->empty() && depth >= qf::kMaxTreeDepth) {
    return fail("Der Dienstschlüssel ist zu tief verschachtelt, um ihn festzuhalten.");
  }
  for (const std::string& name : *subKeyNames) {
    if (name.empty() || name.find('\\') != std::string::npos || name.size() > qf::kMaxNameBytes ||
        !qf::IsUtf8(name)) {
      return fail("Ein Unterschlüssel von " + keyPath + " kann nicht festgehalten werden.");
    }
    Json child{{"name", name}};
    if (!ReadTree(registry, keyPath + "\\" + name, depth + 1, budget, child, error)) return false;
    tree["subkeys"].push_back(std::move(child));
  }
  return true;
}

RemovalJournal::Kept Quarantine::KeepServiceKey(std::string_view serviceName) {
  return KeepServiceTree("CurrentControlSet", serviceName);
}

RemovalJournal::Kept Quarantine::KeepControlSetServiceKey(std::string_view controlSet,
                                                          std::string_view serviceName) {
  if (!IsControlSetName(controlSet)) return {false, "Kein Steuersatz: " + std::string(controlSet)};
  return KeepServiceTree(controlSet, serviceName);
}

RemovalJournal::Kept Quarantine::KeepServiceTree(std::string_view controlSet,
                                                 std::string_view serviceName) {
  if (serviceName.empty() || serviceName.find('\\') != std::string_view::npos ||
      serviceName.size() > 256 || !qf::IsUtf8(serviceName)) {
    return {false, "Der Dienstname kann nicht festgehalten werden."};
  }
  const std::string key =
      "SYSTEM\\" + std::string(controlSet) + "\\Services\\" + std::string(serviceName);
  std::unique_ptr<RegistryConnection> registry = system_.ConnectRegistry(RegistryView::Native);
  if (!registry) return {false, "Die Registrierung ist nicht erreichbar."};
  TreeBudget budget;
  Json tree;
  std::string error;
  if (!ReadTree(*registry, key, 0, budget, tree, &error)) return {false, error};
  registry.reset();
  if (!EnsureRunFolder(&error)) return {false, error};
  return Record(Json{{"kind", "service"},
                     {"name", std::string(serviceName)},
                     {"key", key},
                     {"view", qf::ViewName(RegistryView::Native)},
                     {"tree", std::move(tree)}});
}

}  // namespace lk
