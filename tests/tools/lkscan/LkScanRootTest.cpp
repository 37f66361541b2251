// lkscan --root on Linux: the real program over a Windows-like tree whose hives were built for the
// test, as a rescue system would run it on the mounted system drive of an installation that is
// not running.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "system/offline/Hive.h"
#include "system/offline/HiveLogReplay.h"
#include "system/offline/HiveText.h"
#include "tests/support/BlankHive.h"
#include "tests/support/HiveLogWriter.h"
#include "tests/support/WindowsTree.h"
#include "tests/tools/lkscan/LkScanRun.h"

namespace lk {
namespace {

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

using Json = nlohmann::json;
using test::HiveName;
using ::testing::HasSubstr;
using ::testing::Not;

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
  // Even a run that could not start ends its records with the summary and its exit code.
  ASSERT_FALSE(run.records.empty()) << run.out;
  EXPECT_EQ(run.records.back().value("type", ""), "summary");
  EXPECT_EQ(run.Summary()["exit_code"], 2);
  ASSERT_EQ(run.OfType("skipped").size(), 1U) << run.out;
  EXPECT_THAT(run.OfType("skipped")[0]["reason"].get<std::string>(),
              HasSubstr(tree.HivePath(HiveName::System)));
}

// hivex reads a hive cut at a bin boundary as a complete, smaller hive: the length its base
// block declares tells the cut.
TEST(LkScanRoot, AHiveCutShortOfItsDeclaredSizeIsDamaged) {
  test::WindowsTree tree(test::WindowsTreeOptions{true, false});
  const std::string path = tree.HivePath(HiveName::Software);
  std::string bytes = ReadBytes(path);
  ASSERT_GT(test::HiveBinsSize(bytes), 4096U) << "the hive needs more than one bin to be cut";
  bytes.resize(test::kBaseBlockSize + 4096);
  WriteBytes(path, bytes);
  const ScanRun run = RunLkScan({"--json", "--no-sweep", "--root", tree.Root()});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_THAT(run.err, HasSubstr(path));
  EXPECT_EQ(run.Summary()["exit_code"], 2) << run.out;
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

// A dirty hive whose logs are missing was not examined as Windows would load it, and it is not
// changed: writing the primary alone would mark it clean and lose what the logs hold.
TEST(LkScanRoot, ADirtyHiveWithoutItsLogsIsNotExaminedAndNotChanged) {
  test::WindowsTree tree(test::WindowsTreeOptions{true, false});
  tree.InstallKnownVersion();
  const std::string path = tree.HivePath(HiveName::Software);
  std::string bytes = ReadBytes(path);
  bytes = test::MarkDirty(bytes, test::ReadDword(bytes, 8));
  WriteBytes(path, bytes);
  const ScanRun scan = RunLkScan({"--json", "--no-sweep", "--root", tree.Root()});
  bool named = false;
  for (const Json& skipped : scan.OfType("skipped")) {
    named = named || (skipped["path"] == "C:\\Windows\\System32\\config\\SOFTWARE" &&
                      skipped["reason"].get<std::string>().find(path) != std::string::npos);
  }
  EXPECT_TRUE(named) << scan.out;
  EXPECT_EQ(scan.exitCode, 1) << "the service key in SYSTEM is still found";

  const ScanRun removal = RunLkScan({"--json", "--no-sweep", "--remove", "--root", tree.Root()});
  EXPECT_EQ(ReadBytes(path), bytes) << "the dirty hive keeps its bytes";
  bool refused = false;
  for (const Json& action : removal.OfType("action")) {
    refused = refused || (action["action"] == "registry-write" && action["ok"] == false);
  }
  EXPECT_TRUE(refused) << removal.out;

  // Without anything to find, the gap alone decides.
  test::WindowsTree clean(test::WindowsTreeOptions{true, false});
  const std::string cleanPath = clean.HivePath(HiveName::System);
  std::string cleanBytes = ReadBytes(cleanPath);
  WriteBytes(cleanPath, test::MarkDirty(cleanBytes, test::ReadDword(cleanBytes, 8)));
  EXPECT_EQ(RunLkScan({"--json", "--no-sweep", "--root", clean.Root()}).exitCode, 2);
}

// Changes that reached only the logs, as a flush of Windows 8.1 and later leaves them: the
// primary as it was, marked dirty, and LOG1 with the pages that changed (LOG2 with an older,
// applied entry).
struct LoggedChange {
  std::string primary;   // on disk, dirty
  std::string replayed;  // what Windows would load
};

LoggedChange MoveChangesIntoLogs(test::WindowsTree& tree, HiveName hive,
                                 const std::function<void()>& change) {
  const std::string path = tree.HivePath(hive);
  const std::string before = ReadBytes(path);
  change();
  const std::string after = ReadBytes(path);
  const std::uint32_t sequence = test::ReadDword(before, 8);
  LoggedChange logged{test::MarkDirty(before, sequence), ""};
  WriteBytes(path, logged.primary);
  test::NewFormatLog log1(before, sequence);
  log1.Add(sequence, test::HiveBinsSize(after), test::ChangedPages(before, after));
  test::NewFormatLog log2(before, sequence - 1);
  log2.Add(sequence - 1, test::HiveBinsSize(before), {});
  WriteBytes(path + ".LOG1", log1.Bytes());
  WriteBytes(path + ".LOG2", log2.Bytes());
  const HiveReplay replay = HiveLogReplay::Run(logged.primary, {{"LOG1", log1.Bytes()}});
  EXPECT_EQ(replay.outcome, HiveReplay::Outcome::Replayed) << replay.failure;
  logged.replayed = replay.hive;
  return logged;
}

// Every key and value of a hive file, as hivex reads it ("key\\path" -> values by name).
using HiveDump = std::map<std::string, std::map<std::string, HiveValue>>;

void DumpKey(Hive& hive, const Hive::KeyPath& path, HiveDump& dump) {
  Hive::Node node = 0;
  ASSERT_EQ(hive.Find(path, &node), 0U);
  std::string name;
  for (const std::string& part : path) name += (name.empty() ? "" : "\\") + part;
  std::vector<std::string> values;
  ASSERT_EQ(hive.ValueNames(node, &values), 0U);
  auto& stored = dump[name];
  for (const std::string& value : values) {
    ASSERT_EQ(hive.ReadValue(node, value, &stored[value]), 0U);
  }
  std::vector<std::string> children;
  ASSERT_EQ(hive.SubKeyNames(node, &children), 0U);
  for (const std::string& child : children) {
    Hive::KeyPath childPath = path;
    childPath.push_back(child);
    DumpKey(hive, childPath, dump);
  }
}

HiveDump Dump(const std::string& bytes) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("lkscan-root-dump-" + std::to_string(getpid())))
          .string();
  WriteBytes(path, bytes);
  std::string error;
  HiveDump dump;
  if (auto hive = Hive::Open(path, &error)) DumpKey(*hive, {}, dump);
  std::filesystem::remove(path);
  EXPECT_FALSE(dump.empty()) << error;
  return dump;
}

constexpr char kWindowsSubKey[] = "Microsoft\\Windows NT\\CurrentVersion\\Windows";

void InstallOnlyInLogs(test::WindowsTree& tree, LoggedChange* system, LoggedChange* software) {
  *system = MoveChangesIntoLogs(tree, HiveName::System, [&] {
    tree.SetString(HiveName::System, "ControlSet001\\Services\\winsys32", "ImagePath",
                   "system32\\drivers\\winsys32.sys", 2);
    tree.SetString(HiveName::System, "ControlSet001\\Services\\OnlyInTheLog", "ImagePath",
                   "system32\\drivers\\newer.sys", 2);
  });
  *software = MoveChangesIntoLogs(tree, HiveName::Software, [&] {
    tree.SetString(HiveName::Software, kWindowsSubKey, "AppInit_DLLs", "other.dll mfc42ul.dll");
  });
}

TEST(LkScanRoot, AServiceKeyAndAnAppInitEntryOnlyInTheLogsAreFound) {
  test::WindowsTree tree(test::WindowsTreeOptions{true, false});
  LoggedChange system;
  LoggedChange software;
  InstallOnlyInLogs(tree, &system, &software);
  EXPECT_FALSE(tree.KeyStored(HiveName::System, "ControlSet001\\Services\\winsys32"))
      << "hivex alone does not see it";
  const auto before = tree.Fingerprint();
  const ScanRun run = RunLkScan({"--json", "--no-sweep", "--root", tree.Root()});
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  int serviceKeys = 0;
  for (const Json& service : run.Findings("service")) {
    if (service.value("data", "") == "system32\\drivers\\winsys32.sys") ++serviceKeys;
  }
  EXPECT_EQ(serviceKeys, 1) << run.out;
  ASSERT_EQ(run.Findings("appinit").size(), 1U) << run.out;
  EXPECT_EQ(run.Findings("appinit")[0]["data"], "other.dll mfc42ul.dll");
  int notes = 0;
  for (const Json& note : run.OfType("note")) {
    if (note["topic"] == "registry" &&
        note["text"].get<std::string>().find("LOG1 Eintrag") != std::string::npos) {
      ++notes;
    }
  }
  EXPECT_EQ(notes, 2) << "each replayed hive says which entries were applied: " << run.out;
  EXPECT_EQ(run.Summary()["skipped"], 0) << run.out;
  EXPECT_EQ(tree.Fingerprint(), before) << "the primaries and the logs keep their bytes";
}

// Windows sees one file per name: two logs whose names differ only in case leave open which one
// it would read, so the hive is not examined as replayed.
TEST(LkScanRoot, TwoLogsWhoseNamesDifferOnlyInCaseLeaveTheHiveUnexamined) {
  test::WindowsTree tree(test::WindowsTreeOptions{true, false});
  LoggedChange system;
  LoggedChange software;
  InstallOnlyInLogs(tree, &system, &software);
  const std::string path = tree.HivePath(HiveName::System);
  WriteBytes(path + ".log1", ReadBytes(path + ".LOG2"));
  const ScanRun run = RunLkScan({"--json", "--no-sweep", "--root", tree.Root()});
  bool named = false;
  for (const Json& skipped : run.OfType("skipped")) {
    named = named || skipped["reason"].get<std::string>().find("SYSTEM.log1") != std::string::npos;
  }
  EXPECT_TRUE(named) << run.out;
  EXPECT_EQ(run.Findings("appinit").size(), 1U) << "the other hive is still replayed";
}

// After the removal, Windows' own recovery of what is on disk (the primary is clean, so no log
// applies) gives the replayed hive without the trojan's entries, and every other key and value;
// the restore gives back the primary and both logs as they were.
TEST(LkScanRoot, ARemovalOnADirtyHiveReconcilesItLosesNothingAndIsRestoredWhole) {
  test::WindowsTree tree(test::WindowsTreeOptions{true, false});
  LoggedChange system;
  LoggedChange software;
  InstallOnlyInLogs(tree, &system, &software);
  const std::string logBytes = ReadBytes(tree.HivePath(HiveName::System) + ".LOG1");
  std::vector<std::string> hiveFiles;
  for (const HiveName hive : {HiveName::System, HiveName::Software}) {
    for (const char* suffix : {"", ".LOG1", ".LOG2"})
      hiveFiles.push_back(tree.HivePath(hive) + suffix);
  }
  std::vector<std::string> original;
  for (const std::string& file : hiveFiles) original.push_back(ReadBytes(file));
  const ScanRun removal = RunLkScan({"--json", "--no-sweep", "--remove", "--root", tree.Root()});
  EXPECT_EQ(removal.exitCode, 1) << removal.out << removal.err;
  for (const Json& action : removal.OfType("action")) EXPECT_EQ(action["ok"], true) << action;

  for (const auto& [hive, logged] :
       {std::pair{HiveName::System, &system}, std::pair{HiveName::Software, &software}}) {
    const std::string path = tree.HivePath(hive);
    const std::string primary = ReadBytes(path);
    const HiveReplay recovery = HiveLogReplay::Run(
        primary, {{"LOG1", ReadBytes(path + ".LOG1")}, {"LOG2", ReadBytes(path + ".LOG2")}});
    EXPECT_EQ(recovery.outcome, HiveReplay::Outcome::Clean) << path;
    HiveDump expected = Dump(logged->replayed);
    HiveDump actual = Dump(primary);
    if (hive == HiveName::System) {
      EXPECT_EQ(expected.erase("ControlSet001\\Services\\winsys32"), 1U);
      EXPECT_EQ(actual.count("ControlSet001\\Services\\OnlyInTheLog"), 1U);
    } else {
      const HiveValue left = actual[kWindowsSubKey]["AppInit_DLLs"];
      EXPECT_EQ(TextFromHiveString(left.data).find("mfc42ul"), std::string::npos);
      EXPECT_NE(TextFromHiveString(left.data).find("other.dll"), std::string::npos);
      expected[kWindowsSubKey].erase("AppInit_DLLs");
      actual[kWindowsSubKey].erase("AppInit_DLLs");
    }
    EXPECT_EQ(actual, expected) << path;
  }
  EXPECT_EQ(ReadBytes(tree.HivePath(HiveName::System) + ".LOG1"), logBytes)
      << "the logs stay as they are";
  // The primaries and all four logs were kept whole before the first change.
  const std::string qdir = removal.Summary().value("quarantine", "");
  std::string relative = qdir.substr(std::min<std::size_t>(3, qdir.size()));
  std::replace(relative.begin(), relative.end(), '\\', '/');
  std::ifstream manifestFile(tree.Host(relative) + "/manifest.json");
  const Json manifest = Json::parse(manifestFile, nullptr, false);
  int backups = 0;
  for (const Json& item : manifest.value("items", Json::array())) {
    if (item.value("kind", "") == "backup") ++backups;
  }
  EXPECT_EQ(backups, 6) << manifest.dump();
  EXPECT_EQ(RunLkScan({"--json", "--no-sweep", "--root", tree.Root()}).exitCode, 0);

  // The restore puts each primary and its logs back byte for byte.
  const ScanRun restore = RunLkScan({"--json", "--restore", qdir, "--root", tree.Root()});
  EXPECT_EQ(restore.exitCode, 0) << restore.out << restore.err;
  for (std::size_t i = 0; i < hiveFiles.size(); ++i) {
    EXPECT_EQ(ReadBytes(hiveFiles[i]), original[i]) << hiveFiles[i];
  }
  EXPECT_EQ(RunLkScan({"--json", "--no-sweep", "--root", tree.Root()}).exitCode, 1);
}

// The bytes of the files a removal changes: the hives and the two known files.
std::vector<std::string> RemovalTargets(const test::WindowsTree& tree) {
  return {ReadBytes(tree.HivePath(HiveName::System)), ReadBytes(tree.HivePath(HiveName::Software)),
          ReadBytes(tree.Host("Windows/System32/mfc42ul.dll")),
          ReadBytes(tree.Host("Windows/System32/drivers/winsys32.sys"))};
}

// hivex frees a key's class name without looking at its offset and aborts on one outside the
// hive: the removal checks every cell it will free before it changes anything.
TEST(LkScanRoot, AServiceKeyWithAClassNameOutsideTheHiveStopsTheRemovalBeforeAnyChange) {
  test::WindowsTree tree(test::WindowsTreeOptions{true, false});
  tree.InstallKnownVersion();
  const std::string path = tree.HivePath(HiveName::System);
  Hive::Node node = 0;
  {
    std::string error;
    auto hive = Hive::Open(path, &error);
    ASSERT_TRUE(hive) << error;
    ASSERT_EQ(hive->Find({"ControlSet002", "Services", "winsys32", "Enum"}, &node), 0U);
  }
  std::string bytes = ReadBytes(path);
  test::WriteDword(bytes, node + 4 + 48, 0x7FFFFFF0U);  // class name offset
  WriteBytes(path, bytes);
  const auto before = RemovalTargets(tree);

  const ScanRun removal = RunLkScan({"--json", "--no-sweep", "--remove", "--root", tree.Root()});
  EXPECT_EQ(removal.exitCode, 2) << removal.out << removal.err;
  EXPECT_EQ(RemovalTargets(tree), before) << "nothing was changed";
  bool told = false;
  for (const Json& skipped : removal.OfType("skipped")) {
    told = told || skipped["reason"].get<std::string>().find("Klassenname") != std::string::npos;
  }
  EXPECT_TRUE(told) << removal.out;
  EXPECT_EQ(removal.Summary()["exit_code"], 2) << removal.out;
}

// A subkey list that points outside the hive on the way to the service key or AppInit_DLLs
// hides the key from hivex: that is a key not examined, never an absent one.
TEST(LkScanRoot, ASubkeyListOutsideTheHiveOnTheWayIsNotExaminedNotAbsent) {
  for (const HiveName broken : {HiveName::System, HiveName::Software}) {
    test::WindowsTree tree(test::WindowsTreeOptions{true, false});
    const std::string path = tree.HivePath(broken);
    const Hive::KeyPath on = broken == HiveName::System ? Hive::KeyPath{"ControlSet001", "Services"}
                                                        : Hive::KeyPath{"Microsoft", "Windows NT"};
    Hive::Node node = 0;
    {
      std::string error;
      auto hive = Hive::Open(path, &error);
      ASSERT_TRUE(hive) << error;
      ASSERT_EQ(hive->Find(on, &node), 0U);
    }
    std::string bytes = ReadBytes(path);
    test::WriteDword(bytes, node + 4 + 28, 0x7FFFFFF0U);  // subkey list offset
    WriteBytes(path, bytes);
    const ScanRun run = RunLkScan({"--json", "--no-sweep", "--root", tree.Root()});
    SCOPED_TRACE(path);
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_FALSE(run.OfType("skipped").empty()) << run.out;
  }
}

// A hive may give a value any 32-bit type number; the removal rewrites the other values of the
// key with theirs.
TEST(LkScanRoot, AValueOfAnyTypeNumberIsReadAndKept) {
  test::WindowsTree tree(test::WindowsTreeOptions{true, false});
  tree.InstallKnownVersion();
  const std::string windows = "Microsoft\\Windows NT\\CurrentVersion\\Windows";
  tree.SetValue(HiveName::Software, windows, "LoadAppInit_DLLs", 0x00100001U,
                std::string("\1\0\0\0", 4));
  const ScanRun scan = RunLkScan({"--json", "--no-sweep", "--root", tree.Root()});
  EXPECT_EQ(scan.exitCode, 1) << scan.err;
  EXPECT_THAT(scan.err, Not(HasSubstr("runtime error")));
  const ScanRun removal = RunLkScan({"--json", "--no-sweep", "--remove", "--root", tree.Root()});
  EXPECT_EQ(removal.exitCode, 1) << removal.err;
  const auto kept = tree.StoredValue(HiveName::Software, windows, "LoadAppInit_DLLs");
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(kept->type, 0x00100001U);
  EXPECT_EQ(kept->data, std::string("\1\0\0\0", 4));
}

// Seeded mutations of both hives, each scanned and then removed from: whatever the damage, the
// run ends with its summary and an exit code, never with an abort or a sanitizer report.
TEST(LkScanRoot, MutatedHivesNeverAbortAScanOrARemoval) {
  std::mt19937 random(0x4C4B);
  const auto started = std::chrono::steady_clock::now();
  int rounds = 0;
  // Bounded in rounds and in time: a slow machine runs fewer.
  while (rounds < 40 && std::chrono::steady_clock::now() - started < std::chrono::seconds(30)) {
    ++rounds;
    test::WindowsTree tree(test::WindowsTreeOptions{true, false});
    tree.InstallKnownVersion();
    for (const HiveName hive : {HiveName::System, HiveName::Software}) {
      const std::string path = tree.HivePath(hive);
      // The keys the removal deletes or rewrites, where hivex trusts the most offsets.
      std::vector<Hive::Node> targets;
      {
        std::string error;
        auto opened = Hive::Open(path, &error);
        ASSERT_TRUE(opened) << error;
        const std::vector<Hive::KeyPath> keys =
            hive == HiveName::System
                ? std::vector<Hive::KeyPath>{{"ControlSet001", "Services", "winsys32"},
                                             {"ControlSet002", "Services", "winsys32", "Enum"}}
                : std::vector<Hive::KeyPath>{
                      {"Microsoft", "Windows NT", "CurrentVersion", "Windows"}};
        for (const Hive::KeyPath& key : keys) {
          Hive::Node node = 0;
          if (opened->Find(key, &node) == 0) targets.push_back(node);
        }
      }
      std::string bytes = ReadBytes(path);
      // A key's counts and the offsets of its lists, security cell and class name (counted from
      // the cell's size field) get values that point outside the hive, nowhere, or beside a
      // cell; other bytes anywhere in the bins change at random.
      static constexpr std::size_t kFields[] = {24, 32, 40, 44, 48, 52};
      static constexpr std::uint32_t kDwords[] = {0x7FFFFFF0U, 0xFFFFFFFFU, 0, 8, 0x20, 0x1000};
      const std::size_t flips = 1 + random() % 8;
      for (std::size_t i = 0; i < flips; ++i) {
        if (!targets.empty() && random() % 2 == 0) {
          const std::size_t at = targets[random() % targets.size()] + kFields[random() % 6];
          test::WriteDword(bytes, at, kDwords[random() % std::size(kDwords)]);
        } else {
          const std::size_t at =
              test::kBaseBlockSize + random() % (bytes.size() - test::kBaseBlockSize);
          bytes[at] = static_cast<char>(random());
        }
      }
      WriteBytes(path, bytes);
    }
    for (const bool remove : {false, true}) {
      std::vector<std::string> args{"--json", "--no-sweep", "--root", tree.Root()};
      if (remove) args.insert(args.begin() + 2, "--remove");
      const ScanRun run = RunLkScan(args);
      SCOPED_TRACE("round " + std::to_string(rounds) + (remove ? " removal" : " scan"));
      EXPECT_TRUE(run.exitCode >= 0 && run.exitCode <= 2) << run.exitCode << run.err;
      EXPECT_THAT(run.err, Not(HasSubstr("runtime error")));
      EXPECT_THAT(run.err, Not(HasSubstr("Sanitizer")));
      ASSERT_FALSE(run.records.empty()) << run.err;
      EXPECT_EQ(run.records.back().value("type", ""), "summary") << run.out << run.err;
    }
  }
  EXPECT_GT(rounds, 0);
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

TEST(LkScanRootThreads, ManyThreadsGiveTheRecordsTheirOrderAndTheExitCodeOfOne) {
  test::WindowsTree tree;
  tree.InstallKnownVersion();
  // Sweep hits spread among Wine's libraries, and entries that are passed over between them.
  const std::string library = test::WindowsTree::LibraryBytes();
  for (const char* name : {"aaa.dll", "kernel33.dll", "mmm.dll", "zzz.dll"}) {
    tree.WriteFile(std::string("Windows/System32/") + name, library);
    tree.WriteFile(std::string("Windows/SysWOW64/") + name, library);
  }
  tree.WriteFile("Windows/System32/drivers/aaa.sys", test::WindowsTree::DriverBytes());
  ASSERT_EQ(::mkfifo(tree.Host("Windows/System32/pipe.dll").c_str(), 0644), 0);
  std::filesystem::create_symlink(tree.Host("Windows/System32/aaa.dll"),
                                  tree.Host("Windows/System32/link.dll"));

  const ScanRun one = RunLkScan({"--json", "-j", "1", "--root", tree.Root()});
  ASSERT_EQ(one.exitCode, 1) << one.err;
  ASSERT_GE(one.Findings("sweep-library").size(), 8U) << one.out;
  EXPECT_EQ(one.Summary()["skipped"], 2) << one.out;
  for (const std::string threads : {"2", "4", "7"}) {
    const ScanRun many = RunLkScan({"--json", "-j", threads, "--root", tree.Root()});
    EXPECT_EQ(many.exitCode, one.exitCode) << "-j " << threads;
    EXPECT_EQ(many.out, one.out) << "-j " << threads;
  }
  const ScanRun joined = RunLkScan({"--json", "-j4", "--root", tree.Root()});
  EXPECT_EQ(joined.out, one.out);
  const ScanRun text = RunLkScan({"-j", "1", "--root", tree.Root()});
  EXPECT_EQ(RunLkScan({"-j", "3", "--root", tree.Root()}).out, text.out);
}

TEST(LkScanRootThreads, AThreadCountOutsideOneToSixtyFourIsAUsageError) {
  test::WindowsTree tree;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-j", "0"}, {"-j", "65"}, {"-j", "x"}, {"-j"}, {"-j1", "-j2"}}) {
    std::vector<std::string> full = args;
    full.insert(full.begin(), {"--root", tree.Root()});
    const ScanRun run = RunLkScan(full);
    EXPECT_EQ(run.exitCode, 2) << args[0];
    EXPECT_THAT(run.err, HasSubstr("-j")) << args[0];
    EXPECT_EQ(run.out, "") << "nothing examined";
  }
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
