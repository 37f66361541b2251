// lkscan --root on Linux: the real program over a Windows-like tree whose hives were built for the
// test, as a rescue system would run it on the mounted system drive of an installation that is
// not running.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "system/offline/Hive.h"
#include "tests/support/BlankHive.h"
#include "tests/support/WindowsTree.h"

namespace lk {
namespace {

using Json = nlohmann::json;
using test::HiveName;
using ::testing::HasSubstr;

struct ScanRun {
  int exitCode = -1;
  std::vector<Json> records;
  std::string out;
  std::string err;

  [[nodiscard]] std::vector<Json> OfType(std::string_view type) const {
    std::vector<Json> found;
    for (const Json& record : records) {
      if (record.value("type", "") == type) found.push_back(record);
    }
    return found;
  }
  [[nodiscard]] std::vector<Json> Findings(std::string_view check) const {
    std::vector<Json> found;
    for (const Json& record : OfType("finding")) {
      if (record.value("check", "") == check) found.push_back(record);
    }
    return found;
  }
  [[nodiscard]] Json Summary() const {
    const std::vector<Json> summaries = OfType("summary");
    return summaries.size() == 1 ? summaries[0] : Json();
  }
};

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted.push_back(c);
    }
  }
  return quoted + "'";
}

// Runs lkscan with the arguments; with --json its records are parsed.
ScanRun RunLkScan(const std::vector<std::string>& args) {
  const std::filesystem::path errors =
      std::filesystem::temp_directory_path() / ("lkscan-root-test-" + std::to_string(getpid()));
  std::string command = Quoted(LK_LKSCAN_EXECUTABLE);
  for (const std::string& arg : args) command += " " + Quoted(arg);
  command += " 2>" + Quoted(errors.string());
  ScanRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = fread(buffer, 1, sizeof(buffer), pipe)) > 0) run.out.append(buffer, got);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(errors);
  run.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::filesystem::remove(errors);
  if (std::find(args.begin(), args.end(), "--json") != args.end()) {
    std::size_t start = 0;
    while (start < run.out.size()) {
      const std::size_t end = run.out.find('\n', start);
      const std::string line = run.out.substr(start, end - start);
      if (!line.empty()) run.records.push_back(Json::parse(line));
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  return run;
}

TEST(LkScanRoot, TheKnownVersionInTheHivesAndFilesIsFoundAndNothingIsWritten) {
  test::WindowsTree tree;
  tree.InstallKnownVersion();
  const auto before = tree.Fingerprint();
  const ScanRun run = RunLkScan({"--json", "--root", tree.Root()});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_EQ(tree.Fingerprint(), before) << "the hives and every other file keep their bytes";

  const std::vector<Json> services = run.Findings("service");
  ASSERT_EQ(services.size(), 3U) << run.out;
  EXPECT_EQ(services[0]["key"], "HKLM\\SYSTEM\\CurrentControlSet\\services\\winsys32");
  EXPECT_EQ(services[0]["data"], "system32\\drivers\\winsys32.sys");
  EXPECT_EQ(services[1]["key"], "HKLM\\SYSTEM\\ControlSet002\\Services\\winsys32")
      << "the LastKnownGood set would load it again";
  EXPECT_EQ(services[2]["name"], "winsys32") << "registered with the service manager";
  EXPECT_FALSE(services[2].contains("key"));

  const std::vector<Json> appInit = run.Findings("appinit");
  ASSERT_EQ(appInit.size(), 1U) << run.out;
  EXPECT_EQ(appInit[0]["view"], "64");
  EXPECT_EQ(appInit[0]["data"], "mfc42ul.dll");

  const std::vector<Json> library = run.Findings("library-file");
  ASSERT_EQ(library.size(), 1U);
  EXPECT_EQ(library[0]["path"], "C:\\Windows\\System32\\mfc42ul.dll");
  EXPECT_EQ(library[0]["identified"], true);
  EXPECT_EQ(library[0]["size"], test::WindowsTree::LibraryBytes().size());
  const std::vector<Json> driver = run.Findings("driver-file");
  ASSERT_EQ(driver.size(), 1U);
  EXPECT_EQ(driver[0]["path"], "C:\\Windows\\System32\\Drivers\\winsys32.sys");
  EXPECT_EQ(driver[0]["identified"], true);
  EXPECT_TRUE(run.Findings("device").empty());

  const Json summary = run.Summary();
  EXPECT_EQ(summary["verdict"], "infected");
  EXPECT_EQ(summary["skipped"], 0) << "the device is not applicable, not skipped";
  EXPECT_EQ(summary["exit_code"], 1);
}

TEST(LkScanRoot, TheDeviceAndTheAppInitSettingsAreNotesNotFindings) {
  test::WindowsTree tree;
  tree.InstallKnownVersion();
  const ScanRun run = RunLkScan({"--json", "--no-sweep", "--root", tree.Root()});
  std::vector<std::string> device;
  std::vector<std::string> appInit;
  for (const Json& note : run.OfType("note")) {
    if (note["topic"] == "device") device.push_back(note["text"]);
    if (note["topic"] == "appinit") appInit.push_back(note["text"]);
  }
  ASSERT_EQ(device.size(), 1U) << run.out;
  EXPECT_THAT(device[0], HasSubstr("KeyboardClassC"));
  EXPECT_THAT(appInit,
              ::testing::ElementsAre(HasSubstr("LoadAppInit_DLLs = 1 (64-Bit-Ansicht)"),
                                     HasSubstr("RequireSignedAppInit_DLLs = 1 (64-Bit-Ansicht)"),
                                     HasSubstr("Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion"
                                               "\\Windows\\LoadAppInit_DLLs = 0 (32-Bit-Ansicht)"),
                                     HasSubstr("RequireSignedAppInit_DLLs = 1 (32-Bit-Ansicht)")));
}

TEST(LkScanRoot, ACleanInstallationIsSweptInBothSystemFoldersAndExitsZero) {
  test::WindowsTree tree;
  const auto before = tree.Fingerprint();
  const ScanRun run = RunLkScan({"--json", "--root", tree.Root()});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  const Json summary = run.Summary();
  EXPECT_EQ(summary["verdict"], "clean");
  std::size_t libraries = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(tree.Host("Windows"))) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && (name.ends_with(".dll") || name.ends_with(".sys"))) ++libraries;
  }
  ASSERT_GT(libraries, 0U) << "Wine's libraries were not found";
  EXPECT_EQ(summary["files_examined"], libraries) << "System32, SysWOW64 and the drivers";
  EXPECT_EQ(tree.Fingerprint(), before);
}

TEST(LkScanRoot, A32BitInstallationHasOneViewAndOneSystemFolder) {
  test::WindowsTree tree(test::WindowsTreeOptions{false, true});
  tree.InstallKnownVersion();
  const ScanRun run = RunLkScan({"--json", "--root", tree.Root()});
  const std::vector<Json> appInit = run.Findings("appinit");
  ASSERT_EQ(appInit.size(), 1U);
  EXPECT_FALSE(appInit[0].contains("view"));
  EXPECT_EQ(run.Findings("library-file").size(), 1U);
  EXPECT_EQ(run.Summary()["skipped"], 0) << run.out;
}

TEST(LkScanRoot, ADamagedHiveExitsTwoAndIsNamed) {
  test::WindowsTree tree(test::WindowsTreeOptions{true, false});
  std::string bytes;
  {
    std::ifstream in(tree.HivePath(HiveName::System), std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bytes.replace(0, 4, "regx");
  {
    std::ofstream out(tree.HivePath(HiveName::System), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  const ScanRun run = RunLkScan({"--json", "--root", tree.Root()});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_THAT(run.err, HasSubstr(tree.HivePath(HiveName::System)));
  EXPECT_TRUE(run.records.empty()) << run.out;
}

TEST(LkScanRoot, AFolderThatHoldsNoInstallationOrNoRootExitsTwo) {
  const std::filesystem::path empty = std::filesystem::temp_directory_path();
  const ScanRun noInstallation = RunLkScan({"--root", empty.string()});
  EXPECT_EQ(noInstallation.exitCode, 2);
  EXPECT_THAT(noInstallation.err, HasSubstr("SYSTEM"));
  const ScanRun noRoot = RunLkScan({"--json"});
  EXPECT_EQ(noRoot.exitCode, 2);
  EXPECT_THAT(noRoot.err, HasSubstr("--root"));
}

TEST(LkScanRoot, AHiveOfAnUncleanShutdownIsNoted) {
  test::WindowsTree tree(test::WindowsTreeOptions{true, false});
  const std::string path = tree.HivePath(HiveName::Software);
  std::string bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  test::WriteDword(bytes, 4, test::ReadDword(bytes, 8) + 1);
  test::WriteDword(bytes, test::kChecksumField, test::BaseBlockChecksum(bytes));
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  const ScanRun run = RunLkScan({"--json", "--no-sweep", "--root", tree.Root()});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  bool noted = false;
  for (const Json& note : run.OfType("note")) {
    if (note["topic"] == "registry" &&
        note["text"].get<std::string>().find(path) != std::string::npos) {
      noted = true;
    }
  }
  EXPECT_TRUE(noted) << run.out;
}

// The whole cycle offline: a removal keeps the hives whole and every change in the quarantine on
// the examined disk, and a restore from there puts the trojan's entries back.
TEST(LkScanRoot, RemoveThenRestoreOfflineGivesBackTheEntries) {
  test::WindowsTree tree;
  tree.InstallKnownVersion();
  const std::string windows = "Microsoft\\Windows NT\\CurrentVersion\\Windows";
  const auto appInit = tree.StoredValue(HiveName::Software, windows, "AppInit_DLLs");
  ASSERT_TRUE(appInit.has_value());

  const ScanRun removal = RunLkScan({"--json", "--no-sweep", "--remove", "--root", tree.Root()});
  EXPECT_EQ(removal.exitCode, 1) << removal.err;
  for (const Json& action : removal.OfType("action")) EXPECT_EQ(action["ok"], true) << action;
  const Json summary = removal.Summary();
  ASSERT_TRUE(summary["quarantine"].is_string()) << removal.out;
  const std::string qdir = summary["quarantine"];
  EXPECT_EQ(qdir.rfind("C:\\ProgramData\\Anti-Lauschkobold\\Quarantine\\", 0), 0U) << qdir;
  EXPECT_FALSE(std::filesystem::exists(tree.Host("Windows/System32/mfc42ul.dll")));
  EXPECT_FALSE(std::filesystem::exists(tree.Host("Windows/System32/drivers/winsys32.sys")));
  for (const char* set : {"ControlSet001", "ControlSet002"}) {
    EXPECT_FALSE(tree.KeyStored(HiveName::System, std::string(set) + "\\Services\\winsys32"))
        << set;
  }
  EXPECT_NE(tree.StoredValue(HiveName::Software, windows, "AppInit_DLLs"), appInit);
  // Both hives were kept whole before their first change.
  std::string relative = qdir.substr(3);
  std::replace(relative.begin(), relative.end(), '\\', '/');
  std::ifstream manifestFile(tree.Host(relative) + "/manifest.json");
  const Json manifest = Json::parse(manifestFile, nullptr, false);
  int backups = 0;
  for (const Json& item : manifest.value("items", Json::array())) {
    if (item.value("kind", "") == "backup") ++backups;
  }
  EXPECT_EQ(backups, 2) << manifest.dump();
  int reportedBackups = 0;
  for (const Json& action : removal.OfType("action")) {
    const std::string target = action.value("target", "");
    if (action["action"] == "quarantine" &&
        target.find("\\System32\\config\\") != std::string::npos) {
      ++reportedBackups;
    }
  }
  EXPECT_EQ(reportedBackups, 2) << "each hive kept whole is told as a quarantine action";
  EXPECT_EQ(RunLkScan({"--json", "--no-sweep", "--root", tree.Root()}).exitCode, 0);

  const ScanRun restore = RunLkScan({"--json", "--restore", qdir, "--root", tree.Root()});
  EXPECT_EQ(restore.exitCode, 0) << restore.out << restore.err;
  EXPECT_EQ(tree.StoredValue(HiveName::Software, windows, "AppInit_DLLs"), appInit);
  EXPECT_TRUE(tree.KeyStored(HiveName::System, "ControlSet001\\Services\\winsys32"));
  EXPECT_TRUE(tree.KeyStored(HiveName::System, "ControlSet001\\Services\\winsys32\\Enum"));
  std::ifstream library(tree.Host("Windows/System32/mfc42ul.dll"), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(library), {}),
            test::WindowsTree::LibraryBytes());
  EXPECT_EQ(RunLkScan({"--json", "--no-sweep", "--root", tree.Root()}).exitCode, 1);
}

}  // namespace
}  // namespace lk

namespace lk {
namespace {

// The names of a key's values or subkeys as the hive file holds them now.
std::vector<std::string> StoredNames(const test::WindowsTree& tree, HiveName hive,
                                     const Hive::KeyPath& key, bool subkeys) {
  std::string error;
  const std::unique_ptr<Hive> file = Hive::Open(tree.HivePath(hive), &error);
  if (!file) throw std::runtime_error(error);
  Hive::Node node = 0;
  std::vector<std::string> names;
  if (file->Find(key, &node) != 0) return names;
  const std::uint32_t listed =
      subkeys ? file->SubKeyNames(node, &names) : file->ValueNames(node, &names);
  if (listed != 0) throw std::runtime_error("cannot list " + tree.HivePath(hive));
  std::sort(names.begin(), names.end());
  return names;
}

void DeleteStoredValue(const test::WindowsTree& tree, HiveName hive, const Hive::KeyPath& key,
                       std::string_view name) {
  std::string error;
  const std::unique_ptr<Hive> file = Hive::Open(tree.HivePath(hive), &error);
  if (!file || file->DeleteValue(key, name) != 0) throw std::runtime_error("cannot delete");
}

// The run folder a removal left, as a host path below the tree.
std::string HostFolder(const test::WindowsTree& tree, std::string windowsPath) {
  std::string relative = windowsPath.substr(3);
  std::replace(relative.begin(), relative.end(), '\\', '/');
  return tree.Host(relative);
}

TEST(LkScanRootControlSets, ASelectCurrentThatNamesNoSetLeavesTheScanIncomplete) {
  const std::vector<std::function<void(test::WindowsTree&)>> breakings = {
      [](test::WindowsTree& tree) {
        DeleteStoredValue(tree, HiveName::System, {"Select"}, "Current");
      },
      [](test::WindowsTree& tree) { tree.SetString(HiveName::System, "Select", "Current", "1"); },
      [](test::WindowsTree& tree) { tree.SetDword(HiveName::System, "Select", "Current", 7); },
  };
  for (std::size_t i = 0; i < breakings.size(); ++i) {
    test::WindowsTree tree({.is64Bit = true, .wineLibraries = false});
    breakings[i](tree);
    const ScanRun run = RunLkScan({"--json", "--no-sweep", "--root", tree.Root()});
    EXPECT_EQ(run.exitCode, 2) << i << run.out << run.err;
    const std::vector<Json> skipped = run.OfType("skipped");
    ASSERT_EQ(skipped.size(), 1U) << i << run.out;
    EXPECT_EQ(skipped[0]["path"], "HKLM\\SYSTEM\\Select\\Current") << i;
    EXPECT_THAT(skipped[0].value("reason", ""), HasSubstr("Steuersatz")) << i;
  }
}

TEST(LkScanRootControlSets, AServiceKeyOnlyInLastKnownGoodIsFoundRemovedAndPutBackThere) {
  test::WindowsTree tree({.is64Bit = true, .wineLibraries = false});
  const std::string key = "ControlSet002\\Services\\winsys32";
  tree.SetString(HiveName::System, key, "ImagePath", "system32\\drivers\\winsys32.sys", 2);
  const auto imagePath = tree.StoredValue(HiveName::System, key, "ImagePath");

  const ScanRun scan = RunLkScan({"--json", "--no-sweep", "--root", tree.Root()});
  EXPECT_EQ(scan.exitCode, 1) << scan.out;
  const std::vector<Json> services = scan.Findings("service");
  ASSERT_EQ(services.size(), 1U) << scan.out;
  EXPECT_EQ(services[0]["key"], "HKLM\\SYSTEM\\ControlSet002\\Services\\winsys32");

  const ScanRun removal = RunLkScan({"--json", "--no-sweep", "--remove", "--root", tree.Root()});
  EXPECT_EQ(removal.exitCode, 1) << removal.err;
  ASSERT_FALSE(removal.OfType("action").empty()) << removal.out;
  for (const Json& action : removal.OfType("action")) EXPECT_EQ(action["ok"], true) << action;
  EXPECT_FALSE(tree.KeyStored(HiveName::System, key));
  EXPECT_EQ(RunLkScan({"--json", "--no-sweep", "--root", tree.Root()}).exitCode, 0);

  const std::string qdir = removal.Summary().value("quarantine", "");
  const ScanRun restore = RunLkScan({"--json", "--restore", qdir, "--root", tree.Root()});
  EXPECT_EQ(restore.exitCode, 0) << restore.out << restore.err;
  EXPECT_EQ(StoredNames(tree, HiveName::System, {"ControlSet002", "Services", "winsys32"}, false),
            std::vector<std::string>{"ImagePath"});
  EXPECT_EQ(tree.StoredValue(HiveName::System, key, "ImagePath"), imagePath);
  EXPECT_FALSE(tree.KeyStored(HiveName::System, "ControlSet001\\Services\\winsys32"))
      << "the set that never had it does not get it";
}

TEST(LkScanRootRestore, AServiceKeyComesBackInEverySetWithExactlyWhatItHad) {
  test::WindowsTree tree({.is64Bit = true, .wineLibraries = false});
  for (const char* set : {"ControlSet001", "ControlSet002"}) {
    const std::string key = std::string(set) + "\\Services\\winsys32";
    tree.SetString(HiveName::System, key, "ImagePath", "system32\\drivers\\winsys32.sys", 2);
    tree.SetString(HiveName::System, key + "\\Enum", "0", "Root\\LEGACY_WINSYS32\\0000");
  }
  const ScanRun removal = RunLkScan({"--json", "--no-sweep", "--remove", "--root", tree.Root()});
  EXPECT_EQ(removal.exitCode, 1) << removal.err;
  for (const char* set : {"ControlSet001", "ControlSet002"}) {
    EXPECT_FALSE(tree.KeyStored(HiveName::System, std::string(set) + "\\Services\\winsys32"));
  }
  const std::string qdir = removal.Summary().value("quarantine", "");
  const ScanRun restore = RunLkScan({"--json", "--restore", qdir, "--root", tree.Root()});
  EXPECT_EQ(restore.exitCode, 0) << restore.out << restore.err;
  for (const char* set : {"ControlSet001", "ControlSet002"}) {
    const Hive::KeyPath key = {set, "Services", "winsys32"};
    EXPECT_EQ(StoredNames(tree, HiveName::System, key, false),
              std::vector<std::string>{"ImagePath"})
        << set << ": no Type, Start or ErrorControl added";
    EXPECT_EQ(StoredNames(tree, HiveName::System, key, true), std::vector<std::string>{"Enum"})
        << set;
    EXPECT_EQ(
        tree.StoredValue(HiveName::System, std::string(set) + "\\Services\\winsys32\\Enum", "0"),
        (HiveValue{1, test::HiveString("Root\\LEGACY_WINSYS32\\0000")}))
        << set;
  }
}

// A run folder written by hand, as an attacker with write access to the quarantine would.
struct CraftedRun {
  std::string windowsPath = "C:\\ProgramData\\Anti-Lauschkobold\\Quarantine\\20260101T000000Z";
  std::string host;

  explicit CraftedRun(const test::WindowsTree& tree) : host(HostFolder(tree, windowsPath)) {
    std::filesystem::create_directories(host);
    for (std::filesystem::path folder = host; folder != tree.Root() && folder.has_parent_path();
         folder = folder.parent_path()) {
      std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    }
  }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream out(host + "/" + name, std::ios::binary | std::ios::trunc);
    out << text;
  }
  void Manifest(const Json& items) const {
    Write("manifest.json",
          Json{{"format", "lkscan-quarantine"}, {"format_version", 1}, {"items", items}}.dump());
  }
};

Json AppInitRecord(const std::string& key, const std::string& name) {
  return Json{{"kind", "registry-value"},
              {"key", key},
              {"view", "64"},
              {"name", name},
              {"type", 1},
              {"encoding", "text"},
              {"data", std::string("evil.dll\0", 9)}};
}

TEST(LkScanRootRestore, ARecordThatNoRemovalWritesIsRefusedAndNothingChanges) {
  const std::string sha = std::string(64, 'a');
  const std::vector<Json> records = {
      AppInitRecord("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "evil"),
      AppInitRecord("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows", "Shell"),
      Json{{"kind", "service"},
           {"name", "evil"},
           {"key", "SYSTEM\\CurrentControlSet\\Services\\evil"},
           {"view", "64"},
           {"tree", {{"values", Json::array()}, {"subkeys", Json::array()}}}},
      Json{{"kind", "service"},
           {"name", "winsys32"},
           {"key", "SYSTEM\\Select\\Services\\winsys32"},
           {"view", "64"},
           {"tree", {{"values", Json::array()}, {"subkeys", Json::array()}}}},
      Json{{"kind", "file"},
           {"path", "C:\\Windows\\System32\\evil.dll"},
           {"copy", "0001.lkq"},
           {"size", 4},
           {"sha256", sha},
           {"attributes", 0},
           {"creation_time", 0},
           {"last_access_time", 0},
           {"last_write_time", 0}},
      Json{{"kind", "backup"}, {"path", "C:\\Windows\\win.ini"}, {"copy", "0001.lkq"}},
  };
  for (const Json& record : records) {
    test::WindowsTree tree({.is64Bit = true, .wineLibraries = false});
    const CraftedRun run(tree);
    // A valid record first: nothing of it may be put back either.
    run.Manifest(Json::array(
        {AppInitRecord("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows", "AppInit_DLLs"),
         record}));
    run.Write("0001.lkq", "evil");
    const auto before = tree.Fingerprint();
    const ScanRun restore =
        RunLkScan({"--json", "--restore", run.windowsPath, "--root", tree.Root()});
    EXPECT_EQ(restore.exitCode, 2) << record << restore.out;
    EXPECT_EQ(restore.OfType("skipped").size(), 1U) << record << restore.out;
    EXPECT_TRUE(restore.OfType("action").empty()) << record << restore.out;
    EXPECT_EQ(tree.Fingerprint(), before) << record;
  }
}

TEST(LkScanRootRestore, RecordsLinkedManyTimesOverStopAtTheRunsCap) {
  test::WindowsTree tree({.is64Bit = true, .wineLibraries = false});
  const CraftedRun run(tree);
  // A valid record padded to 30 MiB, and the same file under nine more names: ten of them hold
  // more than a restore reads in all.
  std::string record =
      AppInitRecord("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows", "AppInit_DLLs")
          .dump();
  record.resize(30 * 1024 * 1024, ' ');
  run.Write("0001.json", record);
  for (int number = 2; number <= 10; ++number) {
    char name[16] = {};
    std::snprintf(name, sizeof(name), "%04d.json", number);
    std::filesystem::create_hard_link(run.host + "/0001.json", run.host + "/" + name);
  }
  const std::string windows = "Microsoft\\Windows NT\\CurrentVersion\\Windows";
  const auto before = tree.StoredValue(HiveName::Software, windows, "AppInit_DLLs");
  const ScanRun restore =
      RunLkScan({"--json", "--restore", run.windowsPath, "--root", tree.Root()});
  EXPECT_EQ(restore.exitCode, 2) << restore.out;
  const std::vector<Json> skipped = restore.OfType("skipped");
  ASSERT_EQ(skipped.size(), 1U) << restore.out;
  EXPECT_THAT(skipped[0].value("reason", ""), HasSubstr("zusammen zu groß"));
  EXPECT_EQ(tree.StoredValue(HiveName::Software, windows, "AppInit_DLLs"), before);
}

TEST(LkScanRootRestore, ARecordOfMillionsOfTinyElementsStopsAtTheRunsElementCap) {
  test::WindowsTree tree({.is64Bit = true, .wineLibraries = false});
  const CraftedRun run(tree);
  // Small on disk, large once parsed: every "0," is an element of its own.
  std::string record = "{\"kind\":\"registry-value\",\"pad\":[";
  for (int i = 0; i < 2200 * 1024; ++i) record += "0,";
  record += "0]}";
  run.Write("0001.json", record);
  const ScanRun restore =
      RunLkScan({"--json", "--restore", run.windowsPath, "--root", tree.Root()});
  EXPECT_EQ(restore.exitCode, 2) << restore.out;
  const std::vector<Json> skipped = restore.OfType("skipped");
  ASSERT_EQ(skipped.size(), 1U) << restore.out;
  EXPECT_THAT(skipped[0].value("reason", ""), HasSubstr("zu viele Teile"));
}

// UTF-16LE bytes of ASCII text, without a NUL.
std::string Utf16(std::string_view ascii) {
  std::string bytes;
  for (const char c : ascii) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

TEST(LkScanRootRestore, ValuesKeepTheirTypeAndBytesThroughRemovalAndRestore) {
  test::WindowsTree tree({.is64Bit = true, .wineLibraries = false});
  const std::string windows = "Microsoft\\Windows NT\\CurrentVersion\\Windows";
  // REG_EXPAND_SZ, another entry with a lone surrogate, and no terminating NUL.
  const std::string other = Utf16("a") + std::string("\x00\xD8", 2) + Utf16(".dll");
  const HiveValue appInit{2, other + Utf16(" mfc42ul.dll")};
  tree.SetValue(HiveName::Software, windows, "AppInit_DLLs", appInit.type, appInit.data);
  const std::string service = "ControlSet001\\Services\\winsys32";
  tree.SetString(HiveName::System, service, "ImagePath", "system32\\drivers\\winsys32.sys", 2);
  const HiveValue group{1, Utf16("Boot") + "\x42"};  // an odd byte count
  tree.SetValue(HiveName::System, service, "Group", group.type, group.data);

  const ScanRun removal = RunLkScan({"--json", "--no-sweep", "--remove", "--root", tree.Root()});
  EXPECT_EQ(removal.exitCode, 1) << removal.err;
  EXPECT_EQ(tree.StoredValue(HiveName::Software, windows, "AppInit_DLLs"), (HiveValue{2, other}))
      << "the other entry keeps its type and bytes";
  EXPECT_FALSE(tree.KeyStored(HiveName::System, service));

  const std::string qdir = removal.Summary().value("quarantine", "");
  const ScanRun restore = RunLkScan({"--json", "--restore", qdir, "--root", tree.Root()});
  EXPECT_EQ(restore.exitCode, 0) << restore.out << restore.err;
  EXPECT_EQ(tree.StoredValue(HiveName::Software, windows, "AppInit_DLLs"), appInit);
  EXPECT_EQ(tree.StoredValue(HiveName::System, service, "Group"), group);
  EXPECT_EQ(StoredNames(tree, HiveName::System, {"ControlSet001", "Services", "winsys32"}, false),
            (std::vector<std::string>{"Group", "ImagePath"}));
}

}  // namespace
}  // namespace lk
