// lkscan --root over a disk prepared by an attacker: links, pipes and crafted quarantine folders
// must never make the program read, change or delete a file outside the examined tree, nor call
// clean what it did not examine. Host "victim" files beside the tree are compared by bytes and
// inode before and after every run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/WindowsTree.h"
#include "tests/tools/lkscan/LkScanRun.h"

namespace lk {
namespace {

namespace fs = std::filesystem;

// Files of the rescue system outside the examined tree.
class Victims {
 public:
  Victims() {
    std::string pattern = (fs::temp_directory_path() / "lk-victims-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    fs::create_directories(folder_ + "/drivers");
    Write("drivers/winsys32.sys", test::WindowsTree::DriverBytes());
    Write("drivers/host.sys", "host driver");
    Write("mfc42ul.dll", test::WindowsTree::LibraryBytes());
    Write("passwd", "root:x:0:0");
  }
  ~Victims() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  Victims(const Victims&) = delete;
  Victims& operator=(const Victims&) = delete;

  [[nodiscard]] std::string Path(const std::string& relative) const {
    return folder_ + "/" + relative;
  }
  void Write(const std::string& relative, const std::string& bytes) const {
    std::ofstream(Path(relative), std::ios::binary) << bytes;
  }
  // Every entry below the folder with its inode and bytes.
  [[nodiscard]] std::map<std::string, std::string> State() const {
    std::map<std::string, std::string> state;
    for (const auto& entry : fs::recursive_directory_iterator(folder_)) {
      struct stat status {};
      ::lstat(entry.path().c_str(), &status);
      std::string bytes;
      if (entry.is_regular_file()) {
        std::ifstream in(entry.path(), std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
      }
      state[entry.path().string()] = std::to_string(status.st_ino) + ":" + bytes;
    }
    return state;
  }

 private:
  std::string folder_;
};

bool HasSkipped(const ScanRun& run, const std::string& path) {
  for (const Json& skipped : run.OfType("skipped")) {
    if (skipped.value("path", "") == path) return true;
  }
  return false;
}

std::vector<std::string> ActionTargets(const ScanRun& run, const std::string& action) {
  std::vector<std::string> targets;
  for (const Json& record : run.OfType("action")) {
    if (record.value("action", "") == action && record.value("ok", false)) {
      targets.push_back(record.value("target", ""));
    }
  }
  return targets;
}

TEST(HostileRoot, AFolderLinkToTheHostsDriversIsSkippedAndNothingThereIsDeleted) {
  test::WindowsTree tree;
  tree.InstallKnownVersion();
  Victims victims;
  const auto before = victims.State();
  fs::remove_all(tree.Host("Windows/System32/drivers"));
  fs::create_directory_symlink(victims.Path("drivers"), tree.Host("Windows/System32/drivers"));

  const ScanRun run = RunLkScan({"--json", "--remove", "--root", tree.Root()});
  EXPECT_EQ(victims.State(), before) << run.out;
  EXPECT_TRUE(run.Findings("driver-file").empty()) << run.out;
  EXPECT_TRUE(HasSkipped(run, "C:\\Windows\\System32\\Drivers\\")) << run.out;
  // The known-file check and the sweep both meet the link: one entry, told and counted once.
  const auto skipped = run.OfType("skipped");
  EXPECT_EQ(std::count_if(skipped.begin(), skipped.end(),
                          [](const Json& record) {
                            return record.value("path", "") == "C:\\Windows\\System32\\Drivers\\";
                          }),
            1)
      << run.out;
  EXPECT_EQ(run.Summary()["skipped"], skipped.size()) << run.out;
  for (const std::string& target : ActionTargets(run, "delete-file")) {
    EXPECT_EQ(target.find("winsys32.sys"), std::string::npos) << target;
  }
}

TEST(HostileRoot, ALinkedSystemFolderLeavesTheHostsFilesAndHivesAlone) {
  test::WindowsTree tree;
  tree.InstallKnownVersion();
  Victims victims;
  // The host folder looks like a system folder: hives, the library and the driver.
  fs::copy(tree.Host("Windows/System32/config"), victims.Path("config"));
  fs::rename(tree.Host("Windows/System32"), tree.Host("Windows/Real32"));
  fs::create_directory_symlink(victims.Path(""), tree.Host("Windows/System32"));
  const auto before = victims.State();
  const ScanRun run = RunLkScan({"--json", "--remove", "--root", tree.Root()});
  EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
  EXPECT_EQ(victims.State(), before);
}

TEST(HostileRoot, AKnownFileThatCannotBeExaminedIsSkippedNeverAbsent) {
  Victims victims;
  const auto before = victims.State();
  const std::string library = "Windows/System32/mfc42ul.dll";
  const std::vector<std::function<void(const std::string&)>> plants = {
      [&](const std::string& path) { fs::create_symlink(victims.Path("mfc42ul.dll"), path); },
      [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
      [](const std::string& path) { fs::create_symlink("gone.dll", path); },
      [](const std::string& path) {
        fs::create_symlink("../../.NTFS-3G/D:/Windows/mfc42ul.dll", path);
      },
      [](const std::string& path) { fs::create_directory(path); },
  };
  for (std::size_t i = 0; i < plants.size(); ++i) {
    test::WindowsTree tree;
    plants[i](tree.Host(library));
    const ScanRun run = RunLkScan({"--json", "--remove", "--root", tree.Root()});
    EXPECT_EQ(run.exitCode, 2) << "plant " << i << ": " << run.out;
    EXPECT_TRUE(HasSkipped(run, "C:\\Windows\\System32\\mfc42ul.dll")) << i << run.out;
    EXPECT_TRUE(run.Findings("library-file").empty()) << i;
    EXPECT_EQ(run.Summary().value("verdict", ""), "incomplete") << "no finding, but not clean";
  }
  EXPECT_EQ(victims.State(), before);
}

TEST(HostileRoot, ALinkedHiveOrConfigFolderIsNeverParsedNorReplaced) {
  Victims victims;
  for (const bool wholeFolder : {false, true}) {
    test::WindowsTree tree;
    tree.InstallKnownVersion();
    const std::string config = tree.Host("Windows/System32/config");
    fs::copy_file(config + "/SOFTWARE", victims.Path("SOFTWARE"),
                  fs::copy_options::overwrite_existing);
    if (wholeFolder) {
      fs::copy_file(config + "/SYSTEM", victims.Path("SYSTEM"),
                    fs::copy_options::overwrite_existing);
      fs::remove_all(config);
      fs::create_directory_symlink(victims.Path(""), config);
    } else {
      fs::remove(config + "/SOFTWARE");
      fs::create_symlink(victims.Path("SOFTWARE"), config + "/SOFTWARE");
    }
    const auto before = victims.State();
    const ScanRun run = RunLkScan({"--json", "--remove", "--root", tree.Root()});
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_NE(run.err.find("Registrierungsdatei"), std::string::npos) << run.err;
    EXPECT_EQ(victims.State(), before) << (wholeFolder ? "config linked" : "hive linked");
  }
}

TEST(HostileRoot, EveryCaseTwinOfAKnownFileIsFoundAndRemoved) {
  test::WindowsTree tree;
  tree.InstallKnownVersion();
  tree.WriteFile("Windows/System32/MFC42UL.DLL", test::WindowsTree::LibraryBytes() + "x");
  const ScanRun run = RunLkScan({"--json", "--no-sweep", "--remove", "--root", tree.Root()});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_EQ(run.Findings("library-file").size(), 2U) << run.out;
  EXPECT_FALSE(fs::exists(tree.Host("Windows/System32/mfc42ul.dll")));
  EXPECT_FALSE(fs::exists(tree.Host("Windows/System32/MFC42UL.DLL")));
}

TEST(HostileRoot, EverySpellingOfTheRootGivesTheSameRecords) {
  test::WindowsTree tree;
  tree.InstallKnownVersion();
  const fs::path root(tree.Root());
  const auto records = [](const ScanRun& run) {
    std::vector<Json> kept;
    for (const Json& record : run.records) {
      if (record.value("type", "") != "progress") kept.push_back(record);
    }
    return kept;
  };
  const ScanRun plain = RunLkScan({"--json", "--root", tree.Root()});
  ASSERT_EQ(plain.exitCode, 1) << plain.err;
  for (const std::string& spelling :
       {tree.Root() + "/", tree.Root() + "//", std::string("./") + root.filename().string()}) {
    const std::string previous = fs::current_path();
    fs::current_path(root.parent_path());
    const ScanRun run = RunLkScan({"--json", "--root", spelling});
    fs::current_path(previous);
    EXPECT_EQ(run.exitCode, 1) << spelling << run.err;
    EXPECT_EQ(records(run), records(plain)) << spelling;
  }
}

TEST(HostileRoot, AFolderLinkAboveTheQuarantineIsRefused) {
  test::WindowsTree tree;
  tree.InstallKnownVersion();
  Victims victims;
  fs::create_directory_symlink(victims.Path(""), tree.Host("q"));
  const auto before = victims.State();
  const auto tree0 = tree.Fingerprint();
  const ScanRun run =
      RunLkScan({"--json", "--remove", "--quarantine", "C:\\q\\sub", "--root", tree.Root()});
  EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
  EXPECT_EQ(victims.State(), before);
  EXPECT_EQ(tree.Fingerprint(), tree0) << "nothing removed without its quarantine";
}

TEST(HostileRoot, AQuarantineOnTheHostKeepsItsCopiesOffTheDiskAndRestoresInBothSpellings) {
  test::WindowsTree tree;
  tree.InstallKnownVersion();
  Victims victims;
  const std::string host = victims.Path("q");
  const ScanRun removal =
      RunLkScan({"--json", "--no-sweep", "--remove", "--quarantine", host, "--root", tree.Root()});
  ASSERT_EQ(removal.exitCode, 1) << removal.out << removal.err;
  const std::string run = removal.Summary().value("quarantine", "");
  ASSERT_EQ(run.rfind(host + "/", 0), 0U) << run;
  EXPECT_TRUE(fs::exists(run + "/manifest.json"));
  EXPECT_FALSE(fs::exists(tree.Host("ProgramData/Anti-Lauschkobold")));
  const ScanRun restore = RunLkScan({"--json", "--restore", run, "--root", tree.Root()});
  EXPECT_EQ(restore.exitCode, 0) << restore.out << restore.err;
  EXPECT_TRUE(fs::exists(tree.Host("Windows/System32/mfc42ul.dll")));

  // A quarantine on the drive, named as the user's shell shows it.
  const ScanRun again = RunLkScan({"--json", "--no-sweep", "--remove", "--root", tree.Root()});
  ASSERT_EQ(again.exitCode, 1) << again.err;
  std::string relative = again.Summary().value("quarantine", "").substr(3);
  std::replace(relative.begin(), relative.end(), '\\', '/');
  const ScanRun hostSpelling =
      RunLkScan({"--json", "--restore", tree.Host(relative), "--root", tree.Root()});
  EXPECT_EQ(hostSpelling.exitCode, 0) << hostSpelling.out << hostSpelling.err;
  EXPECT_TRUE(fs::exists(tree.Host("Windows/System32/mfc42ul.dll")));

  // A host folder that others may change is no quarantine.
  fs::create_directories(victims.Path("open/q"));
  fs::permissions(victims.Path("open"), fs::perms::all);
  const ScanRun refused = RunLkScan({"--json", "--no-sweep", "--remove", "--quarantine",
                                     victims.Path("open/q"), "--root", tree.Root()});
  EXPECT_EQ(refused.exitCode, 2) << refused.out << refused.err;
  EXPECT_TRUE(fs::exists(tree.Host("Windows/System32/mfc42ul.dll")));
}

// A removal's run folder on the drive: as the summary names it and as a host path.
struct RemovedRun {
  std::string windows;
  std::string host;
};

RemovedRun RemoveKnownVersion(test::WindowsTree& tree) {
  tree.InstallKnownVersion();
  const ScanRun removal = RunLkScan({"--json", "--no-sweep", "--remove", "--root", tree.Root()});
  RemovedRun run;
  run.windows = removal.Summary().value("quarantine", "");
  if (run.windows.size() < 3) return run;
  std::string relative = run.windows.substr(3);
  std::replace(relative.begin(), relative.end(), '\\', '/');
  run.host = tree.Host(relative);
  return run;
}

TEST(HostileRoot, ACraftedQuarantineRunWritesNothingFromOutside) {
  Victims victims;
  const auto before = victims.State();
  {
    // A copy that is a link to a host file.
    test::WindowsTree tree;
    const RemovedRun run = RemoveKnownVersion(tree);
    ASSERT_FALSE(run.host.empty());
    for (const auto& entry : fs::directory_iterator(run.host)) {
      if (entry.path().extension() == ".lkq") {
        fs::remove(entry.path());
        fs::create_symlink(victims.Path("passwd"), entry.path());
      }
    }
    const ScanRun restore = RunLkScan({"--json", "--restore", run.windows, "--root", tree.Root()});
    EXPECT_EQ(restore.exitCode, 2) << restore.out;
    EXPECT_FALSE(fs::exists(tree.Host("Windows/System32/mfc42ul.dll")));
  }
  {
    // A run folder that others may change.
    test::WindowsTree tree;
    const RemovedRun run = RemoveKnownVersion(tree);
    ASSERT_FALSE(run.host.empty());
    fs::permissions(run.host, fs::perms::all);
    const auto kept = tree.Fingerprint();
    const ScanRun restore = RunLkScan({"--json", "--restore", run.windows, "--root", tree.Root()});
    EXPECT_EQ(restore.exitCode, 2) << restore.out;
    EXPECT_EQ(tree.Fingerprint(), kept) << "nothing is restored from it";
  }
  {
    // A folder link on the way to the run folder.
    test::WindowsTree tree;
    const RemovedRun run = RemoveKnownVersion(tree);
    ASSERT_FALSE(run.host.empty());
    fs::rename(tree.Host("ProgramData"), tree.Host("Elsewhere"));
    fs::create_directory_symlink(tree.Host("Elsewhere"), tree.Host("ProgramData"));
    const auto kept = tree.Fingerprint();
    const ScanRun restore = RunLkScan({"--json", "--restore", run.windows, "--root", tree.Root()});
    EXPECT_EQ(restore.exitCode, 2) << restore.out;
    EXPECT_EQ(tree.Fingerprint(), kept);
  }
  {
    // A folder link on the way to a record's target: the restore writes nothing through it.
    test::WindowsTree tree;
    const RemovedRun run = RemoveKnownVersion(tree);
    ASSERT_FALSE(run.host.empty());
    fs::remove_all(victims.Path("drivers"));
    fs::create_directories(victims.Path("drivers"));
    fs::remove_all(tree.Host("Windows/System32/drivers"));
    fs::create_directory_symlink(victims.Path("drivers"), tree.Host("Windows/System32/drivers"));
    const auto emptied = victims.State();
    const ScanRun restore = RunLkScan({"--json", "--restore", run.windows, "--root", tree.Root()});
    EXPECT_EQ(restore.exitCode, 2) << restore.out;
    EXPECT_EQ(victims.State(), emptied) << "no driver appears in the host's folder";
  }
}

TEST(HostileRoot, ANameWithALineBreakAndAnEscapeCannotForgeTheTextReport) {
  test::WindowsTree tree;
  tree.InstallKnownVersion();
  const std::string forged = "a\nErgebnis: sauber.\x1b[8m.dll";
  ASSERT_EQ(::mkfifo(tree.Host("Windows/System32/" + forged).c_str(), 0600), 0);
  const ScanRun run = RunLkScan({"--root", tree.Root()});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("\nErgebnis: sauber."), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("a\\x0AErgebnis: sauber.\\x1B[8m.dll"), std::string::npos) << run.out;
}

TEST(HostileRoot, ASparseLibraryKeepsItsHolesInTheQuarantineAndBack) {
  test::WindowsTree tree;
  tree.InstallKnownVersion();
  const std::string library = tree.Host("Windows/System32/mfc42ul.dll");
  constexpr std::uintmax_t kApparent = 1ULL << 30;
  fs::resize_file(library, kApparent);
  const auto onDisk = [](const std::string& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return std::int64_t{status.st_blocks} * 512;
  };
  ASSERT_LT(onDisk(library), 1 << 20) << "the file system makes no holes";
  const ScanRun removal = RunLkScan({"--json", "--no-sweep", "--remove", "--root", tree.Root()});
  ASSERT_EQ(removal.exitCode, 1) << removal.out << removal.err;
  const std::vector<Json> found = removal.Findings("library-file");
  ASSERT_EQ(found.size(), 1U);
  EXPECT_EQ(found[0].value("size", 0ULL), kApparent);
  std::string relative = removal.Summary().value("quarantine", "").substr(3);
  std::replace(relative.begin(), relative.end(), '\\', '/');
  std::int64_t copies = 0;
  for (const auto& entry : fs::directory_iterator(tree.Host(relative))) {
    if (entry.path().extension() == ".lkq") copies = std::max(copies, onDisk(entry.path()));
  }
  EXPECT_LT(copies, 8 << 20) << "the copy keeps the holes";
  const ScanRun restore =
      RunLkScan({"--json", "--restore", tree.Host(relative), "--root", tree.Root()});
  EXPECT_EQ(restore.exitCode, 0) << restore.out;
  EXPECT_EQ(fs::file_size(library), kApparent);
  EXPECT_LT(onDisk(library), 8 << 20) << "and so does the file put back";
}

// Nothing found but not everything examined is never "clean": not in JSON, not in the text's
// last line, which engines that keep only that line read.
TEST(HostileRoot, AnIncompleteRunIsCalledIncompleteNeverClean) {
  test::WindowsTree tree;
  ASSERT_EQ(::mkfifo(tree.Host("Windows/System32/mfc42ul.dll").c_str(), 0600), 0);
  const ScanRun json = RunLkScan({"--json", "--root", tree.Root()});
  EXPECT_EQ(json.exitCode, 2) << json.out;
  EXPECT_EQ(json.Summary()["verdict"], "incomplete");
  EXPECT_EQ(json.Summary()["exit_code"], 2);
  const ScanRun text = RunLkScan({"--root", tree.Root()});
  EXPECT_EQ(text.exitCode, 2);
  const std::string last = text.out.substr(text.out.rfind('\n', text.out.size() - 2) + 1);
  EXPECT_THAT(last,
              ::testing::StartsWith("Ergebnis: nichts gefunden, aber nicht alles untersucht."))
      << text.out;
  EXPECT_EQ(text.out.find("sauber"), std::string::npos) << text.out;
  // Everything examined and nothing found stays clean.
  ASSERT_TRUE(fs::remove(tree.Host("Windows/System32/mfc42ul.dll")));
  const ScanRun clean = RunLkScan({"--json", "--root", tree.Root()});
  EXPECT_EQ(clean.exitCode, 0) << clean.out;
  EXPECT_EQ(clean.Summary()["verdict"], "clean");
}

// A message on stderr that names something from the examined disk shows its control characters
// and invalid bytes escaped, as the text report does: it cannot forge or hide a terminal line.
TEST(HostileRoot, MessagesOnStderrEscapeTheNamesTheyQuote) {
  const fs::path base = fs::temp_directory_path() / ("lk-stderr-" + std::to_string(::getpid()));
  const std::string crafted = "R\x1b[8m\nErgebnis: sauber.\xff";
  fs::create_directories(base / crafted);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--root", (base / crafted).string()},
        std::vector<std::string>{"--image", (base / crafted / "missing.raw").string()},
        std::vector<std::string>{"--list", "--image", (base / crafted / "missing.raw").string()}}) {
    const ScanRun run = RunLkScan(args);
    SCOPED_TRACE(args[0]);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("R\\x1B[8m\\x0AErgebnis: sauber.\\xFF"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("\nErgebnis"), std::string::npos) << run.err;
  }
  fs::remove_all(base);
}

// A known file too large for a digest (a hostile disk's sparse terabytes cost hours of hashing
// zeros) is found and identified, its record says why it has no SHA-256, and a removal refuses
// it before changing anything: its copy in the quarantine could not be checked.
TEST(HostileRoot, AKnownFileTooLargeForADigestIsFoundButNotRemoved) {
  test::WindowsTree tree;
  tree.InstallKnownVersion();
  const std::string library = tree.Host("Windows/System32/mfc42ul.dll");
  constexpr std::uintmax_t kApparent = (1ULL << 30) + 4096;
  fs::resize_file(library, kApparent);
  // Every file's bytes, but the sparse one's inode, size and time: reading a gibibyte here would
  // cost what the scan must not.
  const auto state = [&] {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(tree.Root())) {
      struct stat status {};
      ::lstat(entry.path().c_str(), &status);
      std::string bytes = std::to_string(status.st_ino) + ":" + std::to_string(status.st_size) +
                          ":" + std::to_string(status.st_mtim.tv_nsec);
      if (entry.is_regular_file() && status.st_size < (1 << 20)) {
        std::ifstream in(entry.path(), std::ios::binary);
        bytes.append(std::istreambuf_iterator<char>(in), {});
      }
      files[entry.path().string()] = bytes;
    }
    return files;
  };
  const auto before = state();
  const ScanRun removal = RunLkScan({"--json", "--no-sweep", "--remove", "--root", tree.Root()});
  EXPECT_EQ(removal.exitCode, 2) << removal.out << removal.err;
  const std::vector<Json> found = removal.Findings("library-file");
  ASSERT_EQ(found.size(), 1U) << removal.out;
  EXPECT_EQ(found[0]["identified"], true);
  EXPECT_EQ(found[0].value("size", 0ULL), kApparent);
  EXPECT_FALSE(found[0].contains("sha256"));
  bool told = false;
  for (const Json& note : removal.OfType("note")) {
    told = told || (note["topic"] == "sha256" &&
                    note.value("text", "").find("C:\\Windows\\System32\\mfc42ul.dll") == 0);
  }
  EXPECT_TRUE(told) << removal.out;
  EXPECT_TRUE(ActionTargets(removal, "delete").empty()) << removal.out;
  EXPECT_TRUE(ActionTargets(removal, "registry-write").empty()) << removal.out;
  bool refused = false;
  for (const Json& skipped : removal.OfType("skipped")) {
    refused = refused || (skipped["path"] == "Entfernung" &&
                          skipped.value("reason", "").find("1 GiB") != std::string::npos);
  }
  EXPECT_TRUE(refused) << removal.out;
  EXPECT_EQ(removal.Summary()["verdict"], "infected");
  EXPECT_EQ(state(), before);
  // Counted as examined: the probe read it whole, through its data.
  EXPECT_EQ(removal.Summary()["files_examined"], 2);
}

// 4 GiB apparent and a few kilobytes on disk: the known library and driver, a library and a driver
// whose sweep text lies near their far ends, and a library without one. All are examined to the
// end, with the verdicts of their whole bytes.
TEST(HostileRoot, FourGibibyteSparseFilesAreIdentifiedAndSweptToTheirEnds) {
  test::WindowsTree tree;
  tree.InstallKnownVersion();
  constexpr std::uintmax_t kApparent = 4ULL << 30;
  const auto sparse = [&](const std::string& relative, const std::string& tail) {
    const std::string path = tree.Host(relative);
    if (!fs::exists(path)) tree.WriteFile(relative, "MZ");
    fs::resize_file(path, kApparent);
    if (!tail.empty()) {
      std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
      file.seekp(static_cast<std::streamoff>(kApparent - 70'000));
      file.write(tail.data(), static_cast<std::streamsize>(tail.size()));
    }
    struct stat status {};
    ::stat(path.c_str(), &status);
    return std::int64_t{status.st_blocks} * 512;
  };
  std::int64_t onDisk = 0;
  onDisk += sparse("Windows/System32/mfc42ul.dll", "");
  onDisk += sparse("Windows/System32/drivers/winsys32.sys", "");
  onDisk += sparse("Windows/System32/far.dll", test::WindowsTree::LibraryBytes());
  onDisk += sparse("Windows/System32/drivers/far.sys", test::WindowsTree::DriverBytes());
  onDisk += sparse("Windows/System32/plain.dll", "");
  ASSERT_LT(onDisk, 8 << 20) << "the file system makes no holes";

  const ScanRun run = RunLkScan({"--json", "--root", tree.Root()});
  ASSERT_EQ(run.exitCode, 1) << run.out << run.err;
  const std::vector<Json> library = run.Findings("library-file");
  ASSERT_EQ(library.size(), 1U) << run.out;
  EXPECT_EQ(library[0]["identified"], true);
  EXPECT_EQ(library[0].value("size", 0ULL), kApparent);
  EXPECT_FALSE(library[0].contains("sha256")) << "beyond what gets a digest";
  const std::vector<Json> driver = run.Findings("driver-file");
  ASSERT_EQ(driver.size(), 1U) << run.out;
  EXPECT_EQ(driver[0]["identified"], true);
  std::vector<std::string> swept;
  for (const char* check : {"sweep-library", "sweep-driver"}) {
    for (const Json& finding : run.Findings(check)) swept.push_back(finding.value("path", ""));
  }
  EXPECT_THAT(swept, ::testing::IsSupersetOf({"C:\\Windows\\System32\\far.dll",
                                              "C:\\Windows\\System32\\Drivers\\far.sys",
                                              "C:\\Windows\\System32\\mfc42ul.dll",
                                              "C:\\Windows\\System32\\Drivers\\winsys32.sys"}))
      << run.out;
  EXPECT_THAT(swept, ::testing::Not(::testing::Contains("C:\\Windows\\System32\\plain.dll")));
  EXPECT_EQ(run.Summary()["skipped"], 0) << run.out;
}

// Two folders whose names differ only in case are one folder to Windows: whichever the scan
// walked, the other's files would go unseen, so neither is called clean.
TEST(HostileRoot, ACaseTwinOfASystemFolderIsSkippedNeverHalfExamined) {
  for (const char* twin : {"Windows/SYSTEM32", "Windows/System32/DRIVERS", "WINDOWS"}) {
    test::WindowsTree tree;
    fs::create_directories(tree.Host(twin));
    tree.WriteFile(std::string(twin) + "/mfc42ul.dll", test::WindowsTree::LibraryBytes());
    const ScanRun run = RunLkScan({"--json", "--root", tree.Root()});
    EXPECT_EQ(run.exitCode, 2) << twin << "\n" << run.out << run.err;
    EXPECT_NE(run.Summary().value("verdict", ""), "") << twin;
    EXPECT_GE(run.Summary().value("skipped", 0), 1) << twin << "\n" << run.out;
  }
}

TEST(HostileRoot, EachFileIsCountedOnceAsExamined) {
  test::WindowsTree tree;
  const ScanRun clean = RunLkScan({"--json", "--root", tree.Root()});
  tree.InstallKnownVersion();
  const ScanRun infected = RunLkScan({"--json", "--root", tree.Root()});
  EXPECT_EQ(
      infected.Summary().value("files_examined", 0) - clean.Summary().value("files_examined", 0), 2)
      << "the library and the driver, each once";
}

}  // namespace
}  // namespace lk
