// The file searcher over a real folder of the host, through the POSIX file layer: symbolic
// links that loop back, files in use, and a search that is destroyed while its worker runs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "search/SearchFileGrep.h"
#include "system/posix/PosixFileSystem.h"
#include "tests/filesearch/FakeRefine.h"

namespace lk {
namespace {

namespace stdfs = std::filesystem;
using ::testing::ElementsAre;

class HostTree : public ::testing::Test {
 protected:
  void SetUp() override {
    root = stdfs::temp_directory_path() /
           ("lk-grep-host-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    stdfs::remove_all(root);
    stdfs::create_directories(root / "Windows" / "System32");
  }
  void TearDown() override { stdfs::remove_all(root); }

  void Write(const std::string& relative, const std::string& content) {
    const stdfs::path path = root / relative;
    stdfs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }

  stdfs::path root;
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

}  // namespace
}  // namespace lk
