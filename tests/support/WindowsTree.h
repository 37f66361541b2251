#pragma once
// A Windows installation laid out in a temporary host folder, as a rescue system sees the system
// drive of a Windows that is not running: Windows\System32 with drivers and config (the SYSTEM
// and SOFTWARE hives, filled through hivex), on 64-bit also Windows\SysWOW64, and ProgramData.
// The libraries are Wine's; the known version of the trojan is the end-to-end tests' simulated
// library and driver, built from tests/e2e/fixtures (stand-ins with the characteristic texts when
// no MinGW compiler was found).
//
// SYSTEM holds Select (Current 1, LastKnownGood 2) and two control sets with a few services;
// SOFTWARE holds the Windows key with AppInit_DLLs and its two companion values, in the 32-bit
// view as well on a 64-bit installation. The folder is removed with everything in it when the
// tree is destroyed.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system/offline/Hive.h"

namespace lk::test {

struct WindowsTreeOptions {
  bool is64Bit = true;
  bool wineLibraries = true;  // copy a few of Wine's libraries and drivers into the tree
};

enum class HiveName : std::uint8_t { System, Software };

class WindowsTree {
 public:
  explicit WindowsTree(WindowsTreeOptions options = {});
  ~WindowsTree();
  WindowsTree(const WindowsTree&) = delete;
  WindowsTree& operator=(const WindowsTree&) = delete;

  [[nodiscard]] const std::string& Root() const noexcept { return root_; }
  // The host path of a path relative to the root ("Windows/System32/x.dll").
  [[nodiscard]] std::string Host(std::string_view relative) const;
  [[nodiscard]] std::string HivePath(HiveName hive) const;

  // Changes to a hive through hivex, committed at once. Key paths are below the hive's root,
  // separated by '\'; missing keys are created.
  void AddKey(HiveName hive, std::string_view keyPath);
  void SetValue(HiveName hive, std::string_view keyPath, std::string_view name, std::uint32_t type,
                std::string_view data);
  void SetString(HiveName hive, std::string_view keyPath, std::string_view name,
                 std::string_view ascii, std::uint32_t type = 1);
  void SetDword(HiveName hive, std::string_view keyPath, std::string_view name,
                std::uint32_t number);

  // A value as the hive file stores it now (type number and bytes), read through hivex.
  [[nodiscard]] std::optional<HiveValue> StoredValue(HiveName hive, std::string_view keyPath,
                                                     std::string_view name) const;
  [[nodiscard]] bool KeyStored(HiveName hive, std::string_view keyPath) const;

  void WriteFile(std::string_view relative, std::string_view bytes);

  // The known version: the service key in both control sets, AppInit_DLLs naming the library
  // (and LoadAppInit_DLLs 1) in the native view, the library and the driver.
  void InstallKnownVersion();

  // The bytes of the simulated library and driver.
  [[nodiscard]] static std::string LibraryBytes();
  [[nodiscard]] static std::string DriverBytes();

  // Every regular file below the root with its bytes' digest (for "nothing changed" checks).
  [[nodiscard]] std::vector<std::pair<std::string, std::string>> Fingerprint() const;

 private:
  std::string root_;
};

// Writes the SYSTEM and SOFTWARE hives of a fresh installation (as WindowsTree has them) into
// the folder; throws when they cannot be written.
void WriteWindowsHives(const std::string& configFolder, bool is64Bit);
// Sets one value in a hive file (raw data as stored), creating the keys on the way.
void SetHiveFileValue(const std::string& hivePath, std::string_view keyPath, std::string_view name,
                      std::uint32_t type, std::string_view data);

// Creates a key (and its parents) in a hive file.
void AddHiveFileKey(const std::string& hivePath, std::string_view keyPath);
// A value or a key as a hive file stores it now, read through hivex (see WindowsTree).
[[nodiscard]] std::optional<HiveValue> StoredHiveFileValue(const std::string& hivePath,
                                                           std::string_view keyPath,
                                                           std::string_view name);
[[nodiscard]] bool HiveFileKeyStored(const std::string& hivePath, std::string_view keyPath);

// UTF-16LE bytes of ASCII text with its terminating NUL, as a hive stores REG_SZ.
[[nodiscard]] std::string HiveString(std::string_view ascii);

}  // namespace lk::test
