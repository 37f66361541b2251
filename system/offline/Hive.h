#pragma once
// One registry hive file (SYSTEM, SOFTWARE) of a Windows installation that is not running.
//
// It reads through hivex and checks every result: a hive comes from a disk that may be damaged or
// hostile, and every failure is a Windows error code, never a crash (2: no such key or value,
// 5: refused, 1015: the hive is damaged; DamageText then names the file and what was wrong).
// Names are compared without regard to ASCII case, as hivex and Windows compare them.
//
// It holds the hive's folder open and reaches the file only relative to it, never following a
// link in its place (hivex is given the file opened so, as /proc/self/fd/N). It opens the file
// read-only and reopens it for writing only when the first change comes. Before
// that, the hook set by SetBeforeFirstWrite may keep a copy of the untouched file; when it
// declines, the change is refused with 5 and nothing is written. Each change reaches the disk
// before the call returns, and atomically: hivex writes the whole hive into a new file beside the
// original (hivex_commit truncates and rewrites the file it is given, so writing over the original
// would leave half a hive behind a crash), which is flushed and then renamed over the original.
// A change that could not be written is undone in memory as well.
//
// A file shorter than the hive bins its base block declares is damaged. A hive whose Windows did
// not shut down cleanly is read as Windows would load it: its transaction logs beside it are
// replayed into a private copy in memory (HiveLogReplay), and the files keep their bytes. The
// first change then reconciles the hive: the replayed hive, changed, becomes the primary with a
// clean base block, and the logs stay as they are: Windows applies no log to a hive that is not
// dirty, and its own recovery leaves the applied entries in the logs the same way. The hook is
// asked for the primary and for each log before that. A dirty hive whose
// logs cannot be replayed is read as the primary has it and is never changed.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/WindowsError.h"
#include "system/offline/HiveHandle.h"
#include "system/offline/HiveLogReplay.h"
#include "system/offline/PrivateHiveCopy.h"
#include "system/posix/HostPathMap.h"

namespace lk {

// The hive layer's name for the Windows error codes (base/WindowsError.h) it fails with.
namespace hive_error = win_error;

// A value as the hive stores it: the type number and the data bytes.
struct HiveValue {
  std::uint32_t type = 0;
  std::string data;
  friend bool operator==(const HiveValue&, const HiveValue&) = default;
};

class Hive {
 public:
  using Node = std::size_t;
  using KeyPath = std::vector<std::string>;  // components below the hive's root

  // Opens the hive read-only and checks its root and the root's subkeys. No hive, with a message
  // naming hostPath, when the file is missing or damaged.
  [[nodiscard]] static std::unique_ptr<Hive> Open(const std::string& hostPath, std::string* error);
  // The same for the file name in the open folder, which the hive keeps: the file is reached and
  // rewritten only relative to it, never following a link in its place. hostPath names it in
  // messages.
  [[nodiscard]] static std::unique_ptr<Hive> Open(UniqueDescriptor folder, const std::string& name,
                                                  const std::string& hostPath, std::string* error);
  ~Hive();
  Hive(const Hive&) = delete;
  Hive& operator=(const Hive&) = delete;

  [[nodiscard]] const std::string& Path() const noexcept { return path_; }
  // The primary's base block has a wrong checksum or two different sequence numbers: Windows did
  // not shut down cleanly, and the logs beside the file may hold newer data (see LogsApplied).
  [[nodiscard]] bool IsDirty() const noexcept { return dirty_; }
  // The file and its folder may be written (nothing is tried).
  [[nodiscard]] bool IsWritable() const;
  // For a dirty hive: the log entries that were replayed ("SYSTEM.LOG1 Einträge 5 bis 7"), or
  // why the logs could not be replayed. Both empty for a clean hive.
  [[nodiscard]] const std::string& LogsApplied() const noexcept { return logsApplied_; }
  [[nodiscard]] const std::string& LogFailure() const noexcept { return logFailure_; }
  // What was wrong with the hive the last time a read met damage, naming the file.
  [[nodiscard]] const std::string& DamageText() const noexcept { return damage_; }

  // Reading. Each returns 0 or the error code; outputs are filled only on success.
  [[nodiscard]] std::uint32_t Find(const KeyPath& path, Node* node);
  [[nodiscard]] std::uint32_t SubKeyNames(Node node, std::vector<std::string>* names);
  [[nodiscard]] std::uint32_t ValueNames(Node node, std::vector<std::string>* names);
  [[nodiscard]] std::uint32_t ReadValue(Node node, std::string_view name, HiveValue* value);

  // Why DeleteKey(path), or a change of the values of path, could not be done without hivex
  // meeting a cell it cannot free (it would abort the process halfway); empty when it can, or
  // when there is no such key. Every change checks this first and is refused with 1015.
  [[nodiscard]] std::string CheckDeleteKey(const KeyPath& path);
  [[nodiscard]] std::string CheckValuesChange(const KeyPath& path);

  // Writing (see above). The root key cannot be deleted (5).
  void SetBeforeFirstWrite(std::function<bool(const std::string& hostPath)> hook);
  [[nodiscard]] std::uint32_t CreateKey(const KeyPath& path);
  [[nodiscard]] std::uint32_t SetValue(const KeyPath& path, std::string_view name,
                                       const HiveValue& value);
  [[nodiscard]] std::uint32_t DeleteValue(const KeyPath& path, std::string_view name);
  [[nodiscard]] std::uint32_t DeleteKey(const KeyPath& path);

 private:
  Hive(std::string path, UniqueDescriptor folder, std::string name, HiveHandle handle, bool dirty);
  // The primary file opened here without following a link; errno tells why when there is none.
  [[nodiscard]] UniqueDescriptor OpenPrimary() const;
  // hivex opens a file by name: it is given the replayed copy, or the primary opened here as
  // /proc/self/fd/N. errno tells why when there is no handle.
  [[nodiscard]] HiveHandle OpenHandle(int flags) const;
  // Reads the primary (and, when dirty, replays its logs); false with *error when damaged.
  [[nodiscard]] bool Load(std::string* error);
  // The logs beside the file (NAME.LOG, .LOG1, .LOG2 in any case), read without following links;
  // none, with *ambiguity, when two of them differ only in case.
  [[nodiscard]] std::vector<HiveLogFile> ReadLogs(std::string* ambiguity);
  // Runs check over the cells of the hive as it is now (the source file: every change is
  // committed at once); its text, or why the hive could not be read.
  [[nodiscard]] std::string CheckCells(const KeyPath& path, bool wholeTree);
  [[nodiscard]] std::uint32_t Damaged(std::string_view what);
  // A change refused before anything was written, for the reason given (1015).
  [[nodiscard]] std::uint32_t Refused(std::string why);
  [[nodiscard]] std::uint32_t Child(Node parent, const std::string& name, Node* child);
  [[nodiscard]] std::uint32_t BeginWrite();
  // Writes the hive as it is in memory to the file; on failure reloads the file.
  [[nodiscard]] std::uint32_t Commit();
  [[nodiscard]] std::uint32_t Reload();

  std::string path_;
  UniqueDescriptor folder_;
  std::string name_;
  HiveHandle handle_;
  bool dirty_ = false;
  bool writing_ = false;
  std::string damage_;
  PrivateHiveCopy replayed_;
  std::string logsApplied_;
  std::string logFailure_;
  std::vector<std::string> logPaths_;  // the host paths of the logs beside a dirty hive
  std::function<bool(const std::string&)> beforeFirstWrite_;
};

}  // namespace lk
