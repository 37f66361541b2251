#include "quarantine/Restorer.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "base/TextCase.h"
#include "base/WindowsPath.h"
#include "quarantine/QuarantineFormat.h"
#include "quarantine/QuarantineManifest.h"
#include "system/Sha256.h"
#include "trojan/TrojanNames.h"

namespace lk {

namespace qf = quarantine_format;
using qf::Json;

namespace {

using quarantine_manifest::ErrorText;
using quarantine_manifest::FileItem;
using quarantine_manifest::InvalidRecord;
using quarantine_manifest::KeptPlaces;
using quarantine_manifest::Plan;
using quarantine_manifest::ReadPlan;
using quarantine_manifest::ServiceItem;
using quarantine_manifest::TreeNode;
using quarantine_manifest::ValueItem;

constexpr std::size_t kBlock = 64 * 1024;

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
    // Larger than any kept file can be: another one.
    if ((present.Ok() && present.sha256 != item.sha256) || present.TooLarge()) {
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
    if (const std::uint32_t error = system_.SystemFiles().CancelDeleteAtRestart(item.path);
        error == 0) {
      Act("withdraw-delete-at-restart", item.path, true, {});
    } else if (error != win_error::kFileNotFound) {
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
    std::unique_ptr<ServiceManager> manager = system_.OpenServiceManager();
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
    std::unique_ptr<Service> service = manager->CreateServiceEntry(definition);
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
    service.reset();
    manager.reset();
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
  const std::unique_ptr<FsRedirectionScope> redirection =
      system_.PlatformQueries().RunningUnderWow64()
          ? system_.PlatformQueries().DisableFsRedirection()
          : nullptr;

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
