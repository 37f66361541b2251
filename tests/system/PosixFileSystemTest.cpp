// The POSIX file layer reads a host folder as if it were a Windows drive.
#include "system/posix/PosixFileSystem.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/system/HostileTree.h"

namespace lk {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

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
  void TearDown() override { test::RemoveTree(root_.string()); }

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

TEST(WindowsPattern, TakesBytesThatAreNotUtf8AsOneCharacterEach) {
  // 0xE9 would lead a three-byte sequence: taken as one, it would swallow ".t".
  EXPECT_TRUE(FitsWindowsPattern("caf\xE9.txt", "*.txt"));
  EXPECT_TRUE(FitsWindowsPattern("caf\xE9.txt", "*.*"));
  EXPECT_TRUE(FitsWindowsPattern("caf\xE9.txt", "caf?.txt"));
  EXPECT_TRUE(FitsWindowsPattern("\xE9\xE9.dll", "??.dll"));
  EXPECT_FALSE(FitsWindowsPattern("\xE9\xE9.dll", "?.dll"));
  EXPECT_TRUE(FitsWindowsPattern("x\xF0.sys", "*.sys"));  // a lead byte at the very end
  EXPECT_TRUE(FitsWindowsPattern("\xC3\xA4\xE9.dll", "??.dll"));
  // Sequences of the right shape that are no character: an overlong '.', a surrogate.
  EXPECT_TRUE(FitsWindowsPattern("\xE0\x80\xAE.dll", "???.dll"));
  EXPECT_FALSE(FitsWindowsPattern("\xE0\x80\xAE.dll", "?.dll"));
  EXPECT_TRUE(FitsWindowsPattern("\xED\xA0\x80.sys", "???.sys"));
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
  // A named path is walked like a tree: the link is listed, never followed.
  EXPECT_EQ(Read(files, "C:\\WINDOWS\\system32\\Sub\\link.dll"), "error 1921");
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

// ---- trees that may be hostile: everything enumerated is taken by its exact bytes ----

class HostileFiles : public PosixFiles {
 protected:
  std::unique_ptr<Directory> Open(PosixFileSystem& files, const std::string& path,
                                  std::uint32_t* error = nullptr) {
    std::uint32_t code = 0;
    auto directory = files.OpenDirectory(path, &code);
    if (error != nullptr) *error = code;
    return directory;
  }

  static std::string ReadEntry(Directory& directory, const std::string& name) {
    std::uint32_t error = 0;
    auto file = directory.OpenFile(name, FileShare::Read, &error);
    if (!file) return "error " + std::to_string(error);
    std::string content(64, '\0');
    const ReadResult result = file->ReadAt(0, content.data(), content.size());
    return result.Ok() ? content.substr(0, result.bytes) : "read error";
  }

  static std::vector<DirectoryEntry> All(Directory& directory, const std::string& pattern,
                                         std::uint32_t* error = nullptr) {
    std::vector<DirectoryEntry> entries;
    auto enumeration = directory.Enumerate(pattern);
    DirectoryEntry entry;
    while (enumeration->Next(entry)) entries.push_back(entry);
    if (error != nullptr) *error = enumeration->Error();
    return entries;
  }
};

TEST_F(HostileFiles, PipesSocketsAndDevicesAreRefusedWithoutWaiting) {
  const fs::path dir = root_ / "WINDOWS/system32";
  ASSERT_EQ(::mkfifo((dir / "p.dll").c_str(), 0644), 0);
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = (dir / "s.dll").string();
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  const bool haveDevice = ::mknod((dir / "null.dll").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;

  PosixFileSystem files(root_.string());
  // A pipe without a writer blocked the open for ever; now nothing but a regular file is read.
  EXPECT_EQ(Read(files, "C:\\WINDOWS\\system32\\p.dll"), "error 1920");
  EXPECT_EQ(Read(files, "C:\\WINDOWS\\system32\\s.dll"), "error 1920");
  auto directory = Open(files, "C:\\WINDOWS\\system32");
  ASSERT_TRUE(directory);
  EXPECT_EQ(ReadEntry(*directory, "p.dll"), "error 1920");
  EXPECT_EQ(ReadEntry(*directory, "s.dll"), "error 1920");
  EXPECT_EQ(ReadEntry(*directory, "a.dll"), "alpha");
  if (haveDevice) {
    EXPECT_EQ(ReadEntry(*directory, "null.dll"), "error 1920");
    EXPECT_EQ(Read(files, "C:\\WINDOWS\\system32\\null.dll"), "error 1920");
  }
  EXPECT_EQ(ReadEntry(*directory, "Sub"), "error 5");  // a directory, as CreateFile says
  ::close(listener);
}

TEST_F(HostileFiles, ANameIsNeverReadAsAPath) {
  Write("WINDOWS/secret.txt", "outside");
  Write("WINDOWS/system32/x/y.txt", "inner");
  Write("WINDOWS/system32/x\\y.txt", "own bytes");
  Write("WINDOWS/system32/..\\secret.txt", "own bytes");
  PosixFileSystem files(root_.string());
  auto directory = Open(files, "C:\\WINDOWS\\system32");
  ASSERT_TRUE(directory);

  std::vector<std::string> refused;
  for (const DirectoryEntry& entry : All(*directory, "*.txt")) {
    if (entry.error != 0) refused.push_back(entry.name + " " + std::to_string(entry.error));
  }
  EXPECT_THAT(refused, ElementsAre("..\\secret.txt 123", "x\\y.txt 123"));
  EXPECT_EQ(ReadEntry(*directory, "..\\secret.txt"), "error 123");
  EXPECT_EQ(ReadEntry(*directory, "x\\y.txt"), "error 123");
  std::uint32_t error = 0;
  EXPECT_FALSE(directory->OpenSubdirectory("..", &error));
  EXPECT_EQ(error, 123U);
  auto x = directory->OpenSubdirectory("x", &error);
  ASSERT_TRUE(x);
  EXPECT_EQ(ReadEntry(*x, "y.txt"), "inner");
}

TEST_F(HostileFiles, LinksInsideATreeAreListedButNeverFollowed) {
  Write("outside.dll", "outside");
  fs::create_symlink(root_ / "outside.dll", root_ / "WINDOWS/system32/link.dll");
  fs::create_directory_symlink(root_, root_ / "WINDOWS/system32/up");
  PosixFileSystem files(root_.string());
  auto directory = Open(files, "C:\\WINDOWS\\system32");
  ASSERT_TRUE(directory);
  EXPECT_EQ(ReadEntry(*directory, "link.dll"), "error 1921");
  std::uint32_t error = 0;
  EXPECT_FALSE(directory->OpenSubdirectory("up", &error));
  EXPECT_EQ(error, 1921U);
  EXPECT_FALSE(directory->OpenSubdirectory("a.dll", &error));
  EXPECT_EQ(error, 267U);
  // Nor does a path that the caller names, nor one that leads through a folder link.
  EXPECT_EQ(Read(files, "C:\\WINDOWS\\system32\\link.dll"), "error 1921");
  EXPECT_EQ(Read(files, "C:\\WINDOWS\\system32\\up\\outside.dll"), "error 1921");
}

TEST_F(HostileFiles, CaseTwinsAreTwoEntriesOpenedByTheirOwnNames) {
  Write("WINDOWS/system32/Twin.dll", "upper");
  Write("WINDOWS/system32/twin.dll", "lower");
  PosixFileSystem files(root_.string());
  auto directory = Open(files, "C:\\WINDOWS\\system32");
  ASSERT_TRUE(directory);
  std::vector<std::string> names;
  for (const DirectoryEntry& entry : All(*directory, "t*.dll")) names.push_back(entry.name);
  EXPECT_THAT(names, ElementsAre("Twin.dll", "twin.dll"));
  EXPECT_EQ(ReadEntry(*directory, "Twin.dll"), "upper");
  EXPECT_EQ(ReadEntry(*directory, "twin.dll"), "lower");
  EXPECT_EQ(ReadEntry(*directory, "TWIN.DLL"), "error 2");  // enumerated names are exact
}

TEST_F(HostileFiles, NamesThatAreNotUtf8FitMasksAndOpen) {
  Write("WINDOWS/system32/caf\xE9.txt", "latin-1");
  PosixFileSystem files(root_.string());
  EXPECT_THAT(Names(files, "C:\\WINDOWS\\system32", "*.txt"), ElementsAre("caf\xE9.txt"));
  auto directory = Open(files, "C:\\WINDOWS\\system32");
  ASSERT_TRUE(directory);
  EXPECT_EQ(ReadEntry(*directory, "caf\xE9.txt"), "latin-1");
}

TEST_F(HostileFiles, AnEntryThatVanishesIsYieldedWithItsError) {
  PosixFileSystem files(root_.string());
  auto directory = Open(files, "C:\\WINDOWS\\system32");
  ASSERT_TRUE(directory);
  auto enumeration = directory->Enumerate("*.dll");
  fs::remove(root_ / "WINDOWS/system32/a.dll");
  DirectoryEntry entry;
  ASSERT_TRUE(enumeration->Next(entry));
  EXPECT_EQ(entry.name, "a.dll");
  EXPECT_EQ(entry.error, 2U);
  ASSERT_TRUE(enumeration->Next(entry));
  EXPECT_EQ(entry.name, "B.DLL");
  EXPECT_EQ(entry.error, 0U);
  EXPECT_FALSE(enumeration->Next(entry));
  EXPECT_EQ(enumeration->Error(), 0U);
}

TEST_F(HostileFiles, DirectoriesThatCannotBeReadSayWhy) {
  PosixFileSystem files(root_.string());
  std::uint32_t error = 0;
  EXPECT_FALSE(Open(files, "C:\\WINDOWS\\missing", &error));
  EXPECT_EQ(error, 3U);
  EXPECT_EQ(files.EnumerateDirectory("C:\\WINDOWS\\missing", "*")->Error(), 3U);
  EXPECT_FALSE(Open(files, "C:\\WINDOWS\\system32\\a.dll", &error));
  EXPECT_EQ(error, 267U);
  EXPECT_EQ(files.EnumerateDirectory("C:\\WINDOWS\\system32", "*.none")->Error(), 0U);

  ASSERT_EQ(::chmod(root_.c_str(), 0755), 0);  // mkdtemp's folder is the owner's only
  ASSERT_EQ(::chmod((root_ / "WINDOWS/system32/Sub").c_str(), 0), 0);
  auto parent = Open(files, "C:\\WINDOWS\\system32");
  ASSERT_TRUE(parent);
  {
    test::ScopedUnprivileged unprivileged;
    ASSERT_TRUE(unprivileged.Applies());
    EXPECT_FALSE(Open(files, "C:\\WINDOWS\\system32\\Sub", &error));
    EXPECT_EQ(error, 5U);
    EXPECT_FALSE(parent->OpenSubdirectory("Sub", &error));
    EXPECT_EQ(error, 5U);
    EXPECT_EQ(Read(files, "C:\\WINDOWS\\system32\\Sub\\inside.dll"), "error 5");
    auto enumeration = files.EnumerateDirectory("C:\\WINDOWS\\system32\\Sub", "*");
    DirectoryEntry entry;
    EXPECT_FALSE(enumeration->Next(entry));
    EXPECT_EQ(enumeration->Error(), 5U);
  }
  ASSERT_EQ(::chmod((root_ / "WINDOWS/system32/Sub").c_str(), 0755), 0);
}

TEST_F(HostileFiles, AWalkGoesDeeperThanTheHostsLongestPath) {
  const std::string component(200, 'd');
  constexpr int kDepth = 30;  // about 6000 bytes of path, beyond PATH_MAX
  ASSERT_TRUE(
      test::MakeDeepTree((root_ / "WINDOWS").string(), kDepth, component, "deep.dll", "bottom"));
  PosixFileSystem files(root_.string());
  std::string windowsPath = "C:\\WINDOWS";
  for (int level = 0; level < kDepth; ++level) windowsPath += "\\" + component;
  // Named as one path it is walked folder by folder too, beyond what the host takes as a path.
  std::uint32_t error = 0;
  EXPECT_TRUE(Open(files, windowsPath, &error)) << error;

  auto directory = Open(files, "C:\\WINDOWS");
  ASSERT_TRUE(directory);
  for (int level = 0; level < kDepth && directory; ++level) {
    directory = directory->OpenSubdirectory(component, &error);
  }
  ASSERT_TRUE(directory) << error;
  EXPECT_THAT(All(*directory, "*.dll").size(), 1U);
  EXPECT_EQ(ReadEntry(*directory, "deep.dll"), "bottom");
  test::RemoveTree((root_ / "WINDOWS" / component).string());
}

}  // namespace
}  // namespace lk
