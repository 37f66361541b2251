// lkscan on a scripted PC: what it finds and reports, in JSON Lines and in German text, what its
// exit code says, and that a scan changes nothing on the machine.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

#include "quarantine/Quarantine.h"
#include "scan/Scanner.h"
#include "system/posix/PosixFileStore.h"
#include "tests/analysis/AnalysisFixture.h"
#include "tools/lkscan/LkScan.h"
#include "tools/lkscan/ScanOutput.h"

namespace lk::testing {
namespace {

using Json = nlohmann::json;

class LkScan : public AnalysisFixture {
 protected:
  PosixFileStore store{*files};

  struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
    std::vector<Json> records;
  };

  // Runs lkscan with the arguments on the fixture's machine.
  Result Scan(std::vector<std::string> args) {
    class Target final : public ScanTarget {
     public:
      Target(SystemAccess& system, FileSystem& files, FileStore& store)
          : system_(system), files_(files), store_(store) {}
      SystemAccess& System() override { return system_; }
      FileSystem& Files() override { return files_; }
      FileStore& Store() override { return store_; }

     private:
      SystemAccess& system_;
      FileSystem& files_;
      FileStore& store_;
    };
    std::ostringstream out;
    std::ostringstream err;
    const LkScanHost host{[&](const std::optional<std::string>&, std::string*) {
                            return std::make_unique<Target>(system, *holding, store);
                          },
                          out, err, false};
    Result result;
    result.exitCode = RunLkScan(args, host);
    result.out = out.str();
    result.err = err.str();
    if (std::find(args.begin(), args.end(), "--json") != args.end()) {
      std::istringstream lines(result.out);
      for (std::string line; std::getline(lines, line);) {
        result.records.push_back(Json::parse(line));  // every line is one whole object
      }
    }
    return result;
  }

  static std::vector<Json> Of(const Result& result, std::string_view type) {
    std::vector<Json> records;
    for (const Json& record : result.records) {
      if (record.at("type") == type) records.push_back(record);
    }
    return records;
  }

  static std::multiset<std::string> Checks(const Result& result) {
    std::multiset<std::string> checks;
    for (const Json& finding : Of(result, "finding")) checks.insert(finding.at("check"));
    return checks;
  }

  // Everything a scan could change.
  struct MachineState {
    decltype(std::declval<ScriptedSystem>().RegistrySnapshot()) registry;
    std::vector<std::string> files;
    std::vector<std::string> services;
    std::vector<std::string> pending;
    std::size_t logLines;
    bool operator==(const MachineState&) const = default;
  };
  MachineState State() const {
    return {system.RegistrySnapshot(), system.Files(), system.ServiceNames(),
            system.PendingDeletions(), system.Log().size()};
  }
};

TEST_F(LkScan, ACleanMachineIsCleanWithExitZeroAndAClosingSummary) {
  AddFile("C:\\WINDOWS\\system32\\kernel32.dll", "MZ harmless");
  AddFile("C:\\WINDOWS\\system32\\Drivers\\null.sys", "MZ harmless");
  const Result result = Scan({"--json"});
  EXPECT_EQ(result.exitCode, 0);
  ASSERT_FALSE(result.records.empty());
  const Json& summary = result.records.back();
  EXPECT_EQ(summary.at("type"), "summary");
  EXPECT_EQ(summary.at("verdict"), "clean");
  EXPECT_EQ(summary.at("skipped"), 0);
  EXPECT_EQ(summary.at("restart_required"), false);
  EXPECT_TRUE(summary.at("quarantine").is_null());
  EXPECT_EQ(summary.at("exit_code"), 0);
  EXPECT_EQ(summary.at("operation"), "scan");
  EXPECT_EQ(Of(result, "summary").size(), 1u);
  EXPECT_TRUE(Of(result, "finding").empty());
}

TEST_F(LkScan, TheKnownVersionIsFoundInEveryPlaceWithHashesAndNothingChanges) {
  InstallKnownVersion();
  const MachineState before = State();
  const Result result = Scan({"--json", "--no-sweep"});
  EXPECT_EQ(State(), before) << "a scan without --remove changed the machine";
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(Checks(result), (std::multiset<std::string>{"appinit", "device", "driver-file",
                                                        "library-file", "service", "service"}));
  for (const Json& finding : Of(result, "finding")) {
    if (finding.at("check") == "library-file") {
      EXPECT_EQ(finding.at("path"), "C:\\WINDOWS\\system32\\mfc42ul.dll");
      EXPECT_EQ(finding.at("size"), 23);
      // sha256sum of the bytes "MZ....c3po-R2D2-poe...."
      EXPECT_EQ(finding.at("sha256"),
                "bf0115e9034885877a0362b76cf05eed63496a09b56128413264e68935f17823");
      EXPECT_EQ(finding.at("identified"), true);
    }
    if (finding.at("check") == "appinit") {
      EXPECT_EQ(finding.at("key"),
                "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows");
      EXPECT_EQ(finding.at("value"), "AppInit_DLLs");
      EXPECT_EQ(finding.at("data"), "mfc42ul.dll");
    }
  }
  EXPECT_EQ(result.records.back().at("verdict"), "infected");
}

TEST_F(LkScan, OnlyASweepHitIsSuspicious) {
  AddFile("C:\\WINDOWS\\system32\\odd.dll", "MZ..KeyBoardClassC..");
  AddFile("C:\\WINDOWS\\system32\\fine.dll", "MZ..");
  const MachineState before = State();
  const Result result = Scan({"--json"});
  EXPECT_EQ(State(), before);
  EXPECT_EQ(result.exitCode, 1);
  ASSERT_EQ(Checks(result), std::multiset<std::string>{"sweep-library"});
  const Json finding = Of(result, "finding").front();
  EXPECT_EQ(finding.at("path"), "C:\\WINDOWS\\system32\\odd.dll");
  EXPECT_EQ(finding.at("size"), 20);
  EXPECT_EQ(finding.at("sha256").get<std::string>().size(), 64u);
  EXPECT_EQ(result.records.back().at("verdict"), "suspicious");
}

TEST_F(LkScan, WhatCannotBeReadIsSkippedAndANothingFoundScanIsIncomplete) {
  system.SetValue(kWindowsKey, "AppInit_DLLs", RegistryValue::Dword(1));
  const Result result = Scan({"--json", "--no-sweep"});
  EXPECT_EQ(result.exitCode, 2);
  const auto skipped = Of(result, "skipped");
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_EQ(skipped.front().at("path"),
            "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\AppInit_DLLs");
  EXPECT_FALSE(skipped.front().at("reason").get<std::string>().empty());
  EXPECT_EQ(result.records.back().at("skipped"), 1);
  EXPECT_EQ(result.records.back().at("verdict"), "incomplete");
}

TEST_F(LkScan, TheSummaryCountsWhatWasReadAndWhatCouldNotBe) {
  AddFile("C:\\WINDOWS\\system32\\a.dll", "MZ 1234");
  AddFile("C:\\WINDOWS\\system32\\b.dll", "MZ 12");
  AddFile("C:\\WINDOWS\\system32\\Drivers\\c.sys", "MZ");
  // A pipe where a library should be: never read, never waited for.
  ASSERT_EQ(::mkfifo((root / "WINDOWS/system32/pipe.dll").c_str(), 0600), 0);
  const Result result = Scan({"--json"});
  EXPECT_EQ(result.exitCode, 2) << "nothing found, but not everything examined";
  const Json& summary = result.records.back();
  EXPECT_EQ(summary.at("files_examined"), 3);
  EXPECT_EQ(summary.at("bytes_examined"), 7 + 5 + 2);
  EXPECT_EQ(summary.at("skipped"), 1);
  const auto skipped = Of(result, "skipped");
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_EQ(skipped.front().at("path"), "C:\\WINDOWS\\system32\\pipe.dll");
  EXPECT_EQ(skipped.front().at("reason"), "keine gewöhnliche Datei (Pipe, Socket oder Gerät)");
}

TEST_F(LkScan, WithoutASystemFolderNoFileIsTakenFromTheCurrentFolder) {
  system.SetSystemDirectory("");
  AddFile("C:\\WINDOWS\\system32\\mfc42ul.dll", "MZ....c3po-R2D2-poe....");
  AddAppInit("mfc42ul.dll");
  const Result result = Scan({"--json"});
  EXPECT_EQ(result.exitCode, 1) << "the registry was still read";
  EXPECT_EQ(Checks(result), std::multiset<std::string>{"appinit"});
  const auto skipped = Of(result, "skipped");
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_EQ(skipped.front().at("path"), "Systemordner");
  EXPECT_EQ(result.records.back().at("files_examined"), 0);
}

TEST_F(LkScan, ProgressCountsUpToTheTotalOfTheSweep) {
  class Recording final : public ScanReport {
   public:
    void Finding(const ScanFinding&) override {}
    void Action(const ScanAction&) override {}
    void Skipped(const ScanSkipped&) override {}
    void Note(const ScanNote&) override {}
    void Progress(const ScanProgress& progress) override { seen.push_back(progress); }
    void Summary(const ScanSummary&) override {}
    std::vector<ScanProgress> seen;
  } recording;
  AddFile("C:\\WINDOWS\\system32\\a.dll", "MZ 1234");
  AddFile("C:\\WINDOWS\\system32\\b.dll", "MZ 12");
  AddFile("C:\\WINDOWS\\system32\\Drivers\\c.sys", "MZ");
  Scanner scanner(system, *holding, recording);
  EXPECT_EQ(scanner.Run({}), 0);
  ASSERT_FALSE(recording.seen.empty());
  for (const ScanProgress& progress : recording.seen) EXPECT_EQ(progress.filesTotal, 3);
  EXPECT_EQ(recording.seen.back().currentFile, "C:\\WINDOWS\\system32\\Drivers\\c.sys");
}

TEST_F(LkScan, AScanThatBreaksOffSaysSoAndExitsTwo) {
  // A file layer that fails in a way no step expects.
  class BrokenFiles final : public FileSystem {
   public:
    std::unique_ptr<ReadableFile> OpenForReading(std::string_view, FileShare,
                                                 std::uint32_t*) override {
      throw std::runtime_error("Datenträger entfernt");
    }
    std::unique_ptr<DirectoryEnumeration> EnumerateDirectory(std::string_view,
                                                             std::string_view) override {
      throw std::runtime_error("Datenträger entfernt");
    }
    std::int64_t ToLocalFileTime(std::int64_t ticks) override { return ticks; }
  };
  class Target final : public ScanTarget {
   public:
    Target(SystemAccess& system, FileStore& store) : system_(system), store_(store) {}
    SystemAccess& System() override { return system_; }
    FileSystem& Files() override { return files_; }
    FileStore& Store() override { return store_; }

   private:
    SystemAccess& system_;
    FileStore& store_;
    BrokenFiles files_;
  };
  AddLibrary();
  std::ostringstream out;
  std::ostringstream err;
  const LkScanHost host{[&](const std::optional<std::string>&, std::string*) {
                          return std::make_unique<Target>(system, store);
                        },
                        out, err, false};
  EXPECT_EQ(RunLkScan({"--json"}, host), 2);
  EXPECT_NE(err.str().find("die Untersuchung brach ab: Datenträger entfernt"), std::string::npos)
      << err.str();
  // The records of a broken scan still end with a summary that carries the exit code.
  EXPECT_NE(out.str().find("\"exit_code\":2,\"operation\":\"scan\"}\n"), std::string::npos)
      << out.str();
}

TEST_F(LkScan, ASkipDoesNotHideAFinding) {
  system.SetValue(kWindowsKey, "AppInit_DLLs", RegistryValue::Dword(1));
  AddDevice();
  EXPECT_EQ(Scan({"--json", "--no-sweep"}).exitCode, 1);
}

TEST_F(LkScan, On64BitWindowsTheNativeAndThe32BitSystemFoldersAreSwept) {
  system.SetRunningUnderWow64(true);
  AddFile("C:\\WINDOWS\\SysWOW64\\variant.dll", "MZ..KeyBoardClassC..");
  AddFile("C:\\WINDOWS\\SysWOW64\\mfc42ul.dll", "MZ....c3po-R2D2-poe....");
  AddFile("C:\\WINDOWS\\system32\\Drivers\\variant.sys", "MZ.." + Utf16("KeyBoardClassC"));
  const Result result = Scan({"--json"});
  EXPECT_EQ(result.exitCode, 1);
  std::multiset<std::string> found;
  for (const Json& finding : Of(result, "finding")) {
    found.insert(finding.at("check").get<std::string>() + " " +
                 finding.at("path").get<std::string>());
  }
  // The library in SysWOW64 is the known version and matches the sweep as well.
  EXPECT_EQ(found,
            (std::multiset<std::string>{"library-file C:\\WINDOWS\\SysWOW64\\mfc42ul.dll",
                                        "sweep-driver C:\\WINDOWS\\system32\\Drivers\\variant.sys",
                                        "sweep-library C:\\WINDOWS\\SysWOW64\\mfc42ul.dll",
                                        "sweep-library C:\\WINDOWS\\SysWOW64\\variant.dll"}));
  EXPECT_FALSE(system.RedirectionDisabled()) << "the redirection is switched back on";
}

TEST_F(LkScan, On64BitWindowsBothRegistryViewsAreRead) {
  system.SetRunningUnderWow64(true);
  system.SetValue(kWindowsKey, "AppInit_DLLs", RegistryValue::String("a.dll"));
  system.SetValue("SOFTWARE\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Windows",
                  "AppInit_DLLs", RegistryValue::String("MFC42UL.DLL"));
  Result result = Scan({"--json", "--no-sweep"});
  EXPECT_EQ(result.exitCode, 1);
  auto findings = Of(result, "finding");
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings.front().at("view"), "32");
  EXPECT_EQ(findings.front().at("key"),
            "HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Windows");
  EXPECT_EQ(findings.front().at("data"), "MFC42UL.DLL");

  // And the native one, which a 32-bit program does not see by default.
  system.SetValue(kWindowsKey, "AppInit_DLLs", RegistryValue::String("mfc42ul.dll"));
  result = Scan({"--json", "--no-sweep"});
  findings = Of(result, "finding");
  ASSERT_EQ(findings.size(), 2u);
  EXPECT_EQ(findings.front().at("view"), "64");
  EXPECT_EQ(findings.front().at("key"),
            "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows");
}

TEST_F(LkScan, TheTextFormSpeaksGermanAndEndsWithTheResult) {
  InstallKnownVersion();
  const Result result = Scan({"--no-sweep"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.out.find("GEFUNDEN    Bibliotheksdatei C:\\WINDOWS\\system32\\mfc42ul.dll"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("Kennung bestätigt"), std::string::npos);
  EXPECT_NE(result.out.find("Ergebnis: infiziert."), std::string::npos);
  EXPECT_TRUE(result.err.empty()) << "no progress line when stderr is no terminal";
}

TEST_F(LkScan, ArgumentsThatDoNotFitTheUsageExitTwoAndChangeNothing) {
  InstallKnownVersion();
  const MachineState before = State();
  for (const auto& args : std::vector<std::vector<std::string>>{{"--bogus"},
                                                                {"--root"},
                                                                {"--quarantine", "q"},
                                                                {"--help", "--json"},
                                                                {"--restore", "q", "--remove"}}) {
    const Result result = Scan(args);
    EXPECT_EQ(result.exitCode, 2) << args.front();
    EXPECT_TRUE(result.out.empty()) << args.front();
    EXPECT_NE(result.err.find("Aufruf:"), std::string::npos) << args.front();
  }
  EXPECT_EQ(State(), before);
  EXPECT_EQ(Scan({"--help"}).exitCode, 0);
}

TEST_F(LkScan, RemoveAndRestoreWithoutAdministratorRightsExitTwoAtOnceAndChangeNothing) {
  InstallKnownVersion();
  std::filesystem::create_directories(root / "ProgramData");
  system.SetAdministratorRights(false);
  const MachineState before = State();
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--remove", "--json"}, {"--restore", "C:\\ProgramData\\q", "--json"}}) {
    const Result result = Scan(args);
    EXPECT_EQ(result.exitCode, 2) << args.front();
    // Nothing examined: no finding, only why and the summary with its exit code.
    EXPECT_EQ(result.out.find("\"finding\""), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("\"exit_code\":2"), std::string::npos) << result.out;
    EXPECT_NE(result.err.find("Administrator"), std::string::npos) << result.err;
  }
  EXPECT_EQ(State(), before);
  EXPECT_TRUE(std::filesystem::is_empty(root / "ProgramData"));
}

TEST_F(LkScan, AnUntrustedQuarantineFolderStopsTheRemovalBeforeTheScan) {
  InstallKnownVersion();
  std::filesystem::create_directories(root / "shared");
  ::chmod((root / "shared").c_str(), 0777);
  const MachineState before = State();
  const Result result = Scan({"--remove", "--quarantine", "C:\\shared", "--json"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.out.find("\"finding\""), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("\"exit_code\":2"), std::string::npos) << result.out;
  EXPECT_NE(result.err.find("C:\\shared"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("nichts verändert"), std::string::npos) << result.err;
  EXPECT_EQ(State(), before);
}

TEST_F(LkScan, RestorePutsAQuarantinedFileBackAndSaysSoInBothForms) {
  AddLibrary();
  std::filesystem::create_directories(root / "ProgramData");
  QuarantineSettings settings;
  settings.programVersion = "test";
  Quarantine quarantine(system, *holding, store, settings);
  std::string error;
  ASSERT_TRUE(quarantine.Open(&error)) << error;
  ASSERT_TRUE(quarantine.KeepFile(kLibraryPath).ok);
  ASSERT_EQ(system.SystemFiles().DeleteFile(kLibraryPath), 0U);
  ASSERT_FALSE(HostFileExists(kLibraryPath));

  const Result text = Scan({"--restore", quarantine.Location()});
  EXPECT_EQ(text.exitCode, 0) << text.out << text.err;
  EXPECT_NE(text.out.find("AUSGEFÜHRT  Datei zurücklegen: C:\\WINDOWS\\system32\\mfc42ul.dll"),
            std::string::npos)
      << text.out;
  EXPECT_TRUE(HostFileExists(kLibraryPath));
  // A restore examined nothing: its last line must not read like a scan's verdict.
  EXPECT_NE(text.out.find("Wiederherstellung: alles zurückgelegt."), std::string::npos) << text.out;
  EXPECT_EQ(text.out.find("Ergebnis: sauber"), std::string::npos) << text.out;

  // Again, now that the file is back: it counts as restored, nothing is overwritten.
  const Result json = Scan({"--restore", quarantine.Location(), "--json"});
  EXPECT_EQ(json.exitCode, 0);
  const auto actions = Of(json, "action");
  ASSERT_EQ(actions.size(), 1u);
  EXPECT_EQ(actions[0].at("action"), "restore-file");
  EXPECT_EQ(actions[0].at("ok"), true);
  EXPECT_TRUE(actions[0].at("error").is_null());
  const Json& summary = json.records.back();
  EXPECT_EQ(summary.at("verdict"), "clean");
  EXPECT_EQ(summary.at("operation"), "restore");
  EXPECT_EQ(summary.at("quarantine"), quarantine.Location());
  EXPECT_EQ(summary.at("exit_code"), 0);

  const Result missing = Scan({"--restore", "C:\\ProgramData\\none", "--json"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_EQ(Of(missing, "skipped").size(), 1u);
}

// The whole cycle through the program: a removal keeps everything in a new quarantine run, and
// restoring that run gives back the registry, the files and the service as they were.
class LkScanRemoveThenRestore : public LkScan {
 protected:
  void InstallFullKnownVersion() {
    InstallKnownVersion();
    AddAppInit("first.dll,mfc42ul.dll  last.dll");
    system.SetValue(kServiceKey, "Type", RegistryValue::Dword(1));
    system.SetValue(kServiceKey, "Start", RegistryValue::Dword(3));
    system.SetValue(kServiceKey, "ErrorControl", RegistryValue::Dword(1));
    system.SetValue(std::string(kServiceKey) + "\\Security", "Security",
                    RegistryValue::Binary(std::string("\x01\0\x14\x80", 4)));
    std::filesystem::create_directories(root / "ProgramData");
  }

  void RemoveThenRestore() {
    const auto registry = FoldedRegistry();
    const auto hostFiles = HostFiles();

    const Result removal = Scan({"--json", "--no-sweep", "--remove"});
    EXPECT_EQ(removal.exitCode, 1) << removal.err;
    for (const Json& action : Of(removal, "action")) EXPECT_EQ(action.at("ok"), true) << action;
    const Json& summary = removal.records.back();
    ASSERT_TRUE(summary.at("quarantine").is_string()) << summary;
    EXPECT_FALSE(system.FileExists(kLibraryPath));
    EXPECT_FALSE(system.KeyExists(kServiceKey));
    // The stopped driver took its device with it on a real system; the model keeps devices apart.
    system.RemoveDevice(kDevice);
    const Result after = Scan({"--json", "--no-sweep"});
    EXPECT_EQ(after.exitCode, 0) << "the removal left something behind: " << after.out;

    const Result restore = Scan({"--json", "--restore", summary.at("quarantine")});
    EXPECT_EQ(restore.exitCode, 0) << restore.out << restore.err;
    EXPECT_EQ(FoldedRegistry(), registry);
    EXPECT_EQ(HostFiles(), hostFiles);
    EXPECT_TRUE(system.ServiceExists("winsys32"));
    EXPECT_TRUE(system.PendingDeletions().empty());
  }

  // Key paths compared as Windows compares them: without regard to case.
  std::map<std::string, std::map<std::string, RegistryValue>> FoldedRegistry() const {
    std::map<std::string, std::map<std::string, RegistryValue>> folded;
    for (const auto& [key, values] : system.RegistrySnapshot()) {
      std::string lower = key;
      std::transform(lower.begin(), lower.end(), lower.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      folded[lower] = values;
    }
    return folded;
  }

  // Every file of the drive folder (outside the quarantine) with its bytes.
  std::map<std::string, std::string> HostFiles() const {
    std::map<std::string, std::string> contents;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      const std::string relative = std::filesystem::relative(entry.path(), root).string();
      if (!entry.is_regular_file() || relative.rfind("ProgramData", 0) == 0) continue;
      std::ifstream file(entry.path(), std::ios::binary);
      contents[relative] = std::string(std::istreambuf_iterator<char>(file), {});
    }
    return contents;
  }
};

TEST_F(LkScanRemoveThenRestore, On32BitWindows) {
  InstallFullKnownVersion();
  RemoveThenRestore();
}

TEST_F(LkScanRemoveThenRestore, On64BitWindowsWithBothViewsAndBothSystemFolders) {
  system.SetRunningUnderWow64(true);
  AddFile("C:\\WINDOWS\\SysWOW64\\mfc42ul.dll", "MZ..c3po-R2D2-poe..32");
  system.SetValue("SOFTWARE\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Windows",
                  "AppInit_DLLs", RegistryValue::String("mfc42ul.dll"));
  InstallFullKnownVersion();
  RemoveThenRestore();
}

TEST(ProgressLineOnATerminal, DrawsInPlaceAndClearsBeforeEachRecord) {
  std::ostringstream records;
  std::ostringstream terminal;
  TextReport text(records);
  ProgressLine line(text, terminal);
  line.Progress({1, 3, 1048576, "C:\\WINDOWS\\system32\\a.dll"});
  EXPECT_EQ(terminal.str().rfind("\r\x1b[K1 von 3 Dateien, ", 0), 0u) << terminal.str();
  EXPECT_NE(terminal.str().find("C:\\WINDOWS\\system32\\a.dll"), std::string::npos);
  ScanFinding finding;
  finding.check = "device";
  finding.path = "\\\\.\\KeyboardClassC";
  line.Finding(finding);
  EXPECT_EQ(terminal.str().substr(terminal.str().size() - 4), "\r\x1b[K") << "cleared";
  EXPECT_NE(records.str().find("Gerät erreichbar"), std::string::npos);
  // A path too long for the line keeps its end, cut at a character boundary.
  line.Progress({2, 3, 0, "C:\\" + std::string(60, 'x') + "\\ä.dll"});
  EXPECT_NE(terminal.str().find("…"), std::string::npos);
  EXPECT_NE(terminal.str().find("\\ä.dll"), std::string::npos);
}

}  // namespace
}  // namespace lk::testing
