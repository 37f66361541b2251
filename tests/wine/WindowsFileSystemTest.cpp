// WindowsFileSystem against the real file system: enumeration by pattern, 64-bit sizes and
// offsets, share modes, and names outside the ANSI code page.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "system/SystemAccess.h"
#include "system/win/UniqueHandle.h"
#include "system/win/WindowsFileSystem.h"
#include "tests/wine/WineTestSupport.h"
#include "win32/Utf.h"

namespace lk {
namespace {

constexpr std::int64_t kBeyond4GiB = (std::int64_t{1} << 32) + 100;

class WindowsFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::WriteWholeFile(folder_ / "a.dll", "0123456789"));
    ASSERT_TRUE(test::WriteWholeFile(folder_ / "b.DLL", "MZ"));
    ASSERT_TRUE(test::WriteWholeFile(folder_ / "c.sys", "MZ"));
    ASSERT_TRUE(test::WriteWholeFile(folder_ / "noext", ""));
    ASSERT_TRUE(test::WriteWholeFile(folder_ / "lk-Ж😀.dll", "unicode"));
    ASSERT_TRUE(CreateDirectoryW(WideFromUtf8(folder_ / "sub.dll").c_str(), nullptr));
  }

  std::vector<DirectoryEntry> Entries(std::string_view directory, std::string_view pattern) {
    std::vector<DirectoryEntry> entries;
    const std::unique_ptr<DirectoryEnumeration> enumeration =
        files_.EnumerateDirectory(directory, pattern);
    DirectoryEntry entry;
    while (enumeration->Next(entry)) entries.push_back(entry);
    return entries;
  }

  std::set<std::string> Names(std::string_view pattern) {
    std::set<std::string> names;
    for (const DirectoryEntry& entry : Entries(folder_.Path(), pattern)) names.insert(entry.name);
    return names;
  }

  DirectoryEntry EntryOf(std::string_view name) {
    for (DirectoryEntry& entry : Entries(folder_.Path(), name)) {
      if (entry.name == name) return entry;
    }
    ADD_FAILURE() << "no entry " << name;
    return {};
  }

  std::string ReadAll(ReadableFile& file, std::int64_t offset, std::size_t length) {
    std::string buffer(length, '\0');
    const ReadResult result = file.ReadAt(offset, buffer.data(), length);
    EXPECT_TRUE(result.Ok()) << "error " << result.error;
    buffer.resize(result.bytes);
    return buffer;
  }

  UniqueFile Hold(std::string_view name, DWORD access, DWORD share) {
    return UniqueFile(CreateFileW(WideFromUtf8(folder_ / name).c_str(), access, share, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  }

  bool Opens(std::string_view name, FileShare share, std::uint32_t* error = nullptr) {
    std::uint32_t code = 0;
    const bool opened = files_.OpenForReading(folder_ / name, share, &code) != nullptr;
    if (error != nullptr) *error = code;
    return opened;
  }

  test::TemporaryDirectory folder_;
  WindowsFileSystem files_;
};

using DirectoryEnumerationByPattern = WindowsFileSystemTest;

TEST_F(DirectoryEnumerationByPattern, DllPatternFitsEveryCaseAndUnicodeNames) {
  EXPECT_EQ(Names("*.dll"), (std::set<std::string>{"a.dll", "b.DLL", "lk-Ж😀.dll", "sub.dll"}));
  EXPECT_EQ(Names("*.sys"), (std::set<std::string>{"c.sys"}));
  EXPECT_TRUE(EntryOf("sub.dll").IsDirectory());
  EXPECT_FALSE(EntryOf("a.dll").IsDirectory());
}

TEST_F(DirectoryEnumerationByPattern, StarDotStarAlsoFitsNamesWithoutDot) {
  const std::set<std::string> names = Names("*.*");
  EXPECT_TRUE(names.contains("noext"));
  EXPECT_TRUE(names.contains("c.sys"));
  EXPECT_EQ(names.size(), 6u + (names.contains(".") ? 1u : 0u) + (names.contains("..") ? 1u : 0u));
}

TEST_F(DirectoryEnumerationByPattern, TrailingBackslashAndMissingDirectory) {
  EXPECT_EQ(Entries(folder_.Path() + "\\", "*.sys").size(), 1u);
  EXPECT_TRUE(Entries(folder_ / "missing", "*.*").empty());
  EXPECT_TRUE(Entries(folder_.Path(), "*.exe").empty());
}

TEST_F(DirectoryEnumerationByPattern, AMissingDirectoryIsAnErrorAnEmptyMatchIsNot) {
  std::unique_ptr<DirectoryEnumeration> enumeration =
      files_.EnumerateDirectory(folder_ / "missing", "*.*");
  DirectoryEntry entry;
  EXPECT_FALSE(enumeration->Next(entry));
  EXPECT_EQ(enumeration->Error(), static_cast<std::uint32_t>(ERROR_PATH_NOT_FOUND));
  enumeration = files_.EnumerateDirectory(folder_.Path(), "*.exe");
  EXPECT_FALSE(enumeration->Next(entry));
  EXPECT_EQ(enumeration->Error(), 0u);
  enumeration = files_.EnumerateDirectory(folder_.Path(), "*.dll");
  while (enumeration->Next(entry)) {
  }
  EXPECT_EQ(enumeration->Error(), 0u) << "the end of a listing is not an error";
}

TEST_F(DirectoryEnumerationByPattern, OpenDirectoryRefusesWhatCannotBeWalked) {
  std::uint32_t error = 0;
  EXPECT_FALSE(files_.OpenDirectory(folder_ / "missing", &error));
  EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) << error;
  EXPECT_FALSE(files_.OpenDirectory(folder_ / "a.dll", &error));
  EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_DIRECTORY));

  const std::unique_ptr<Directory> directory = files_.OpenDirectory(folder_.Path(), &error);
  ASSERT_TRUE(directory);
  std::unique_ptr<ReadableFile> file = directory->OpenFile("a.dll", FileShare::Read, &error);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Size(), 10);
  EXPECT_TRUE(directory->OpenSubdirectory("sub.dll", &error));
  EXPECT_FALSE(directory->OpenSubdirectory("missing", &error));
  EXPECT_FALSE(directory->OpenFile("sub.dll\\..\\a.dll", FileShare::Read, &error));
  EXPECT_EQ(error, 123u);  // a name is never a path
}

TEST_F(DirectoryEnumerationByPattern, EntryCarriesSizeAttributesAndTimes) {
  const FILETIME written{0x12345678u, 0x01D00000u};  // in 2014
  const FILETIME accessed{0x22345678u, 0x01D10000u};
  {
    const UniqueFile file = Hold("a.dll", FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ);
    ASSERT_TRUE(file);
    ASSERT_TRUE(SetFileTime(file.Get(), nullptr, &accessed, &written));
  }
  ASSERT_TRUE(SetFileAttributesW(WideFromUtf8(folder_ / "c.sys").c_str(), FILE_ATTRIBUTE_READONLY));
  const DirectoryEntry entry = EntryOf("a.dll");
  EXPECT_EQ(entry.size, 10);
  EXPECT_EQ(entry.lastWriteTime, 0x01D0000012345678);
  EXPECT_EQ(entry.lastAccessTime, 0x01D1000022345678);
  EXPECT_NE(entry.creationTime, 0);
  EXPECT_NE(EntryOf("c.sys").attributes & file_attribute::kReadOnly, 0u);
  EXPECT_EQ(entry.attributes & file_attribute::kReadOnly, 0u);
}

using FileReading = WindowsFileSystemTest;

TEST_F(FileReading, ReadsAtOffsetsAndStopsAtTheEnd) {
  const std::unique_ptr<ReadableFile> file =
      files_.OpenForReading(folder_ / "a.dll", FileShare::Read, nullptr);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Size(), 10);
  EXPECT_EQ(ReadAll(*file, 3, 4), "3456");
  EXPECT_EQ(ReadAll(*file, 0, 2), "01");
  EXPECT_EQ(ReadAll(*file, 8, 10), "89");
  EXPECT_EQ(ReadAll(*file, 10, 4), "");
  EXPECT_EQ(ReadAll(*file, 1000, 4), "");
  char byte = 0;
  EXPECT_FALSE(file->ReadAt(-1, &byte, 1).Ok());
}

TEST_F(FileReading, NameOutsideAnsiCodePageOpensAndReads) {
  const std::unique_ptr<ReadableFile> file =
      files_.OpenForReading(folder_ / "lk-Ж😀.dll", FileShare::Read, nullptr);
  ASSERT_TRUE(file);
  EXPECT_EQ(ReadAll(*file, 0, 100), "unicode");
}

TEST_F(FileReading, ANameThatReachesADeviceIsNotOpened) {
  std::uint32_t error = 0;
  EXPECT_FALSE(files_.OpenForReading(folder_ / "NUL", FileShare::Read, &error));
  EXPECT_EQ(error, 1920u);
}

TEST_F(FileReading, MissingFileGivesItsErrorCode) {
  std::uint32_t error = 0;
  EXPECT_FALSE(Opens("missing.dll", FileShare::Read, &error));
  EXPECT_EQ(error, win_error::kFileNotFound);
  EXPECT_FALSE(Opens("missing\\x.dll", FileShare::Read, &error));
  EXPECT_EQ(error, win_error::kPathNotFound);
}

TEST_F(FileReading, SizesAndOffsetsBeyondFourGiB) {
  {
    const UniqueFile file = Hold("a.dll", GENERIC_WRITE, 0);
    ASSERT_TRUE(file);
    LARGE_INTEGER at{};
    at.QuadPart = kBeyond4GiB;
    ASSERT_TRUE(SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.Get(), "MARK", 4, &written, nullptr));
  }
  const std::unique_ptr<ReadableFile> file =
      files_.OpenForReading(folder_ / "a.dll", FileShare::Read, nullptr);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Size(), kBeyond4GiB + 4);
  EXPECT_EQ(ReadAll(*file, kBeyond4GiB - 2, 10), std::string("\0\0MARK", 6));
  EXPECT_EQ(ReadAll(*file, 0, 4), "0123");
  EXPECT_EQ(EntryOf("a.dll").size, kBeyond4GiB + 4);
}

// A reader's share mode must allow the access others already hold, and others' share modes must
// allow our read access.
using FileSharing = WindowsFileSystemTest;

TEST_F(FileSharing, FileOpenForWritingNeedsWriteSharing) {
  const UniqueFile writer = Hold("a.dll", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_TRUE(writer);
  std::uint32_t error = 0;
  EXPECT_FALSE(Opens("a.dll", FileShare::Read, &error));
  EXPECT_EQ(error, win_error::kSharingViolation);
  EXPECT_TRUE(Opens("a.dll", FileShare::ReadWrite));
}

TEST_F(FileSharing, ReaderThatDeniesWritingStillAdmitsSharingReaders) {
  // The holder denies writing, but our reader only reads: granting write is no conflict.
  const UniqueFile reader = Hold("a.dll", GENERIC_READ, FILE_SHARE_READ);
  ASSERT_TRUE(reader);
  EXPECT_TRUE(Opens("a.dll", FileShare::ReadWrite));
  EXPECT_TRUE(Opens("a.dll", FileShare::Read));
}

TEST_F(FileSharing, ExclusiveHolderLocksEveryReaderOut) {
  const UniqueFile holder = Hold("a.dll", GENERIC_READ, 0);
  ASSERT_TRUE(holder);
  std::uint32_t error = 0;
  EXPECT_FALSE(Opens("a.dll", FileShare::All, &error));
  EXPECT_EQ(error, win_error::kSharingViolation);
}

TEST_F(FileSharing, OurShareModeDecidesWhetherOthersMayWrite) {
  {
    const std::unique_ptr<ReadableFile> file =
        files_.OpenForReading(folder_ / "a.dll", FileShare::Read, nullptr);
    ASSERT_TRUE(file);
    EXPECT_FALSE(Hold("a.dll", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
  }
  const std::unique_ptr<ReadableFile> file =
      files_.OpenForReading(folder_ / "a.dll", FileShare::ReadWrite, nullptr);
  ASSERT_TRUE(file);
  EXPECT_TRUE(Hold("a.dll", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE));
}

TEST(LocalFileTime, DiffersFromUtcByWholeMinutesOfATimeZone) {
  WindowsFileSystem files;
  constexpr std::int64_t kTicksPerMinute = 600'000'000;
  const std::int64_t utc = 0x01D0000012345678;
  const std::int64_t shift = files.ToLocalFileTime(utc) - utc;
  EXPECT_EQ(shift % kTicksPerMinute, 0);
  EXPECT_LE(std::abs(shift), 14 * 60 * kTicksPerMinute);
}

}  // namespace
}  // namespace lk
