#include "tests/support/WindowsTree.h"

#include <hivex.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "base/WindowsPath.h"
#include "tests/support/BlankHive.h"

namespace lk::test {

namespace {

namespace fs = std::filesystem;

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct HiveCloser {
  void operator()(hive_h* hive) const noexcept { static_cast<void>(hivex_close(hive)); }
};

// Opens the hive for writing, runs change on it and commits; throws when any step fails.
void EditHive(const std::string& path, std::string_view keyPath,
              const std::function<void(hive_h*, hive_node_h)>& change) {
  std::unique_ptr<hive_h, HiveCloser> hive(hivex_open(path.c_str(), HIVEX_OPEN_WRITE));
  if (!hive) throw std::runtime_error("hivex_open failed for " + path);
  hive_node_h node = hivex_root(hive.get());
  for (const std::string& name : PathParts(keyPath)) {
    hive_node_h child = hivex_node_get_child(hive.get(), node, name.c_str());
    if (child == 0) child = hivex_node_add_child(hive.get(), node, name.c_str());
    if (child == 0) throw std::runtime_error("cannot add key " + name + " to " + path);
    node = child;
  }
  change(hive.get(), node);
  // A new file renamed over the old: a system that has the old one open keeps reading it whole.
  const std::string fresh = path + ".edit";
  if (hivex_commit(hive.get(), fresh.c_str(), 0) != 0 || rename(fresh.c_str(), path.c_str()) != 0) {
    throw std::runtime_error("hivex_commit failed for " + path);
  }
}

// A short digest of bytes, enough to tell a change (FNV-1a, 64 bits).
std::string Digest(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  return std::to_string(hash) + "/" + std::to_string(bytes.size());
}

std::string Utf16(std::string_view ascii) {
  std::string bytes;
  for (const char c : ascii) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

void SetHiveValue(const std::string& path, std::string_view keyPath, std::string_view name,
                  std::uint32_t type, std::string_view data) {
  EditHive(path, keyPath, [&](hive_h* h, hive_node_h node) {
    std::string key(name);
    std::string bytes(data);
    // Any type number: hive_type cannot hold most of them, so the bytes are copied.
    hive_set_value value{key.data(), hive_t_REG_NONE, bytes.size(), bytes.data()};
    std::memcpy(&value.t, &type, sizeof(value.t));
    if (hivex_node_set_value(h, node, &value, 0) != 0) {
      throw std::runtime_error("cannot set value " + key);
    }
  });
}

std::string Dword(std::uint32_t number) {
  std::string bytes(4, '\0');
  WriteDword(bytes, 0, number);
  return bytes;
}

}  // namespace

void SetHiveFileValue(const std::string& hivePath, std::string_view keyPath, std::string_view name,
                      std::uint32_t type, std::string_view data) {
  SetHiveValue(hivePath, keyPath, name, type, data);
}

void WriteWindowsHives(const std::string& configFolder, bool is64Bit) {
  const std::string system = configFolder + "/SYSTEM";
  const std::string software = configFolder + "/SOFTWARE";
  if (!WriteBlankHive(system, "SYSTEM") || !WriteBlankHive(software, "SOFTWARE")) {
    throw std::runtime_error("cannot write the blank hives into " + configFolder);
  }
  SetHiveValue(system, "Select", "Current", 4, Dword(1));
  SetHiveValue(system, "Select", "Default", 4, Dword(1));
  SetHiveValue(system, "Select", "LastKnownGood", 4, Dword(2));
  SetHiveValue(system, "Select", "Failed", 4, Dword(0));
  for (const char* set : {"ControlSet001", "ControlSet002"}) {
    const std::string beep = std::string(set) + "\\Services\\Beep";
    SetHiveValue(system, beep, "ImagePath", 2, HiveString("system32\\drivers\\beep.sys"));
    SetHiveValue(system, beep, "Start", 4, Dword(1));
    SetHiveValue(system, beep, "Type", 4, Dword(1));
    EditHive(system, std::string(set) + "\\Control\\Session Manager", [](hive_h*, hive_node_h) {});
  }
  std::vector<std::string> windowsKeys = {"Microsoft\\Windows NT\\CurrentVersion\\Windows"};
  if (is64Bit) {
    windowsKeys.emplace_back("Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Windows");
  }
  for (const std::string& key : windowsKeys) {
    SetHiveValue(software, key, "AppInit_DLLs", 1, HiveString(""));
    SetHiveValue(software, key, "LoadAppInit_DLLs", 4, Dword(0));
    SetHiveValue(software, key, "RequireSignedAppInit_DLLs", 4, Dword(1));
  }
}

std::string HiveString(std::string_view ascii) { return Utf16(ascii) + std::string(2, '\0'); }

WindowsTree::WindowsTree(WindowsTreeOptions options) {
  std::string pattern = (fs::temp_directory_path() / "lk-windows-tree-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  fs::create_directories(Host("Windows/System32/config"));
  fs::create_directories(Host("Windows/System32/drivers"));
  fs::create_directories(Host("ProgramData"));
  if (options.is64Bit) fs::create_directories(Host("Windows/SysWOW64"));
  WriteWindowsHives(Host("Windows/System32/config"), options.is64Bit);

  if (options.wineLibraries) {
    const fs::path wine = LK_WINE_DLL_DIR;
    const auto copy = [&](const char* name, const std::string& folder) {
      std::error_code ignored;
      fs::copy_file(wine / name, fs::path(Host(folder)) / name, ignored);
    };
    for (const char* name : {"version.dll", "msimg32.dll", "ws2_32.dll"}) {
      copy(name, "Windows/System32");
      if (options.is64Bit) copy(name, "Windows/SysWOW64");
    }
    for (const char* name : {"cng.sys", "ksecdd.sys"}) copy(name, "Windows/System32/drivers");
  }
}

WindowsTree::~WindowsTree() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::string WindowsTree::Host(std::string_view relative) const {
  return root_ + "/" + std::string(relative);
}

std::string WindowsTree::HivePath(HiveName hive) const {
  return Host(hive == HiveName::System ? "Windows/System32/config/SYSTEM"
                                       : "Windows/System32/config/SOFTWARE");
}

void WindowsTree::AddKey(HiveName hive, std::string_view keyPath) {
  AddHiveFileKey(HivePath(hive), keyPath);
}

void AddHiveFileKey(const std::string& hivePath, std::string_view keyPath) {
  EditHive(hivePath, keyPath, [](hive_h*, hive_node_h) {});
}

void WindowsTree::SetValue(HiveName hive, std::string_view keyPath, std::string_view name,
                           std::uint32_t type, std::string_view data) {
  SetHiveValue(HivePath(hive), keyPath, name, type, data);
}

void WindowsTree::SetString(HiveName hive, std::string_view keyPath, std::string_view name,
                            std::string_view ascii, std::uint32_t type) {
  SetValue(hive, keyPath, name, type, HiveString(ascii));
}

void WindowsTree::SetDword(HiveName hive, std::string_view keyPath, std::string_view name,
                           std::uint32_t number) {
  SetValue(hive, keyPath, name, 4, Dword(number));
}

void WindowsTree::WriteFile(std::string_view relative, std::string_view bytes) {
  const fs::path path = Host(relative);
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

std::string WindowsTree::LibraryBytes() {
  const std::string built = ReadWhole(LK_FIXTURE_LIBRARY);
  return built.empty() ? std::string("MZ....c3po-R2D2-poe....") : built;
}

std::string WindowsTree::DriverBytes() {
  const std::string built = ReadWhole(LK_FIXTURE_DRIVER);
  return built.empty() ? "MZ.." + Utf16("\\DosDevices\\KeyboardClassC") + ".." : built;
}

void WindowsTree::InstallKnownVersion() {
  for (const char* set : {"ControlSet001", "ControlSet002"}) {
    const std::string key = std::string(set) + "\\Services\\winsys32";
    SetString(HiveName::System, key, "ImagePath", "system32\\drivers\\winsys32.sys", 2);
    SetDword(HiveName::System, key, "Start", 1);
    SetDword(HiveName::System, key, "Type", 1);
    SetDword(HiveName::System, key, "ErrorControl", 1);
    AddKey(HiveName::System, key + "\\Enum");
  }
  const std::string windows = "Microsoft\\Windows NT\\CurrentVersion\\Windows";
  SetString(HiveName::Software, windows, "AppInit_DLLs", "mfc42ul.dll");
  SetDword(HiveName::Software, windows, "LoadAppInit_DLLs", 1);
  WriteFile("Windows/System32/mfc42ul.dll", LibraryBytes());
  WriteFile("Windows/System32/drivers/winsys32.sys", DriverBytes());
}

std::optional<HiveValue> WindowsTree::StoredValue(HiveName hive, std::string_view keyPath,
                                                  std::string_view name) const {
  return StoredHiveFileValue(HivePath(hive), keyPath, name);
}

bool WindowsTree::KeyStored(HiveName hive, std::string_view keyPath) const {
  return HiveFileKeyStored(HivePath(hive), keyPath);
}

std::optional<HiveValue> StoredHiveFileValue(const std::string& hivePath, std::string_view keyPath,
                                             std::string_view name) {
  std::unique_ptr<hive_h, HiveCloser> h(hivex_open(hivePath.c_str(), 0));
  if (!h) throw std::runtime_error("hivex_open failed for " + hivePath);
  hive_node_h node = hivex_root(h.get());
  for (const std::string& part : PathParts(keyPath)) {
    node = hivex_node_get_child(h.get(), node, part.c_str());
    if (node == 0) return std::nullopt;
  }
  const std::string key(name);
  const hive_value_h value = hivex_node_get_value(h.get(), node, key.c_str());
  if (value == 0) return std::nullopt;
  std::uint32_t type = 0;
  std::size_t length = 0;
  std::unique_ptr<char, decltype(&std::free)> data(
      hivex_value_value(h.get(), value, reinterpret_cast<hive_type*>(&type), &length), &std::free);
  return HiveValue{type, data ? std::string(data.get(), length) : std::string()};
}

bool HiveFileKeyStored(const std::string& hivePath, std::string_view keyPath) {
  std::unique_ptr<hive_h, HiveCloser> h(hivex_open(hivePath.c_str(), 0));
  if (!h) throw std::runtime_error("hivex_open failed for " + hivePath);
  hive_node_h node = hivex_root(h.get());
  for (const std::string& part : PathParts(keyPath)) {
    node = hivex_node_get_child(h.get(), node, part.c_str());
    if (node == 0) return false;
  }
  return true;
}

std::vector<std::pair<std::string, std::string>> WindowsTree::Fingerprint() const {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& entry : fs::recursive_directory_iterator(root_)) {
    if (!entry.is_regular_file()) continue;
    files.emplace_back(entry.path().string().substr(root_.size()), Digest(ReadWhole(entry.path())));
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace lk::test
