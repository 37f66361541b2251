// lkscan as fleet engines run it: the JSON Lines in a file that appears only when complete
// (--output), the verdict as the text's last line, an allow-list for harmless sweep hits
// (--allow) and one event per finding, action and summary (--eventlog), on a scripted PC.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "quarantine/Quarantine.h"
#include "system/posix/PosixFileStore.h"
#include "tests/analysis/AnalysisFixture.h"
#include "tools/lkscan/LkScan.h"
#include "tools/lkscan/PosixOutputFile.h"
#include "tools/lkscan/ScanOutput.h"

namespace lk::testing {
namespace {

using Json = nlohmann::json;

constexpr std::string_view kOddLibrary = "C:\\WINDOWS\\system32\\odd.dll";
constexpr std::string_view kOddBytes = "MZ..KeyBoardClassC..";

struct Event {
  EventKind kind;
  std::uint32_t id;
  std::vector<std::string> strings;
};

class RecordingSink final : public EventSink {
 public:
  explicit RecordingSink(std::vector<Event>& events) : events_(events) {}
  bool Report(EventKind kind, std::uint32_t id, const std::vector<std::string>& strings) override {
    events_.push_back({kind, id, strings});
    return true;
  }

 private:
  std::vector<Event>& events_;
};

class LkScanFleet : public AnalysisFixture {
 protected:
  PosixFileStore store{*files};
  std::filesystem::path outputs = root.parent_path() / (root.filename().string() + "-out");
  std::vector<Event> events;
  bool breakFiles = false;

  LkScanFleet() { std::filesystem::create_directories(outputs); }
  ~LkScanFleet() override { std::filesystem::remove_all(outputs); }

  struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
  };

  Result Scan(const std::vector<std::string>& args) {
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
      Target(SystemAccess& system, FileSystem& files, FileStore& store, bool broken)
          : system_(system), files_(files), store_(store), broken_(broken) {}
      SystemAccess& System() override { return system_; }
      FileSystem& Files() override {
        return broken_ ? static_cast<FileSystem&>(brokenFiles_) : files_;
      }
      FileStore& Store() override { return store_; }

     private:
      SystemAccess& system_;
      FileSystem& files_;
      FileStore& store_;
      bool broken_;
      BrokenFiles brokenFiles_;
    };
    std::ostringstream out;
    std::ostringstream err;
    const LkScanHost host{[&](const std::optional<std::string>&, std::string*) {
                            return std::make_unique<Target>(system, *holding, store, breakFiles);
                          },
                          out,
                          err,
                          false,
                          CreatePosixOutputFile,
                          [&](std::string*) { return std::make_unique<RecordingSink>(events); }};
    Result result;
    result.exitCode = RunLkScan(args, host);
    result.out = out.str();
    result.err = err.str();
    return result;
  }

  static std::vector<Json> Lines(const std::string& text) {
    std::vector<Json> records;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) records.push_back(Json::parse(line));
    return records;
  }

  static std::string LastLine(const std::string& text) {
    std::string trimmed = text;
    EXPECT_TRUE(!trimmed.empty() && trimmed.back() == '\n') << "the last line ends with a newline";
    if (!trimmed.empty()) trimmed.pop_back();
    return trimmed.substr(trimmed.rfind('\n') == std::string::npos ? 0 : trimmed.rfind('\n') + 1);
  }

  std::vector<std::string> OutputFolder() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(outputs)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string WriteList(const std::string& text) {
    const std::filesystem::path path = outputs / "allow.txt";
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }

  static std::string Read(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  }
};

// --output --------------------------------------------------------------------------------

TEST_F(LkScanFleet, TheFileHoldsTheJsonLinesWhileStandardOutputKeepsTheText) {
  InstallKnownVersion();
  const std::string path = (outputs / "befund.jsonl").string();
  const Result result = Scan({"--no-sweep", "--output", path});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.err.empty()) << result.err;
  EXPECT_EQ(LastLine(result.out).rfind("Ergebnis: infiziert.", 0), 0u) << result.out;
  EXPECT_EQ(result.out.find("{\"type\""), std::string::npos) << "no JSON on standard output";
  const std::vector<Json> records = Lines(Read(path));
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.back().at("type"), "summary");
  EXPECT_EQ(records.back().at("verdict"), "infected");
  EXPECT_EQ(records.back().at("exit_code"), 1);
  EXPECT_EQ(records.front().at("type"), "finding");
  EXPECT_EQ(OutputFolder(), std::vector<std::string>{"befund.jsonl"}) << "no temporary file left";
}

TEST_F(LkScanFleet, WithJsonBothStandardOutputAndTheFileCarryTheSameRecords) {
  AddFile(kOddLibrary, kOddBytes);
  const std::string path = (outputs / "befund.jsonl").string();
  const Result result = Scan({"--json", "--output", path});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(Lines(result.out), Lines(Read(path)));
}

TEST_F(LkScanFleet, AnExistingFileIsReplacedOnlyOnceTheNewOneIsComplete) {
  const std::filesystem::path path = outputs / "befund.jsonl";
  std::ofstream(path) << "old\n";
  breakFiles = true;
  const Result broken = Scan({"--output", path.string()});
  EXPECT_EQ(broken.exitCode, 2);
  EXPECT_EQ(Read(path), "old\n") << "a scan that broke off leaves the old file as it was";
  EXPECT_EQ(OutputFolder(), std::vector<std::string>{"befund.jsonl"}) << "and no temporary file";

  breakFiles = false;
  const Result result = Scan({"--output", path.string()});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(Lines(Read(path)).back().at("verdict"), "clean");
  EXPECT_EQ(OutputFolder(), std::vector<std::string>{"befund.jsonl"});
}

TEST_F(LkScanFleet, AFileThatCannotBeCreatedIsAUsageErrorBeforeAnythingIsExamined) {
  InstallKnownVersion();
  const Result result = Scan({"--output", (outputs / "missing" / "befund.jsonl").string()});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_TRUE(result.out.empty()) << result.out;
  EXPECT_NE(result.err.find("--output"), std::string::npos) << result.err;
  for (const auto& args : std::vector<std::vector<std::string>>{{"--output"}, {"--output", ""}}) {
    EXPECT_EQ(Scan(args).exitCode, 2);
  }
}

// The last line -----------------------------------------------------------------------------

TEST_F(LkScanFleet, TheLastLineOfTheTextIsTheVerdictAndShort) {
  AddFile(kOddLibrary, kOddBytes);
  const Result suspicious = Scan({});
  EXPECT_EQ(LastLine(suspicious.out).rfind("Ergebnis: verdächtig. ", 0), 0u) << suspicious.out;
  EXPECT_TRUE(suspicious.err.empty());

  // A restore names its quarantine and may need a restart: those lines come first.
  AddLibrary();
  std::filesystem::create_directories(root / "ProgramData");
  QuarantineSettings settings;
  settings.programVersion = "test";
  Quarantine quarantine(system, *holding, store, settings);
  std::string error;
  ASSERT_TRUE(quarantine.Open(&error)) << error;
  ASSERT_TRUE(quarantine.KeepFile(kLibraryPath).ok);
  ASSERT_EQ(system.SystemFiles().DeleteFile(kLibraryPath), 0U);
  const std::string path = (outputs / "restore.jsonl").string();
  const Result restore = Scan({"--restore", quarantine.Location(), "--output", path});
  EXPECT_EQ(restore.exitCode, 0) << restore.out << restore.err;
  EXPECT_EQ(LastLine(restore.out), "Wiederherstellung: alles zurückgelegt.") << restore.out;
  EXPECT_NE(restore.out.find("Quarantäne: "), std::string::npos) << restore.out;
  EXPECT_EQ(Lines(Read(path)).back().at("operation"), "restore") << "a restore has its file too";
}

TEST_F(LkScanFleet, TheVerdictLineSaysVerdictFilesAndGapsInOneShortLine) {
  ScanSummary summary;
  summary.restore = false;
  summary.filesExamined = 1;
  EXPECT_EQ(VerdictLine(summary), "Ergebnis: sauber. 1 Datei (0,0 MB) untersucht.");
  summary.skipped = 3;
  summary.verdict = ScanVerdict::Suspicious;
  const std::string line = VerdictLine(summary);
  EXPECT_EQ(line, "Ergebnis: verdächtig. 1 Datei (0,0 MB) untersucht, 3 nicht untersucht.");
  EXPECT_LE(line.size(), kVerdictLineLimit);
  summary.verdict = ScanVerdict::Incomplete;
  EXPECT_EQ(VerdictLine(summary),
            "Ergebnis: nichts gefunden, aber nicht alles untersucht. 1 Datei (0,0 MB) untersucht, "
            "3 nicht untersucht.");
  EXPECT_EQ(std::string(VerdictName(summary.verdict)), "incomplete");
}

// --allow -----------------------------------------------------------------------------------

TEST_F(LkScanFleet, AListedSweepHitIsANoteNamingItsHashAndTheScanIsClean) {
  AddFile(kOddLibrary, kOddBytes);
  const Result probe = Scan({"--json"});
  const std::string hash = Lines(probe.out).front().at("sha256");
  std::string upper = hash;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string list = WriteList("# checked by hand\n\n  " + upper + "  # odd.dll\n");
  const Result result = Scan({"--json", "--allow", list});
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  const std::vector<Json> records = Lines(result.out);
  ASSERT_EQ(records.size(), 2u) << result.out;
  EXPECT_EQ(records[0].at("type"), "note");
  EXPECT_EQ(records[0].at("topic"), "allowed");
  EXPECT_NE(records[0].at("text").get<std::string>().find(hash), std::string::npos);
  EXPECT_NE(records[0].at("text").get<std::string>().find(kOddLibrary), std::string::npos);
  EXPECT_EQ(records[1].at("verdict"), "clean");
  EXPECT_EQ(records[1].at("exit_code"), 0);

  // Another hit that is not listed keeps the verdict.
  AddFile("C:\\WINDOWS\\system32\\Drivers\\other.sys", "MZ KeyBoardClassC other");
  const Result mixed = Scan({"--json", "--allow", list});
  EXPECT_EQ(mixed.exitCode, 1);
  EXPECT_EQ(Lines(mixed.out).back().at("verdict"), "suspicious");
}

TEST_F(LkScanFleet, AllowedHitsOnAScanThatSkippedSomethingLeaveItIncomplete) {
  AddFile(kOddLibrary, kOddBytes);
  const std::string hash = Lines(Scan({"--json"}).out).front().at("sha256");
  ASSERT_EQ(::mkfifo((root / "WINDOWS/system32/pipe.dll").c_str(), 0600), 0);
  const Result result = Scan({"--json", "--allow", WriteList(hash + "\n")});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(Lines(result.out).back().at("verdict"), "incomplete");
  EXPECT_EQ(Lines(result.out).back().at("exit_code"), 2);
}

TEST_F(LkScanFleet, KnownVersionFindingsCannotBeAllowed) {
  InstallKnownVersion();
  const Result probe = Scan({"--json"});
  std::string list;
  for (const Json& record : Lines(probe.out)) {
    if (record.contains("sha256")) list += record.at("sha256").get<std::string>() + "\n";
  }
  ASSERT_FALSE(list.empty());
  const Result result = Scan({"--json", "--allow", WriteList(list)});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(Lines(result.out), Lines(probe.out)) << "not one record changed";
}

TEST_F(LkScanFleet, AMalformedOrUnreadableListIsAUsageError) {
  AddFile(kOddLibrary, kOddBytes);
  for (const std::string& text :
       {std::string(63, 'a') + "\n", std::string(65, 'a'), std::string(64, 'g'),
        std::string(64, 'a') + " " + std::string(64, 'b'), std::string("sha256:") + "x"}) {
    const Result result = Scan({"--allow", WriteList("# ok\n" + text)});
    EXPECT_EQ(result.exitCode, 2) << text;
    EXPECT_NE(result.err.find("Zeile 2"), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty()) << "nothing examined";
  }
  EXPECT_EQ(Scan({"--allow", (outputs / "missing.txt").string()}).exitCode, 2);
  EXPECT_EQ(Scan({"--allow", WriteList("")}).exitCode, 1) << "an empty list allows nothing";
}

// --eventlog --------------------------------------------------------------------------------

TEST_F(LkScanFleet, EachFindingAndTheSummaryBecomeOneEventWithTextAndRecord) {
  InstallKnownVersion();
  const Result result = Scan({"--no-sweep", "--eventlog"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.err.empty()) << result.err;
  ASSERT_GE(events.size(), 2u);
  for (std::size_t i = 0; i + 1 < events.size(); ++i) {
    EXPECT_EQ(events[i].id, event_id::kFinding);
    EXPECT_EQ(events[i].kind, EventKind::Error) << "a known-version finding is an error";
    ASSERT_EQ(events[i].strings.size(), 2u);
    EXPECT_EQ(events[i].strings[0].rfind("GEFUNDEN", 0), 0u) << events[i].strings[0];
    EXPECT_EQ(Json::parse(events[i].strings[1]).at("type"), "finding");
  }
  const Event& summary = events.back();
  EXPECT_EQ(summary.id, event_id::kInfected);
  EXPECT_EQ(summary.strings[0], LastLine(result.out));
  EXPECT_EQ(Json::parse(summary.strings[1]).at("verdict"), "infected");
}

TEST_F(LkScanFleet, EachVerdictHasItsOwnEventId) {
  Scan({"--eventlog"});
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events.back().id, event_id::kClean);
  EXPECT_EQ(events.back().kind, EventKind::Information);

  events.clear();
  AddFile(kOddLibrary, kOddBytes);
  Scan({"--eventlog"});
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].id, event_id::kFinding);
  EXPECT_EQ(events[0].kind, EventKind::Warning) << "a sweep hit is a warning";
  EXPECT_EQ(events[1].id, event_id::kSuspicious);

  events.clear();
  ASSERT_EQ(::mkfifo((root / "WINDOWS/system32/pipe.dll").c_str(), 0600), 0);
  const std::string hash = Lines(Scan({"--json"}).out).front().at("sha256");
  events.clear();
  Scan({"--eventlog", "--allow", WriteList(hash)});
  ASSERT_EQ(events.size(), 1u) << "an allowed hit makes no event";
  EXPECT_EQ(events[0].id, event_id::kIncomplete);
}

TEST_F(LkScanFleet, WithoutAnEventLogTheFlagIsRefused) {
  std::ostringstream out;
  std::ostringstream err;
  const LkScanHost host{[&](const std::optional<std::string>&, std::string*) {
                          return std::unique_ptr<ScanTarget>();
                        },
                        out, err, false};
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--eventlog"}, {"--register-eventlog"}, {"--output", "x.jsonl"}}) {
    EXPECT_EQ(RunLkScan(args, host), 2);
  }
  EXPECT_TRUE(out.str().empty());
}

}  // namespace
}  // namespace lk::testing
