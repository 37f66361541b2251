#pragma once
// The quarantine of a console removal: before each change it keeps what the change destroys, in
// a run folder of its own below the quarantine folder, so that `lkscan --restore` can put it back.
//
// Guarantees:
// - Open checks every existing folder of the quarantine path it would use (for the default, the
//   "Anti-Lauschkobold" and "Quarantine" folders below ProgramData; for a chosen folder, that
//   folder) and refuses, with a German message, one that is a link, owned by someone other than
//   the administrators or the system, or writable by others. Nothing is created at Open.
// - The first keep creates the missing folders (private: administrators and system only) and the
//   run folder, named by the run's UTC time ("20261209T231501Z", "-2", "-3" when taken); a clean
//   run leaves no folder behind.
// - A file is read through the file layer by its data extents, stored transformed
//   (QuarantineFormat.h) with its holes kept as holes where the store makes them, read back
//   and verified by SHA-256 against the original before the keep succeeds; on any failure the
//   partial copy is deleted and the keep fails, so the removal leaves the file alone.
// - Each kept thing has its record written and flushed before the keep returns; manifest.json
//   describes the whole run and is rewritten after every keep.
//
// It changes nothing outside its folders and reads the system only through the seams.

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "quarantine/QuarantineFormat.h"
#include "scan/RemovalJournal.h"
#include "system/FileStore.h"
#include "system/FileSystem.h"

namespace lk {

struct QuarantineSettings {
  // The quarantine folder, an absolute Windows path (or, where the store takes them, a host path
  // starting with '/'); empty for the default, <ProgramData>\Anti-Lauschkobold\Quarantine.
  std::string folder;
  // The run's time; it names the run folder.
  std::chrono::system_clock::time_point runTime = std::chrono::system_clock::now();
  // Written into the manifest.
  std::string programVersion;
};

class Quarantine final : public RemovalJournal {
 public:
  // The system, the file layer (for reading) and the store (for writing) must outlive it.
  Quarantine(SystemAccess& system, FileSystem& files, FileStore& store,
             QuarantineSettings settings);

  // Checks the quarantine path; false with a German message in *error when it is refused or
  // cannot be used. Must succeed before anything is kept.
  [[nodiscard]] bool Open(std::string* error);
  // Worth telling the user, after Open: that the folder's access rules could not be checked.
  [[nodiscard]] const std::vector<std::string>& Notes() const noexcept { return notes_; }

  Kept KeepFile(std::string_view path) override;
  Kept KeepBackup(std::string_view path) override;
  Kept KeepRegistryValue(RegistryView view, std::string_view key,
                         std::string_view valueName) override;
  Kept KeepServiceKey(std::string_view serviceName) override;
  Kept KeepControlSetServiceKey(std::string_view controlSet, std::string_view serviceName) override;
  [[nodiscard]] std::string Location() const override { return runFolder_; }

 private:
  struct TreeBudget;

  // A verified copy of the file with its metadata, recorded as kind.
  Kept KeepCopy(std::string_view path, std::string_view kind);
  // The whole key SYSTEM\<controlSet>\Services\<serviceName>, recorded as a service.
  Kept KeepServiceTree(std::string_view controlSet, std::string_view serviceName);
  [[nodiscard]] std::string CheckFolder(const std::string& folder);
  [[nodiscard]] bool EnsureRunFolder(std::string* error);
  [[nodiscard]] std::string NewRunFolder(const std::string& base, std::string* error);
  // Copies the file transformed into copyPath and verifies the copy; the original's size and
  // SHA-256 into record. Deletes the copy on failure.
  [[nodiscard]] bool StoreCopy(std::string_view path, const std::string& copyPath,
                               quarantine_format::Json& record, std::string* error);
  [[nodiscard]] bool ReadTree(RegistryConnection& registry, const std::string& keyPath, int depth,
                              TreeBudget& budget, quarantine_format::Json& tree,
                              std::string* error);
  // Writes the record of the next kept thing and rewrites the manifest.
  Kept Record(quarantine_format::Json record);
  [[nodiscard]] std::uint32_t WriteWhole(const std::string& path, const std::string& text);
  void WriteManifest();

  SystemAccess& system_;
  FileSystem& files_;
  FileStore& store_;
  QuarantineSettings settings_;
  std::vector<std::string> chain_;  // the quarantine folder and the folders of ours above it
  bool opened_ = false;
  std::string runFolder_;
  std::vector<quarantine_format::Json> records_;
  std::vector<std::string> notes_;
};

}  // namespace lk
