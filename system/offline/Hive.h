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

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system/offline/HiveHandle.h"
#include "system/posix/HostPathMap.h"

namespace lk {

namespace hive_error {
inline constexpr std::uint32_t kFileNotFound = 2;
inline constexpr std::uint32_t kAccessDenied = 5;
inline constexpr std::uint32_t kRegistryCorrupt = 1015;  // ERROR_REGISTRY_CORRUPT
}  // namespace hive_error

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
  [[nodiscard]] static std::unique_ptr<Hive> Open(HostDescriptor folder, const std::string& name,
                                                  const std::string& hostPath, std::string* error);
  ~Hive();
  Hive(const Hive&) = delete;
  Hive& operator=(const Hive&) = delete;

  [[nodiscard]] const std::string& Path() const noexcept { return path_; }
  // The two sequence numbers of the base block differ: Windows did not shut down cleanly, and a
  // transaction log beside the file may hold newer data that hivex does not replay.
  [[nodiscard]] bool IsDirty() const noexcept { return dirty_; }
  // The file and its folder may be written (nothing is tried).
  [[nodiscard]] bool IsWritable() const;
  // What was wrong with the hive the last time a read met damage, naming the file.
  [[nodiscard]] const std::string& DamageText() const noexcept { return damage_; }

  // Reading. Each returns 0 or the error code; outputs are filled only on success.
  [[nodiscard]] std::uint32_t Find(const KeyPath& path, Node* node);
  [[nodiscard]] std::uint32_t SubKeyNames(Node node, std::vector<std::string>* names);
  [[nodiscard]] std::uint32_t ValueNames(Node node, std::vector<std::string>* names);
  [[nodiscard]] std::uint32_t ReadValue(Node node, std::string_view name, HiveValue* value);

  // Writing (see above). The root key cannot be deleted (5).
  void SetBeforeFirstWrite(std::function<bool(const std::string& hostPath)> hook);
  [[nodiscard]] std::uint32_t CreateKey(const KeyPath& path);
  [[nodiscard]] std::uint32_t SetValue(const KeyPath& path, std::string_view name,
                                       const HiveValue& value);
  [[nodiscard]] std::uint32_t DeleteValue(const KeyPath& path, std::string_view name);
  [[nodiscard]] std::uint32_t DeleteKey(const KeyPath& path);

 private:
  Hive(std::string path, HostDescriptor folder, std::string name, HiveHandle handle, bool dirty);
  // hivex opens the file by name: it is given the file opened here without following a link, as
  // /proc/self/fd/N. errno tells why when there is no handle.
  [[nodiscard]] HiveHandle OpenHandle(int flags) const;
  [[nodiscard]] std::uint32_t Damaged(std::string_view what);
  [[nodiscard]] std::uint32_t Child(Node parent, const std::string& name, Node* child);
  [[nodiscard]] std::uint32_t BeginWrite();
  // Writes the hive as it is in memory to the file; on failure reloads the file.
  [[nodiscard]] std::uint32_t Commit();
  [[nodiscard]] std::uint32_t Reload();

  std::string path_;
  HostDescriptor folder_;
  std::string name_;
  HiveHandle handle_;
  bool dirty_ = false;
  bool writing_ = false;
  std::string damage_;
  std::function<bool(const std::string&)> beforeFirstWrite_;
};

}  // namespace lk
