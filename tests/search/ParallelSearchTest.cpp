// The file searcher with several threads testing content, over a real host folder through the
// POSIX file layer: every event, its order and every count are those of one thread, a stop ends
// the search where one thread ends it, and a handler's error leaves no thread reading behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "search/SearchFileGrep.h"
#include "system/posix/PosixFileSystem.h"
#include "tests/system/HostileTree.h"

namespace lk {
namespace {

namespace stdfs = std::filesystem;

class ParallelSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RemoveTree(root.string());
    // Files of many sizes, hits at their start, middle and end (beyond one read block), and
    // entries that are passed over between them.
    for (int folder = 0; folder < 3; ++folder) {
      const std::string dir = "Windows/f" + std::to_string(folder) + "/";
      for (int i = 0; i < 40; ++i) {
        const std::size_t size = static_cast<std::size_t>((i * 7919) % 5 == 0 ? 300'000 : i * 97);
        std::string content(size, 'x');
        if (i % 3 == 0) {
          const std::size_t at = (i % 2 == 0 || size < 10) ? content.size() : size / 2;
          content.insert(at, " needle ");
        }
        Write(dir + "e" + std::to_string(100 + i) + ".dll", content);
      }
      Write(dir + "sub/inner.dll", " needle ");
      Write(dir + "x\\y.dll", " needle ");
      ASSERT_EQ(::mkfifo((root / dir / "pipe.dll").c_str(), 0644), 0);
      stdfs::create_symlink(root / dir / "e100.dll", root / dir / "link.dll");
    }
  }
  void TearDown() override { test::RemoveTree(root.string()); }

  void Write(const std::string& relative, const std::string& content) {
    const stdfs::path path = root / relative;
    stdfs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }

  // Every event the search raises, with the counts a progress display reads, in order.
  std::vector<std::string> Run(int workers, const std::function<void(SearchFileGrep&)>& onFile = {},
                               const std::function<void(SearchFileGrep&)>& onFound = {}) {
    PosixFileSystem files(root.string());
    SearchFileGrep grep(files);
    grep.ThreadedSearch = false;
    grep.Workers = workers;
    grep.Dirs = "C:\\Windows\\f0;C:\\Windows\\f1;C:\\Windows\\f2";
    grep.FileMasks = "e1*.dll;*.dll";
    grep.SetSearchString("NEEDLE");
    std::vector<std::string> events;
    grep.OnDirChange = [&](SearchFileGrep&, const std::string& dir) {
      events.push_back("dir " + dir);
    };
    grep.OnFileChange = [&](SearchFileGrep& sender, const std::string& name) {
      events.push_back("file " + name + " " + std::to_string(sender.ExaminedFiles()) + " " +
                       std::to_string(sender.ExaminedBytes()));
      if (onFile) onFile(sender);
    };
    grep.OnFound = [&](SearchFileGrep& sender, const SPFileRecord& file) {
      events.push_back("found " + file.Dir + file.Filename);
      if (onFound) onFound(sender);
    };
    grep.OnSkipped = [&](SearchFileGrep&, const SPSkippedEntry& entry) {
      events.push_back("skipped " + entry.Dir + entry.Filename + " " + std::to_string(entry.Error));
    };
    grep.OnErrorOpenFile = [&](SearchFileGrep&, const std::string& path) {
      events.push_back("open error " + path);
    };
    grep.OnFinished = [&](SearchFileGrep&) { events.push_back("finished"); };
    grep.OnCancel = [&](SearchFileGrep&) { events.push_back("cancelled"); };
    grep.RunSearch();
    events.push_back("found list " + std::to_string(grep.FoundList().Count()) + ", skipped " +
                     std::to_string(grep.SkippedCount()) + ", examined " +
                     std::to_string(grep.ExaminedFiles()));
    return events;
  }

  stdfs::path root = stdfs::temp_directory_path() /
                     ("lk-parallel-" + std::to_string(getpid()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
};

TEST_F(ParallelSearch, EveryEventAndCountIsThatOfOneThread) {
  const std::vector<std::string> one = Run(1);
  ASSERT_EQ(one.back(), "found list 45, skipped 9, examined 243") << ::testing::PrintToString(one);
  for (int workers : {2, 3, 4, 9}) EXPECT_EQ(Run(workers), one) << workers << " workers";
}

TEST_F(ParallelSearch, AStopEndsTheSearchWhereOneThreadEndsIt) {
  for (int stopAt : {1, 5, 37, 95}) {
    const auto stopper = [stopAt, seen = 0](SearchFileGrep& sender) mutable {
      if (++seen == stopAt) sender.StopSearch();
    };
    const std::vector<std::string> one = Run(1, stopper);
    EXPECT_EQ(one[one.size() - 2], "cancelled");
    EXPECT_EQ(Run(4, stopper), one) << "stopped at file " << stopAt;
    EXPECT_EQ(Run(4, {}, stopper), Run(1, {}, stopper)) << "stopped at hit " << stopAt;
  }
}

TEST_F(ParallelSearch, AHandlersErrorReachesTheCallerAndTheSearchCanRunAgain) {
  PosixFileSystem files(root.string());
  SearchFileGrep grep(files);
  grep.ThreadedSearch = false;
  grep.Workers = 4;
  grep.Dirs = "C:\\Windows\\f1";
  grep.FileMasks = "*.dll";
  grep.SetSearchString("NEEDLE");
  int found = 0;
  grep.OnFound = [&](SearchFileGrep&, const SPFileRecord&) {
    if (++found == 3) throw std::runtime_error("handler");
  };
  EXPECT_THROW(grep.RunSearch(), std::runtime_error);
  EXPECT_FALSE(grep.IsSearching());
  grep.OnFound = nullptr;
  grep.RunSearch();
  EXPECT_EQ(grep.FoundList().Count(), 15) << "14 files and the one in the subfolder";
}

}  // namespace
}  // namespace lk
