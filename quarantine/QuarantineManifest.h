#pragma once
// Reading a quarantine run back (`lkscan --restore QDIR`): manifest.json's items, then the records
// written after its last rewrite, or the records alone where manifest.json is missing or cut
// short; each one checked as it is read, and only its checked form kept (the Plan).
//
// The run folder is input from a disk that may be hostile: sizes, types, names and paths are
// checked before anything is parsed or kept, the whole run is read within one cap, and only what
// a removal keeps is accepted (KeptPlaces). One record that is not valid raises InvalidRecord,
// and the caller restores nothing.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/TextCase.h"
#include "base/WindowsPath.h"
#include "quarantine/QuarantineFormat.h"
#include "scan/ScanReport.h"
#include "system/FileSystem.h"
#include "system/SystemAccess.h"
#include "trojan/ControlSets.h"
#include "trojan/TrojanNames.h"

namespace lk::quarantine_manifest {

namespace qf = quarantine_format;

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
    const std::string systemFolder = system.PlatformQueries().QuerySystemDirectory();
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

// The records of the run in folder, checked against places; notes say where the manifest fell
// short. Raises InvalidRecord.
[[nodiscard]] Plan ReadPlan(FileSystem& files, const std::string& folder, const KeptPlaces& places,
                            std::vector<ScanNote>& notes);

// An error code of the seam as the restore's texts show it.
[[nodiscard]] std::string ErrorText(std::uint32_t code);

}  // namespace lk::quarantine_manifest
