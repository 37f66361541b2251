// The POSIX file layer reads a host folder as if it were a Windows drive.
#include "system/posix/PosixFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace lk {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kUnixEpochTicks = 11644473600LL * kTicksPerSecond;

class PosixFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "lk-posix-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    Write("WINDOWS/system32/a.dll", "alpha");
    Write("WINDOWS/system32/B.DLL", "bravo!");
    Write("WINDOWS/system32/x.dllx", "x");
    Write("WINDOWS/system32/noext", "");
    Write("WINDOWS/system32/drivers/w.sys", "driver");
    fs::create_directories(root_ / "WINDOWS/system32/Sub");
    Write("WINDOWS/SysWOW64/a.dll", "wow");
  }
  void TearDown() override { fs::remove_all(root_); }

  void Write(const std::string& relative, const std::string& content) {
    fs::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative, std::ios::binary) << content;
  }

  std::string Read(PosixFileSystem& files, const std::string& path) {
    std::uint32_t error = 0;
    auto file = files.OpenForReading(path, FileShare::Read, &error);
    if (!file) return "error " + std::to_string(error);
    std::string content(static_cast<std::size_t>(file->Size()), '\0');
    const ReadResult result = file->ReadAt(0, content.data(), content.size());
    return result.Ok() ? content.substr(0, result.bytes) : "read error";
  }

  std::vector<DirectoryEntry> List(PosixFileSystem& files, const std::string& directory,
                                   const std::string& pattern) {
    std::vector<DirectoryEntry> entries;
    auto enumeration = files.EnumerateDirectory(directory, pattern);
    DirectoryEntry entry;
    while (enumeration->Next(entry)) entries.push_back(entry);
    return entries;
  }

  std::vector<std::string> Names(PosixFileSystem& files, const std::string& directory,
                                 const std::string& pattern) {
    std::vector<std::string> names;
    for (const auto& entry : List(files, directory, pattern)) names.push_back(entry.name);
    return names;
  }

  fs::path root_;
};

TEST_F(PosixFiles, PathsResolveWithoutRegardToCaseAndWithEitherSeparator) {
  PosixFileSystem files(root_.string());
  EXPECT_EQ(Read(files, "C:\\WINDOWS\\system32\\a.dll"), "alpha");
  EXPECT_EQ(Read(files, "c:\\windows\\SYSTEM32\\A.DLL"), "alpha");
  EXPECT_EQ(Read(files, "C:/Windows/System32/b.dll"), "bravo!");
  EXPECT_EQ(Read(files, "\\WINDOWS\\system32\\DRIVERS\\W.SYS"), "driver");
  EXPECT_EQ(Read(files, "C:\\WINDOWS\\system32\\Sub\\..\\.\\a.dll"), "alpha");
}

TEST_F(PosixFiles, TheExactSpellingWinsOverOtherCases) {
  Write("WINDOWS/Same", "upper");
  Write("WINDOWS/same", "lower");
  PosixFileSystem files(root_.string());
  EXPECT_EQ(Read(files, "C:\\WINDOWS\\same"), "lower");
  EXPECT_EQ(Read(files, "C:\\WINDOWS\\Same"), "upper");
  EXPECT_EQ(Read(files, "C:\\WINDOWS\\SAME"), "upper");  // the first in byte order
}

TEST_F(PosixFiles, FailuresCarryWindowsErrorCodes) {
  PosixFileSystem files(root_.string());
  EXPECT_EQ(Read(files, "C:\\WINDOWS\\system32\\missing.dll"), "error 2");
  EXPECT_EQ(Read(files, "C:\\WINDOWS\\nowhere\\a.dll"), "error 3");
  EXPECT_EQ(Read(files, "C:\\WINDOWS\\system32\\a.dll\\x"), "error 3");
  EXPECT_EQ(Read(files, "D:\\WINDOWS\\system32\\a.dll"), "error 3");
  EXPECT_EQ(Read(files, "C:\\WINDOWS\\system32"), "error 5");
  EXPECT_EQ(files.OpenForReading("C:\\missing", FileShare::All, nullptr), nullptr);
}

TEST_F(PosixFiles, LockedFilesFailWithSharingViolation) {
  PosixFileSystem files(root_.string());
  files.SetLocked("C:\\windows\\system32\\A.DLL", true);
  EXPECT_EQ(Read(files, "C:\\WINDOWS\\system32\\a.dll"), "error 32");
  EXPECT_EQ(Read(files, "C:\\WINDOWS\\system32\\b.dll"), "bravo!");
  EXPECT_THAT(Names(files, "C:\\WINDOWS\\system32", "a.dll"), ElementsAre("a.dll"));
  files.SetLocked("C:\\WINDOWS\\system32\\a.dll", false);
  EXPECT_EQ(Read(files, "C:\\WINDOWS\\system32\\a.dll"), "alpha");
}

TEST_F(PosixFiles, TheMappingAppliesBeforeResolving) {
  PosixFileSystem files(root_.string());
  files.SetPathMapping([](std::string_view path) {
    std::string mapped(path);
    if (const auto pos = mapped.find("system32"); pos != std::string::npos) {
      mapped.replace(pos, 8, "SysWOW64");
    }
    return mapped;
  });
  EXPECT_EQ(Read(files, "C:\\WINDOWS\\system32\\a.dll"), "wow");
  files.SetLocked("C:\\WINDOWS\\system32\\a.dll", true);  // the native file, not seen here
  EXPECT_EQ(Read(files, "C:\\WINDOWS\\system32\\a.dll"), "wow");
  files.SetLocked("C:\\WINDOWS\\SysWOW64\\a.dll", true);
  EXPECT_EQ(Read(files, "C:\\WINDOWS\\system32\\a.dll"), "error 32");
  EXPECT_THAT(Names(files, "C:\\WINDOWS\\system32\\", "*.dll"), ElementsAre("a.dll"));
  EXPECT_EQ(files.ResolveHostPath("C:\\WINDOWS\\system32\\a.dll", nullptr),
            (root_ / "WINDOWS/SysWOW64/a.dll").string());
}

TEST(WindowsPattern, FollowsFindFirstFileRules) {
  EXPECT_TRUE(FitsWindowsPattern("x.dll", "*.dll"));
  EXPECT_TRUE(FitsWindowsPattern("X.DLL", "*.dll"));
  EXPECT_TRUE(FitsWindowsPattern("a.b.dll", "*.dll"));
  EXPECT_FALSE(FitsWindowsPattern("x.dllx", "*.dll"));
  EXPECT_FALSE(FitsWindowsPattern("x.dll.bak", "*.dll"));
  EXPECT_FALSE(FitsWindowsPattern("dll", "*.dll"));
  EXPECT_TRUE(FitsWindowsPattern(".dll", "*.dll"));

  EXPECT_TRUE(FitsWindowsPattern("noext", "*.*"));
  EXPECT_TRUE(FitsWindowsPattern("a.b.c", "*.*"));
  EXPECT_TRUE(FitsWindowsPattern(".", "*.*"));
  EXPECT_TRUE(FitsWindowsPattern("..", "*"));
  EXPECT_FALSE(FitsWindowsPattern("..", "*.sys"));

  EXPECT_TRUE(FitsWindowsPattern("ab.txt", "a?.txt"));
  EXPECT_TRUE(FitsWindowsPattern("a.txt", "a?.txt"));  // '?' fits nothing before a dot
  EXPECT_FALSE(FitsWindowsPattern("abc.txt", "a?.txt"));
  EXPECT_TRUE(FitsWindowsPattern("a", "a?"));  // and nothing at the end
  EXPECT_FALSE(FitsWindowsPattern("abc", "a?"));
  EXPECT_TRUE(FitsWindowsPattern("\xC3\xA4.dll", "?.dll"));  // one character, two bytes
  EXPECT_TRUE(FitsWindowsPattern("abc", "abc.*"));
  EXPECT_TRUE(FitsWindowsPattern("mfc42ul.dll", "MFC*UL.DLL"));
  EXPECT_TRUE(FitsWindowsPattern("noext", "*."));  // trailing dots go: names without a dot
  EXPECT_FALSE(FitsWindowsPattern("a.dll", "*."));
  EXPECT_TRUE(FitsWindowsPattern("ab", "a?."));
  EXPECT_FALSE(FitsWindowsPattern("anything", ""));
}

TEST_F(PosixFiles, EnumerationYieldsDotsThenSortedMatches) {
  PosixFileSystem files(root_.string());
  EXPECT_THAT(Names(files, "C:\\windows\\system32", "*.dll"), ElementsAre("a.dll", "B.DLL"));
  EXPECT_THAT(Names(files, "C:\\WINDOWS\\system32\\", "*.*"),
              ElementsAre(".", "..", "a.dll", "B.DLL", "drivers", "noext", "Sub", "x.dllx"));
  EXPECT_THAT(Names(files, "C:\\", "*"), ElementsAre("WINDOWS"));  // the root has no dots
  EXPECT_THAT(Names(files, "C:\\WINDOWS\\missing", "*"), ElementsAre());
  EXPECT_THAT(Names(files, "C:\\WINDOWS\\system32\\a.dll", "*"), ElementsAre());
}

TEST_F(PosixFiles, EntriesCarryAttributesSizesAndTimes) {
  const fs::path dll = root_ / "WINDOWS/system32/B.DLL";
  const timespec times[2] = {{1000000000, 0}, {1234567890, 500}};
  ASSERT_EQ(::utimensat(AT_FDCWD, dll.c_str(), times, 0), 0);
  ASSERT_EQ(::chmod(dll.c_str(), 0444), 0);
  PosixFileSystem files(root_.string());
  files.SetHidden("C:\\WINDOWS\\system32\\noext", true);

  const auto entries = List(files, "C:\\WINDOWS\\system32", "*");
  ASSERT_EQ(entries.size(), 8U);
  EXPECT_EQ(entries[0].attributes, file_attribute::kDirectory);  // "."
  EXPECT_EQ(entries[2].attributes, file_attribute::kArchive);    // a.dll
  EXPECT_EQ(entries[2].size, 5);
  const DirectoryEntry& b = entries[3];
  EXPECT_EQ(b.attributes, file_attribute::kArchive | file_attribute::kReadOnly);
  EXPECT_EQ(b.size, 6);
  EXPECT_EQ(b.lastWriteTime, kUnixEpochTicks + 1234567890LL * kTicksPerSecond + 5);
  EXPECT_EQ(b.lastAccessTime, kUnixEpochTicks + 1000000000LL * kTicksPerSecond);
  EXPECT_GT(b.creationTime, kUnixEpochTicks);
  EXPECT_TRUE(entries[4].IsDirectory());  // drivers
  EXPECT_EQ(entries[4].size, 0);
  EXPECT_EQ(entries[5].attributes, file_attribute::kArchive | file_attribute::kHidden);
  ASSERT_EQ(::chmod(dll.c_str(), 0644), 0);
}

TEST_F(PosixFiles, SymbolicLinksAreReparsePointsWithTheirOwnAttributes) {
  fs::create_directory_symlink(root_ / "WINDOWS", root_ / "WINDOWS/system32/Sub/loop");
  fs::create_symlink(root_ / "WINDOWS/system32/a.dll", root_ / "WINDOWS/system32/Sub/link.dll");
  PosixFileSystem files(root_.string());
  const auto entries = List(files, "C:\\WINDOWS\\system32\\Sub", "*");
  ASSERT_EQ(entries.size(), 4U);
  EXPECT_EQ(entries[2].name, "link.dll");
  EXPECT_EQ(entries[2].attributes, file_attribute::kReparsePoint | file_attribute::kArchive);
  EXPECT_EQ(entries[2].size, 0);
  EXPECT_EQ(entries[3].name, "loop");
  EXPECT_EQ(entries[3].attributes, file_attribute::kReparsePoint | file_attribute::kDirectory);
  EXPECT_EQ(Read(files, "C:\\WINDOWS\\system32\\Sub\\link.dll"), "alpha");  // opening follows
}

TEST_F(PosixFiles, ReadsUseSixtyFourBitOffsets) {
  const fs::path big = root_ / "WINDOWS/system32/big.sys";
  const int descriptor = ::open(big.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(descriptor, 0);
  constexpr std::int64_t kSize = 5LL * 1024 * 1024 * 1024 + 3;  // beyond 4 GiB
  ASSERT_EQ(::ftruncate(descriptor, kSize), 0);
  ASSERT_EQ(::pwrite(descriptor, "MARK", 4, 4LL * 1024 * 1024 * 1024 + 1), 4);
  ::close(descriptor);

  PosixFileSystem files(root_.string());
  std::uint32_t error = 0;
  auto file = files.OpenForReading("C:\\WINDOWS\\SYSTEM32\\BIG.SYS", FileShare::Read, &error);
  ASSERT_TRUE(file) << error;
  EXPECT_EQ(file->Size(), kSize);
  char buffer[8] = {};
  ReadResult result = file->ReadAt(4LL * 1024 * 1024 * 1024, buffer, 6);
  EXPECT_TRUE(result.Ok());
  EXPECT_EQ(std::string(buffer, result.bytes), std::string("\0MARK\0", 6));
  result = file->ReadAt(kSize - 2, buffer, sizeof buffer);
  EXPECT_EQ(result.bytes, 2U);  // short only at the end
  result = file->ReadAt(kSize + 10, buffer, sizeof buffer);
  EXPECT_TRUE(result.Ok());
  EXPECT_EQ(result.bytes, 0U);
  EXPECT_EQ(file->ReadAt(-1, buffer, 1).error, 87U);
  const auto entries = List(files, "C:\\WINDOWS\\system32", "big.*");
  ASSERT_EQ(entries.size(), 1U);
  EXPECT_EQ(entries[0].size, kSize);
}

TEST_F(PosixFiles, LocalTimeAddsTheZoneOffsetOfThatDate) {
  const char* saved = std::getenv("TZ");
  const std::string previous = saved != nullptr ? saved : "";
  ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  ::tzset();
  PosixFileSystem files(root_.string());
  const std::int64_t winter = kUnixEpochTicks + 1579046400LL * kTicksPerSecond;  // 2020-01-15
  const std::int64_t summer = kUnixEpochTicks + 1594771200LL * kTicksPerSecond;  // 2020-07-15
  EXPECT_EQ(files.ToLocalFileTime(winter) - winter, 3600 * kTicksPerSecond);
  EXPECT_EQ(files.ToLocalFileTime(summer) - summer, 7200 * kTicksPerSecond);
  if (saved != nullptr) {
    ::setenv("TZ", previous.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

}  // namespace
}  // namespace lk
