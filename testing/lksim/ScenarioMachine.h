#pragma once
// The machine a scenario describes: the scripted system (registry, services, devices, platform
// flags, the files as the system sees them) and a temporary folder standing for drive C:, read
// through the POSIX file layer, so the stream search and the file searcher read the scenario's
// real bytes. Deleting a file in the model deletes the real copy; the model's 64-bit
// redirection applies to reading. The folder is removed with the machine.
//
// Load reads the scenario's records (ScenarioRecords.h) and builds the machine from them. It
// raises ScenarioError naming the first thing it cannot use: a faulty record, a path that is not
// on drive C: or would leave the drive folder, content beyond the limit, a folder or file that
// cannot be made.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "system/posix/PosixFileSystem.h"
#include "testing/RecordingView.h"
#include "testing/lksim/ScenarioRecords.h"
#include "testing/scripted/ScriptedSystem.h"

namespace lk::lksim {

class ScenarioMachine {
 public:
  ScenarioMachine();
  ~ScenarioMachine();
  ScenarioMachine(const ScenarioMachine&) = delete;
  ScenarioMachine& operator=(const ScenarioMachine&) = delete;

  // Builds the machine from the scenario; raises ScenarioError.
  [[nodiscard]] RunScript Load(const Json& document);

  [[nodiscard]] ScriptedSystem& System() { return system_; }
  [[nodiscard]] FileSystem& Files() { return *files_; }

  // The final state: the scenario's registry keys that still exist with all their values, the
  // scenario's files that still exist, the deletions requested for the next restart and the
  // services the service manager still knows.
  [[nodiscard]] Json State() const;

 private:
  void LoadSystem(const SystemRecord& system);
  void LoadDirectories(const std::vector<std::string>& directories);
  void LoadFiles(const Named<FileRecord>& files);
  void LoadFile(const std::string& path, const FileRecord& file);
  void LoadRegistry(const Named<Named<RegistryValue>>& registry);
  // The file's bytes, its pieces one after the other; raises ScenarioError when they would take
  // the content of all files past kMaxContentBytes (place: the file's "content").
  [[nodiscard]] std::string FileContent(const std::vector<ContentPiece>& pieces,
                                        const Json::json_pointer& place);
  // Creates the folder of a checked scenario path (place: the scenario's, for errors).
  void MakeDirectory(const std::string& windowsPath, const std::string& place);
  // The host path for a Windows path on drive C:, reusing the spelling of existing folders;
  // none for a path that would leave the drive folder ("..").
  [[nodiscard]] std::optional<std::filesystem::path> HostPath(const std::string& windowsPath) const;
  // The host path of a scenario path; raises ScenarioError naming place when the path is not on
  // drive C: or would leave the drive folder.
  [[nodiscard]] std::filesystem::path CheckedHostPath(const std::string& windowsPath,
                                                      const std::string& place) const;

  [[nodiscard]] Json RegistryState() const;
  [[nodiscard]] Json FilesState() const;
  [[nodiscard]] Json ServicesState() const;

  std::filesystem::path root_;
  ScriptedSystem system_;
  std::unique_ptr<PosixFileSystem> files_;
  std::vector<std::string> registryKeys_;  // as the scenario spells them, in its order
  std::vector<std::string> filePaths_;
  std::int64_t contentBytes_ = 0;  // of all files so far
};

// Whether a dialog with these buttons can give this answer ("Close" every dialog can).
[[nodiscard]] bool IsAnswerOf(DialogResult answer, DialogButtons buttons);
// The buttons as the scenario names them, for messages: "Yes", "No".
[[nodiscard]] std::string ButtonNames(DialogButtons buttons);

}  // namespace lk::lksim
