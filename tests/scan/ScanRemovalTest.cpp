// lkscan's removal on a scripted PC: the known version ends as the window's removal leaves it,
// the journal keeps each thing while it is still there, a thing that cannot be kept is not
// changed, both registry views and system folders of 64-bit Windows, and what the action records
// and the summary say.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <functional>
#include <set>
#include <sstream>

#include "scan/RemovalJournal.h"
#include "scan/Scanner.h"
#include "tests/analysis/AnalysisFixture.h"
#include "tools/lkscan/ScanOutput.h"

namespace lk::testing {
namespace {

using Json = nlohmann::json;

constexpr std::string_view kWow64Library = "C:\\WINDOWS\\SysWOW64\\mfc42ul.dll";
constexpr std::string_view kWow32WindowsKey =
    "SOFTWARE\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
constexpr std::string_view kLocation =
    "C:\\ProgramData\\Anti-Lauschkobold\\Quarantine\\2026-12-09T223000Z";

// A journal that writes down each request with what the machine held at that moment, and fails
// the requests it is told to fail.
class RecordingJournal final : public RemovalJournal {
 public:
  struct Call {
    std::string what;  // "file PATH", "value VIEW KEY", "service NAME"
    bool present = false;
    std::string held;  // the value's text; "running" for a running service
  };

  explicit RecordingJournal(ScriptedSystem& system) : system_(system) {}

  Kept KeepFile(std::string_view path) override {
    const std::string model = system_.RedirectedPath(path);
    const auto pending = system_.PendingDeletions();
    const bool pendingAlready = std::find(pending.begin(), pending.end(), path) != pending.end();
    return Record({"file " + std::string(path), system_.FileExists(model) && !pendingAlready, {}});
  }
  Kept KeepRegistryValue(RegistryView view, std::string_view key,
                         std::string_view valueName) override {
    // Read as the real journal reads: through the system, in the view it was given.
    Call call{
        "value " + std::to_string(static_cast<int>(view)) + " " + std::string(key), false, {}};
    auto registry = system_.ConnectRegistry(view);
    if (registry->OpenMachineKeyReadOnly(key) && registry->ValuePresent(valueName)) {
      call.present = true;
      call.held = registry->ReadStringValue(valueName);
    }
    return Record(std::move(call));
  }
  Kept KeepServiceKey(std::string_view serviceName) override {
    const std::optional<ServiceState> state = system_.CurrentServiceState(serviceName);
    return Record({"service " + std::string(serviceName),
                   system_.KeyExists(kServiceKey) && !system_.ServiceMarkedForDeletion(serviceName),
                   state == ServiceState::Running ? "running" : ""});
  }
  Kept KeepControlSetServiceKey(std::string_view controlSet,
                                std::string_view serviceName) override {
    return Record(
        {"service " + std::string(controlSet) + " " + std::string(serviceName), true, {}});
  }
  Kept KeepBackup(std::string_view path) override {
    return Record({"backup " + std::string(path), true, {}});
  }
  [[nodiscard]] std::string Location() const override {
    return kept_ ? std::string(kLocation) : std::string();
  }

  std::vector<Call> calls;
  // Requests whose text ("file PATH", ...) starts with one of these fail with this error.
  std::set<std::string> failing;
  std::string error = "Kopie fehlgeschlagen: kein Platz auf dem Datenträger";

 private:
  Kept Record(Call call) {
    const bool fail = std::any_of(failing.begin(), failing.end(), [&](const std::string& prefix) {
      return call.what.rfind(prefix, 0) == 0;
    });
    calls.push_back(std::move(call));
    if (fail) return {false, error};
    kept_ = true;
    return {true, {}};
  }

  ScriptedSystem& system_;
  bool kept_ = false;
};

// One scripted PC with its drive folder, as a plain object: the window's removal runs on one,
// lkscan's on another, and their states are compared.
class Pc final : public AnalysisFixture {
 public:
  using AnalysisFixture::AddAppInit;
  using AnalysisFixture::AddDriver;
  using AnalysisFixture::AddFile;
  using AnalysisFixture::AddLibrary;
  using AnalysisFixture::AddService;
  using AnalysisFixture::AddServiceKey;
  using AnalysisFixture::holding;
  using AnalysisFixture::HostFileExists;
  using AnalysisFixture::InstallKnownVersion;
  using AnalysisFixture::Start;
  using AnalysisFixture::system;
  void TestBody() override {}
};

struct Removed {
  int exitCode = -1;
  std::vector<Json> actions;  // as "action target ok"
  Json summary;
  std::vector<Json> records;
};

Removed RunRemoval(Pc& pc, RecordingJournal& journal, bool sweep = false) {
  std::ostringstream out;
  JsonLinesReport report(out);
  Scanner scanner(pc.system, *pc.holding, report);
  ScanOptions options;
  options.sweep = sweep;
  options.remove = true;
  options.journal = &journal;
  options.pacing = &pc.system;
  Removed removed;
  removed.exitCode = scanner.Run(options);
  std::istringstream lines(out.str());
  for (std::string line; std::getline(lines, line);) {
    removed.records.push_back(Json::parse(line));
    if (removed.records.back().at("type") == "action") {
      removed.actions.push_back(removed.records.back());
    }
  }
  removed.summary = removed.records.back();
  return removed;
}

// "action target" for each record that succeeded, "action target FAILED: error" for the others.
std::vector<std::string> Lines(const Removed& removed) {
  std::vector<std::string> lines;
  for (const Json& action : removed.actions) {
    std::string line =
        action.at("action").get<std::string>() + " " + action.at("target").get<std::string>();
    if (!action.at("ok").get<bool>()) line += " FAILED: " + action.at("error").get<std::string>();
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> Whats(const RecordingJournal& journal) {
  std::vector<std::string> whats;
  for (const auto& call : journal.calls) whats.push_back(call.what);
  return whats;
}

const std::string kAppInitTarget =
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\AppInit_DLLs";
const std::string kServiceKeyTarget = "HKLM\\SYSTEM\\CurrentControlSet\\services\\winsys32";

class ScanRemoval_ : public ::testing::Test {
 protected:
  Pc pc;
  RecordingJournal journal{pc.system};
};

// --- the same end as the window's removal --------------------------------------------------

struct Setup {
  const char* name;
  std::function<void(Pc&)> apply;
};

class EndsLikeTheWindow : public ::testing::TestWithParam<Setup> {};

TEST_P(EndsLikeTheWindow, TheMachineEndsInTheWindowsRemovalState) {
  Pc window;
  Pc console;
  GetParam().apply(window);
  GetParam().apply(console);
  window.Start({DialogResult::No, DialogResult::Yes, DialogResult::No});
  RecordingJournal journal(console.system);
  const Removed removed = RunRemoval(console, journal);
  EXPECT_EQ(removed.exitCode, 1);
  EXPECT_EQ(console.system.RegistrySnapshot(), window.system.RegistrySnapshot());
  EXPECT_EQ(console.system.Files(), window.system.Files());
  EXPECT_EQ(console.system.ServiceNames(), window.system.ServiceNames());
  EXPECT_EQ(console.system.PendingDeletions(), window.system.PendingDeletions());
  EXPECT_TRUE(console.system.ShutdownRequests().empty()) << "never a restart";
  EXPECT_EQ(console.system.OpenServiceHandleCount(), 0);
  EXPECT_EQ(console.system.OpenRegistryKeyCount(), 0);
  for (const auto& call : journal.calls) EXPECT_TRUE(call.present) << call.what;
}

INSTANTIATE_TEST_SUITE_P(
    ScanRemoval, EndsLikeTheWindow,
    ::testing::Values(Setup{"FullInfection", [](Pc& pc) { pc.InstallKnownVersion(); }},
                      Setup{"FilesInUse",
                            [](Pc& pc) {
                              pc.InstallKnownVersion();
                              pc.system.SetFileInUse(kLibraryPath, true);
                              pc.system.SetFileInUse(kDriverPath, true);
                            }},
                      Setup{
                          "AppInitNamingOthers",
                          [](Pc& pc) { pc.AddAppInit("C:\\av\\hook.dll mfc42ul.dll,access.dll"); }},
                      Setup{"ServiceKeyWithSubkeys",
                            [](Pc& pc) {
                              pc.AddServiceKey();
                              pc.system.AddKey(std::string(kServiceKey) + "\\Enum");
                            }},
                      Setup{"ServiceRefusingTheStop",
                            [](Pc& pc) {
                              ServiceScript refusing;
                              refusing.acceptsStop = false;
                              pc.AddServiceKey();
                              pc.AddService(refusing);
                            }}),
    [](const ::testing::TestParamInfo<Setup>& setup) { return std::string(setup.param.name); });

// --- the journal, the records and the summary ---------------------------------------------

TEST_F(ScanRemoval_, EachThingIsKeptWhileStillThereAndThenChangedInTheWindowsOrder) {
  pc.InstallKnownVersion();
  const Removed removed = RunRemoval(pc, journal);
  EXPECT_EQ(Lines(removed), (std::vector<std::string>{
                                "quarantine " + kAppInitTarget,
                                "registry-write " + kAppInitTarget,
                                "quarantine " + std::string(kLibraryPath),
                                "delete " + std::string(kLibraryPath),
                                "quarantine " + kServiceKeyTarget,
                                "service-stop winsys32",
                                "service-delete winsys32",
                                "registry-write " + kServiceKeyTarget,
                                "quarantine " + std::string(kDriverPath),
                                "delete " + std::string(kDriverPath),
                            }));
  EXPECT_EQ(Whats(journal),
            (std::vector<std::string>{"value 0 " + std::string(kWindowsKey),
                                      "file " + std::string(kLibraryPath), "service winsys32",
                                      "file " + std::string(kDriverPath)}));
  for (const auto& call : journal.calls) EXPECT_TRUE(call.present) << call.what;
  EXPECT_EQ(journal.calls.front().held, "mfc42ul.dll");
  EXPECT_EQ(journal.calls[2].held, "running") << "kept before the stop";
  EXPECT_FALSE(pc.HostFileExists(kLibraryPath));
  EXPECT_EQ(removed.exitCode, 1);
  EXPECT_EQ(removed.summary.at("verdict"), "infected");
  EXPECT_EQ(removed.summary.at("quarantine"), std::string(kLocation));
  // The driver ran in this session: its service was running and its device answered.
  EXPECT_EQ(removed.summary.at("restart_required"), true);
  EXPECT_EQ(pc.system.PauseCount(), 0) << "no pacing";
}

// Another control set's key is a finding of its own, kept before the service goes (offline the
// deletion of the service takes it from every set) and deleted after it.
TEST_F(ScanRemoval_, AServiceKeyInAnotherControlSetIsKeptBeforeTheServiceGoesAndDeletedAfter) {
  pc.InstallKnownVersion();
  pc.system.SetValue("SYSTEM\\Select", "Current", RegistryValue::Dword(1));
  pc.system.AddKey("SYSTEM\\ControlSet001");
  const std::string otherKey = "SYSTEM\\ControlSet002\\Services\\winsys32";
  pc.system.SetValue(otherKey, "ImagePath",
                     RegistryValue::ExpandString("system32\\drivers\\winsys32.sys"));
  const Removed removed = RunRemoval(pc, journal);
  const std::string other = "HKLM\\" + otherKey;
  const std::vector<std::string> lines = Lines(removed);
  const auto at = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) - lines.begin();
  };
  ASSERT_LT(at("quarantine " + other), static_cast<std::ptrdiff_t>(lines.size()));
  EXPECT_LT(at("quarantine " + other), at("service-delete winsys32"));
  EXPECT_GT(at("registry-write " + other), at("registry-write " + kServiceKeyTarget));
  ASSERT_LT(at("registry-write " + other), static_cast<std::ptrdiff_t>(lines.size()));
  EXPECT_TRUE(std::any_of(journal.calls.begin(), journal.calls.end(), [](const auto& call) {
    return call.what == "service ControlSet002 winsys32" && call.present;
  }));
  EXPECT_FALSE(pc.system.KeyExists(otherKey));
  const bool found =
      std::any_of(removed.records.begin(), removed.records.end(), [&](const Json& r) {
        return r.value("type", "") == "finding" && r.value("key", "") == other;
      });
  EXPECT_TRUE(found) << "the finding names the set";
}

TEST_F(ScanRemoval_, AKeyOfAnotherSetThatCannotBeKeptStays) {
  pc.InstallKnownVersion();
  pc.system.SetValue("SYSTEM\\Select", "Current", RegistryValue::Dword(1));
  pc.system.AddKey("SYSTEM\\ControlSet001");
  const std::string otherKey = "SYSTEM\\ControlSet002\\Services\\winsys32";
  pc.system.SetValue(otherKey, "ImagePath", RegistryValue::ExpandString("x.sys"));
  journal.failing = {"service ControlSet002"};
  const Removed removed = RunRemoval(pc, journal);
  const std::vector<std::string> lines = Lines(removed);
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "registry-write HKLM\\" + otherKey + " FAILED: " + journal.error),
            lines.end());
  EXPECT_TRUE(pc.system.KeyExists(otherKey));
  EXPECT_FALSE(pc.system.ServiceExists("winsys32")) << "the current set's removal goes on";
}

TEST_F(ScanRemoval_, ActionRecordsHaveTheirFieldsAndAnErrorOnlyWhenFailed) {
  pc.AddLibrary();
  pc.AddAppInit("mfc42ul.dll");
  pc.system.DenyKeyWrite(kWindowsKey);
  const Removed removed = RunRemoval(pc, journal);
  ASSERT_EQ(removed.actions.size(), 4u);
  for (const Json& action : removed.actions) {
    std::set<std::string> keys;
    for (const auto& [key, value] : action.items()) keys.insert(key);
    EXPECT_EQ(keys, (std::set<std::string>{"type", "action", "target", "ok", "error"}));
    EXPECT_EQ(action.at("error").is_null(), action.at("ok").get<bool>()) << action.dump();
  }
  EXPECT_EQ(Lines(removed)[1], "registry-write " + kAppInitTarget + " FAILED: " +
                                   pc.system.SystemErrorText(win_error::kAccessDenied));
  EXPECT_EQ(pc.system.Value(kWindowsKey, "AppInit_DLLs"), RegistryValue::String("mfc42ul.dll"));
  EXPECT_EQ(removed.exitCode, 1) << "a failed removal still found something";
  EXPECT_EQ(removed.summary.at("restart_required"), false);
}

TEST_F(ScanRemoval_, AFileThatCannotBeKeptIsNotDeletedAndTheRestGoesOn) {
  pc.AddLibrary();
  pc.AddDriver();
  journal.failing = {"file " + std::string(kLibraryPath)};
  const Removed removed = RunRemoval(pc, journal);
  const std::string failure = " FAILED: " + journal.error;
  EXPECT_EQ(Lines(removed),
            (std::vector<std::string>{"quarantine " + std::string(kLibraryPath) + failure,
                                      "delete " + std::string(kLibraryPath) + failure,
                                      "quarantine " + std::string(kDriverPath),
                                      "delete " + std::string(kDriverPath)}));
  EXPECT_TRUE(pc.system.FileExists(kLibraryPath));
  EXPECT_TRUE(pc.HostFileExists(kLibraryPath));
  EXPECT_TRUE(pc.system.PendingDeletions().empty());
  EXPECT_FALSE(pc.system.FileExists(kDriverPath));
  EXPECT_EQ(removed.exitCode, 1);
}

TEST_F(ScanRemoval_, AServiceKeyThatCannotBeKeptLeavesTheServiceAndItsKey) {
  pc.AddServiceKey();
  pc.system.AddKey(std::string(kServiceKey) + "\\Enum");
  pc.AddService();
  journal.failing = {"service"};
  const Removed removed = RunRemoval(pc, journal);
  const std::string failure = " FAILED: " + journal.error;
  EXPECT_EQ(Lines(removed),
            (std::vector<std::string>{"quarantine " + kServiceKeyTarget + failure,
                                      "service-delete winsys32" + failure,
                                      "registry-write " + kServiceKeyTarget + failure}));
  EXPECT_TRUE(pc.system.ServiceExists("winsys32"));
  EXPECT_FALSE(pc.system.ServiceMarkedForDeletion("winsys32"));
  EXPECT_EQ(pc.system.CurrentServiceState("winsys32"), ServiceState::Running);
  EXPECT_TRUE(pc.system.KeyExists(std::string(kServiceKey) + "\\Enum"));
  EXPECT_TRUE(removed.summary.at("quarantine").is_null()) << "nothing was kept";
  EXPECT_EQ(removed.summary.at("restart_required"), false);
  EXPECT_EQ(removed.exitCode, 1);
}

TEST_F(ScanRemoval_, On64BitWindowsBothViewsAndBothSystemFoldersAreCleaned) {
  pc.system.SetRunningUnderWow64(true);
  pc.AddAppInit("a.dll mfc42ul.dll");
  pc.system.SetValue(kWow32WindowsKey, "AppInit_DLLs", RegistryValue::String("MFC42UL.DLL,b.dll"));
  pc.AddLibrary();
  pc.AddFile(kWow64Library, "MZ....c3po-R2D2-poe....");
  const Removed removed = RunRemoval(pc, journal);
  EXPECT_EQ(pc.system.Value(kWindowsKey, "AppInit_DLLs"), RegistryValue::String("a.dll"));
  EXPECT_EQ(pc.system.Value(kWow32WindowsKey, "AppInit_DLLs"), RegistryValue::String("b.dll"));
  EXPECT_FALSE(pc.system.FileExists(kLibraryPath));
  EXPECT_FALSE(pc.system.FileExists(kWow64Library));
  const std::string wow32Target = "HKLM\\" + std::string(kWow32WindowsKey) + "\\AppInit_DLLs";
  EXPECT_EQ(
      Lines(removed),
      (std::vector<std::string>{
          "quarantine " + kAppInitTarget, "registry-write " + kAppInitTarget,
          "quarantine " + wow32Target, "registry-write " + wow32Target,
          "quarantine " + std::string(kLibraryPath), "delete " + std::string(kLibraryPath),
          "quarantine " + std::string(kWow64Library), "delete " + std::string(kWow64Library)}));
  // Each view is kept as it is seen, under the key name that view knows.
  ASSERT_EQ(journal.calls.size(), 4u);
  EXPECT_EQ(journal.calls[0].what, "value 1 " + std::string(kWindowsKey));
  EXPECT_EQ(journal.calls[0].held, "a.dll mfc42ul.dll");
  EXPECT_EQ(journal.calls[1].what, "value 2 " + std::string(kWindowsKey));
  EXPECT_EQ(journal.calls[1].held, "MFC42UL.DLL,b.dll");
  EXPECT_FALSE(pc.system.RedirectionDisabled());
}

TEST_F(ScanRemoval_, ARestartIsRequiredForAFileInUseOrADriverThatWasLoadedOnly) {
  pc.AddFile(kLibraryPath, "MZ....c3po-R2D2-poe....", /*inUse=*/true);
  Removed removed = RunRemoval(pc, journal);
  EXPECT_EQ(Lines(removed),
            (std::vector<std::string>{"quarantine " + std::string(kLibraryPath),
                                      "delete-at-restart " + std::string(kLibraryPath)}));
  EXPECT_EQ(pc.system.PendingDeletions(), std::vector<std::string>{std::string(kLibraryPath)});
  EXPECT_TRUE(journal.calls.front().present) << "kept before the request";
  EXPECT_EQ(removed.summary.at("restart_required"), true);

  // Deleted at once, with no driver ever loaded: no restart needed.
  Pc other;
  other.AddFile(kLibraryPath, "MZ....c3po-R2D2-poe....");
  ServiceScript stopped;
  stopped.state = ServiceState::Stopped;
  other.AddService(stopped);
  RecordingJournal otherJournal(other.system);
  removed = RunRemoval(other, otherJournal);
  EXPECT_EQ(removed.summary.at("restart_required"), false);
  EXPECT_FALSE(other.system.ServiceExists("winsys32"));

  // The device answered: the driver was loaded, though its service was stopped and needed no
  // stop control.
  Pc loaded;
  loaded.AddService(stopped);
  loaded.system.AddDevice(kDevice);
  RecordingJournal loadedJournal(loaded.system);
  removed = RunRemoval(loaded, loadedJournal);
  EXPECT_EQ(Lines(removed), std::vector<std::string>{"service-delete winsys32"});
  EXPECT_EQ(removed.summary.at("restart_required"), true);
}

TEST_F(ScanRemoval_, AServiceThatKeepsRunningIsReportedAndItsKeyStillGoes) {
  ServiceScript running;
  running.statesAfterStop = {ServiceState::Running};
  pc.AddServiceKey();
  pc.AddService(running);
  const Removed removed = RunRemoval(pc, journal);
  const auto lines = Lines(removed);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1],
            "service-stop winsys32 FAILED: der Dienst läuft nach der Aufforderung zum "
            "Anhalten weiter");
  EXPECT_EQ(lines[2],
            "service-delete winsys32 FAILED: nicht gelöscht, weil der Dienst nicht "
            "anhielt");
  EXPECT_EQ(lines[3], "registry-write " + kServiceKeyTarget);
  EXPECT_TRUE(pc.system.ServiceExists("winsys32"));
  EXPECT_FALSE(pc.system.KeyExists(kServiceKey));
  EXPECT_EQ(removed.summary.at("restart_required"), false) << "a restart would not finish it";
}

TEST_F(ScanRemoval_, NothingFoundMeansNoJournalAndNoActionAndSweepHitsStay) {
  pc.AddFile("C:\\WINDOWS\\system32\\odd.dll", "MZ..KeyBoardClassC..");
  const Removed removed = RunRemoval(pc, journal, /*sweep=*/true);
  EXPECT_TRUE(journal.calls.empty());
  EXPECT_TRUE(removed.actions.empty());
  EXPECT_TRUE(pc.system.FileExists("C:\\WINDOWS\\system32\\odd.dll"));
  EXPECT_EQ(removed.summary.at("verdict"), "suspicious");
  EXPECT_TRUE(removed.summary.at("quarantine").is_null());
  EXPECT_EQ(removed.summary.at("restart_required"), false);
  EXPECT_EQ(removed.exitCode, 1);
}

TEST_F(ScanRemoval_, RemovingWithoutAJournalIsRefusedBeforeAnythingIsExamined) {
  pc.InstallKnownVersion();
  const auto before = pc.system.Log().size();
  std::ostringstream out;
  JsonLinesReport report(out);
  Scanner scanner(pc.system, *pc.holding, report);
  ScanOptions options;
  options.remove = true;
  EXPECT_THROW(static_cast<void>(scanner.Run(options)), std::invalid_argument);
  EXPECT_EQ(pc.system.Log().size(), before);
  EXPECT_TRUE(out.str().empty());
}

}  // namespace
}  // namespace lk::testing
