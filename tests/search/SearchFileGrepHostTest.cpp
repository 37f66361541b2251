// The file searcher over a real folder of the host, through the POSIX file layer: symbolic
// links that loop back, files in use, a search that is destroyed while its worker runs, and
// trees that may be hostile (pipes, names that look like paths, names in other encodings, case
// twins, unreadable and very deep folders).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "search/SearchFileGrep.h"
#include "system/posix/PosixFileSystem.h"
#include "tests/search/FakeRefine.h"
#include "tests/system/HostileTree.h"

namespace lk {
namespace {

namespace stdfs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class HostTree : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RemoveTree(root.string());
    stdfs::create_directories(root / "Windows" / "System32");
  }
  void TearDown() override { test::RemoveTree(root.string()); }

  void Write(const std::string& relative, const std::string& content) {
    const stdfs::path path = root / relative;
    stdfs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }

  // Known from construction on, so that members of derived fixtures can take it.
  stdfs::path root = stdfs::temp_directory_path() /
                     ("lk-grep-host-" + std::to_string(getpid()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
  test::FakeRefine::Calls calls;
};

TEST_F(HostTree, SymbolicLinkLoopsAreListedButNotEntered) {
  Write("Windows/System32/a.dll", "skype");
  Write("Windows/System32/sub/b.dll", "skype");
  stdfs::create_directory_symlink(root / "Windows", root / "Windows" / "System32" / "sub" / "up");
  stdfs::create_directory_symlink(root / "Windows" / "System32" / "sub",
                                  root / "Windows" / "System32" / "self");
  PosixFileSystem files(root.string());
  SearchFileGrep grep(files, std::make_unique<test::FakeRefine>(calls));
  grep.ThreadedSearch = false;
  grep.Dirs = "C:\\WINDOWS\\system32";
  grep.FileMasks = "*.dll";
  grep.SetSearchString("SKYPE");
  grep.RunSearch();
  EXPECT_THAT(grep.FoundList().Items(),
              ElementsAre("C:\\WINDOWS\\system32\\a.dll", "C:\\WINDOWS\\system32\\sub\\b.dll"));

  // The counting pass lists a link whose name fits, like any directory entry.
  grep.SetSearchString("");
  grep.FileMasks = "*";
  grep.RecurseSubDirs = false;
  grep.RunSearch();
  EXPECT_THAT(grep.FoundList().Items(),
              ElementsAre("C:\\WINDOWS\\system32\\a.dll", "C:\\WINDOWS\\system32\\self",
                          "C:\\WINDOWS\\system32\\sub"));
}

TEST_F(HostTree, FileInUseIsReportedAndNotFound) {
  Write("Windows/System32/a.dll", "skype");
  Write("Windows/System32/b.dll", "skype");
  PosixFileSystem files(root.string());
  files.SetLocked("C:\\Windows\\System32\\a.dll", true);
  SearchFileGrep grep(files, std::make_unique<test::FakeRefine>(calls));
  grep.ThreadedSearch = false;
  std::vector<std::string> errors;
  grep.OnErrorOpenFile = [&](SearchFileGrep&, const std::string& p) { errors.push_back(p); };
  grep.Dirs = "C:\\Windows\\System32\\";
  grep.FileMasks = "*.dll";
  grep.SetSearchString("SKYPE");
  grep.RunSearch();
  EXPECT_THAT(errors, ElementsAre("C:\\Windows\\System32\\a.dll"));
  EXPECT_THAT(grep.FoundList().Items(), ElementsAre("C:\\Windows\\System32\\b.dll"));
}

TEST_F(HostTree, DestroyingTheSearcherStopsAndWaitsForItsWorker) {
  for (int i = 0; i < 200; ++i) Write("Windows/System32/f" + std::to_string(i) + ".dll", "x");
  PosixFileSystem files(root.string());
  std::atomic<int> examined{0};
  {
    SearchFileGrep grep(files, std::make_unique<test::FakeRefine>(calls));
    grep.ThreadedSearch = true;
    grep.Dirs = "C:\\Windows\\System32";
    grep.OnFileChange = [&](SearchFileGrep&, const std::string&) {
      ++examined;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
    grep.RunSearch();
    for (int i = 0; i < 5000 && examined == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  EXPECT_GT(examined, 0);
  EXPECT_LT(examined, 200);
}

// A searcher over the host tree that lists what it found and what it skipped.
class HostileHostTree : public HostTree {
 protected:
  void Search(const std::string& dirs, const std::string& masks, const std::string& expression,
              bool recurse = true) {
    skipped.clear();
    grep.ThreadedSearch = false;
    grep.RecurseSubDirs = recurse;
    grep.Dirs = dirs;
    grep.FileMasks = masks;
    grep.SetSearchString(expression);
    grep.OnSkipped = [this](SearchFileGrep&, const SPSkippedEntry& s) {
      skipped.push_back(s.Dir + s.Filename + " " + std::to_string(s.Error));
    };
    grep.RunSearch();
  }

  PosixFileSystem files{root.string()};
  SearchFileGrep grep{files, std::make_unique<test::FakeRefine>(calls)};
  std::vector<std::string> skipped;
};

TEST_F(HostileHostTree, APipeIsSkippedAndTheSearchFinishesWithItsHits) {
  Write("Windows/System32/a.dll", "skype");
  Write("Windows/System32/z.dll", "skype");
  const stdfs::path pipe = root / "Windows/System32/p.dll";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
  // Should the searcher open the pipe to read it, it gets a match fed instead of waiting.
  std::atomic<bool> done{false};
  std::thread feeder([&] {
    while (!done) {
      const int writer = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (writer >= 0) {
        static_cast<void>(::write(writer, "skype", 5));
        ::close(writer);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  Search("C:\\Windows\\System32", "*.dll", "SKYPE");
  done = true;
  feeder.join();
  EXPECT_THAT(grep.FoundList().Items(),
              ElementsAre("C:\\Windows\\System32\\a.dll", "C:\\Windows\\System32\\z.dll"));
  EXPECT_THAT(skipped, ElementsAre("C:\\Windows\\System32\\p.dll 1920"));
}

TEST_F(HostileHostTree, ANameThatLooksLikeAPathIsSkippedNotFollowed) {
  Write("outside/secret.dll", "skype");
  Write("Windows/System32/x/y.dll", "skype");
  Write("Windows/System32/x\\y.dll", "nothing");
  Write("Windows/System32/..\\..\\outside\\secret.dll", "nothing");
  Search("C:\\Windows\\System32", "*.dll", "SKYPE");
  EXPECT_THAT(grep.FoundList().Items(), ElementsAre("C:\\Windows\\System32\\x\\y.dll"));
  EXPECT_THAT(skipped, ElementsAre("C:\\Windows\\System32\\..\\..\\outside\\secret.dll 123",
                                   "C:\\Windows\\System32\\x\\y.dll 123"));
  EXPECT_EQ(calls.matches, 1);  // only the real x/y.dll was read
}

TEST_F(HostileHostTree, ALinkToAFileOutsideTheTreeIsNotRead) {
  Write("outside/secret.dll", "skype");
  stdfs::create_symlink(root / "outside/secret.dll", root / "Windows/System32/link.dll");
  Search("C:\\Windows\\System32", "*.dll", "SKYPE");
  EXPECT_THAT(grep.FoundList().Items(), IsEmpty());
  EXPECT_THAT(skipped, ElementsAre("C:\\Windows\\System32\\link.dll 1921"));
}

TEST_F(HostileHostTree, ANameInAnotherEncodingFitsMasksLikeAnyOther) {
  Write("Windows/System32/caf\xE9.txt", "skype");
  Write("Windows/System32/plain.txt", "skype");
  Search("C:\\Windows\\System32", "*.txt", "");
  EXPECT_THAT(grep.FoundList().Items(), ElementsAre("C:\\Windows\\System32\\caf\xE9.txt",
                                                    "C:\\Windows\\System32\\plain.txt"));
  Search("C:\\Windows\\System32", "*.txt", "SKYPE");
  EXPECT_EQ(grep.FoundList().Count(), 2);
  EXPECT_THAT(skipped, IsEmpty());
}

TEST_F(HostileHostTree, CaseTwinsAreBothExamined) {
  Write("Windows/System32/Twin.dll", "skype");
  Write("Windows/System32/twin.dll", "skype");
  Write("Windows/System32/Sub/a.dll", "skype");
  Write("Windows/System32/sub/a.dll", "skype");
  Search("C:\\Windows\\System32", "*.dll", "SKYPE");
  EXPECT_THAT(
      grep.FoundList().Items(),
      ElementsAre("C:\\Windows\\System32\\Twin.dll", "C:\\Windows\\System32\\twin.dll",
                  "C:\\Windows\\System32\\Sub\\a.dll", "C:\\Windows\\System32\\sub\\a.dll"));
  EXPECT_EQ(calls.matches, 4);
  // A folder named twice is still listed once.
  Search("C:\\Windows\\System32;c:\\windows\\system32\\", "*.dll", "SKYPE", false);
  EXPECT_THAT(grep.FoundList().Items(),
              ElementsAre("C:\\Windows\\System32\\Twin.dll", "C:\\Windows\\System32\\twin.dll"));
}

TEST_F(HostileHostTree, MissingAndUnreadableFoldersAreReported) {
  Write("Windows/System32/a.dll", "skype");
  Write("Windows/System32/locked/b.dll", "skype");
  ASSERT_EQ(::chmod((root / "Windows/System32/locked").c_str(), 0), 0);
  {
    test::ScopedUnprivileged unprivileged;
    ASSERT_TRUE(unprivileged.Applies());
    Search("C:\\Windows\\nowhere;C:\\Windows\\System32", "*.dll", "SKYPE");
  }
  ASSERT_EQ(::chmod((root / "Windows/System32/locked").c_str(), 0755), 0);
  EXPECT_THAT(grep.FoundList().Items(), ElementsAre("C:\\Windows\\System32\\a.dll"));
  EXPECT_THAT(skipped,
              ElementsAre("C:\\Windows\\nowhere\\ 3", "C:\\Windows\\System32\\locked\\ 5"));
  EXPECT_EQ(grep.SkippedCount(), 2);
}

TEST_F(HostileHostTree, AWalkReachesFilesBeyondTheHostsLongestPath) {
  const std::string component(200, 'd');
  constexpr int kDepth = 30;  // about 6000 bytes of path, beyond PATH_MAX
  ASSERT_TRUE(test::MakeDeepTree((root / "Windows/System32").string(), kDepth, component,
                                 "deep.dll", "skype"));
  Search("C:\\Windows\\System32", "*.dll", "SKYPE");
  ASSERT_EQ(grep.FoundList().Count(), 1);
  EXPECT_GT(grep.FoundList()[0].size(), 6000U);
  EXPECT_TRUE(grep.FoundList()[0].ends_with(component + "\\deep.dll"));
  EXPECT_THAT(skipped, IsEmpty());
}

}  // namespace
}  // namespace lk
