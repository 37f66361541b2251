#pragma once
// The machine a scenario describes: the scripted system (registry, services, devices, platform
// flags, the files as the system sees them) and a temporary folder standing for drive C:, read
// through the POSIX file layer, so the stream search and the file searcher read the scenario's
// real bytes. Deleting a file in the model deletes the real copy; the model's 64-bit
// redirection applies to reading. The folder is removed with the machine.
//
// Load checks the whole scenario and raises ScenarioError naming the first thing it cannot use.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "analysis/RecordingView.h"
#include "system/posix/PosixFileSystem.h"
#include "system/scripted/ScriptedSystem.h"

namespace lk::lksim {

using Json = nlohmann::ordered_json;

class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the scenario asks of the run itself, beyond the machine.
struct RunScript {
  std::vector<DialogResult> answers;
  enum class CancelPoint { None, Pause, Pump } cancelPoint = CancelPoint::None;
  int cancelAt = 0;
};

class ScenarioMachine {
 public:
  ScenarioMachine();
  ~ScenarioMachine();
  ScenarioMachine(const ScenarioMachine&) = delete;
  ScenarioMachine& operator=(const ScenarioMachine&) = delete;

  // Builds the machine from the scenario; raises ScenarioError.
  [[nodiscard]] RunScript Load(const Json& scenario);

  [[nodiscard]] ScriptedSystem& System() { return system_; }
  [[nodiscard]] FileSystem& Files() { return *files_; }

  // The final state: the scenario's registry keys that still exist with all their values, the
  // scenario's files that still exist, the deletions requested for the next restart and the
  // services the service manager still knows.
  [[nodiscard]] Json State() const;

 private:
  void LoadSystem(const Json& system);
  void LoadRegistry(const Json& registry);
  void LoadFiles(const Json& files);
  void LoadServices(const Json& services);
  // Creates the folder of a checked scenario path (where: the scenario's place, for errors).
  void MakeDirectory(const std::string& windowsPath, const std::string& where);
  // The host path for a Windows path on drive C:, reusing the spelling of existing folders;
  // none for a path that would leave the drive folder ("..").
  [[nodiscard]] std::optional<std::filesystem::path> HostPath(const std::string& windowsPath) const;
  // The host path of a scenario path; raises ScenarioError naming where when the path is not on
  // drive C: or would leave the drive folder.
  [[nodiscard]] std::filesystem::path CheckedHostPath(const std::string& windowsPath,
                                                      const std::string& where) const;

  std::filesystem::path root_;
  ScriptedSystem system_;
  std::unique_ptr<PosixFileSystem> files_;
  std::vector<std::string> registryKeys_;  // as the scenario spells them, in its order
  std::vector<std::string> filePaths_;
  std::int64_t contentBytes_ = 0;  // of all files so far
};

// Scenario answers and results as the transcript writes them.
[[nodiscard]] DialogResult ParseAnswer(const std::string& answer);
// Whether a dialog with these buttons can give this answer ("Close" every dialog can).
[[nodiscard]] bool IsAnswerOf(DialogResult answer, DialogButtons buttons);
// The buttons as the scenario names them, for messages: "Yes", "No".
[[nodiscard]] std::string ButtonNames(DialogButtons buttons);

}  // namespace lk::lksim
