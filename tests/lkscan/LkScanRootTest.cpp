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
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/lkscan/LkScanRun.h"
#include "tests/support/BlankHive.h"
#include "tests/support/WindowsTree.h"

namespace lk {
namespace {

using Json = nlohmann::json;
using test::HiveName;
using ::testing::HasSubstr;

TEST(LkScanRoot, TheKnownVersionInTheHivesAndFilesIsFoundAndNothingIsWritten) {
  test::WindowsTree tree;
  tree.InstallKnownVersion();
  const auto before = tree.Fingerprint();
  const ScanRun run = RunLkScan({"--json", "--root", tree.Root()});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_EQ(tree.Fingerprint(), before) << "the hives and every other file keep their bytes";

  const std::vector<Json> services = run.Findings("service");
  ASSERT_EQ(services.size(), 2U) << run.out;
  EXPECT_EQ(services[0]["key"], "HKLM\\SYSTEM\\CurrentControlSet\\services\\winsys32");
  EXPECT_EQ(services[0]["data"], "system32\\drivers\\winsys32.sys");
  EXPECT_EQ(services[1]["name"], "winsys32") << "registered with the service manager";
  EXPECT_FALSE(services[1].contains("key"));

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
