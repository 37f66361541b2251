#pragma once
// The contract of the reading file layer (system/FileSystem.h), through every implementation over
// the same tree: names without regard to case, the not-found codes, listings with their sizes and
// patterns, reading a range, and a walk by the names a listing yielded.
//
// A subject lays FileContractTree into whatever its layer reads (a host folder, a disk image)
// and gives the layer over it, with Root() the path the tree lies below: "C:" where the layer
// stands for a whole drive, a folder where it reads a real one. Instantiate it once per layer:
//   INSTANTIATE_TYPED_TEST_SUITE_P(Posix, FileSystemContract, PosixFilesSubject);

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "system/FileSystem.h"

namespace lk::contract {

// The same path in lower case, and with '/' for every '\': a layer takes both as the path.
inline std::string Lowered(std::string path) {
  for (char& c : path) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return path;
}
inline std::string Slashed(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// The tree every layer is read over: relative paths with '/', and their bytes.
inline std::vector<std::pair<std::string, std::string>> FileContractTree() {
  std::string large(70000, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>((i * 13) & 0xFF);
  return {{"Data/Report.TXT", "0123456789abcdef"},
          {"Data/empty.dll", ""},
          {"Data/large.bin", large},
          {"Data/Sub/deep.sys", "deep"}};
}

template <typename SubjectType>
class FileSystemContract : public ::testing::Test {
 protected:
  FileSystem& files() { return subject_.Files(); }
  // A path of the tree (\Data\Sub) below the subject's root.
  std::string At(std::string_view below) { return subject_.Root() + std::string(below); }

  static std::vector<DirectoryEntry> Entries(DirectoryEnumeration& enumeration) {
    std::vector<DirectoryEntry> entries;
    for (DirectoryEntry entry; enumeration.Next(entry);) {
      if (entry.name != "." && entry.name != "..") entries.push_back(entry);
    }
    return entries;
  }
  static std::vector<std::string> Names(const std::vector<DirectoryEntry>& entries) {
    std::vector<std::string> names;
    for (const DirectoryEntry& entry : entries) names.push_back(entry.name);
    return names;
  }
  static std::string Read(ReadableFile& file, std::int64_t offset, std::size_t length) {
    std::string bytes(length, '\0');
    const ReadResult got = file.ReadAt(offset, bytes.data(), length);
    if (!got.Ok()) return "(error " + std::to_string(got.error) + ")";
    bytes.resize(got.bytes);
    return bytes;
  }

 private:
  SubjectType subject_;
};

TYPED_TEST_SUITE_P(FileSystemContract);

TYPED_TEST_P(FileSystemContract, NamesIgnoreCaseAndRangesReadAsStored) {
  std::uint32_t error = 0;
  for (const std::string& path :
       {this->At("\\Data\\Report.TXT"), Lowered(this->At("\\DATA\\report.txt")),
        Slashed(this->At("\\data\\Report.txt"))}) {
    const std::unique_ptr<ReadableFile> file =
        this->files().OpenForReading(path, FileShare::Read, &error);
    ASSERT_TRUE(file) << path << ": error " << error;
    EXPECT_EQ(file->Size(), 16);
    EXPECT_EQ(this->Read(*file, 3, 4), "3456") << path;
    EXPECT_EQ(this->Read(*file, 12, 10), "cdef") << "short only at the end";
    EXPECT_EQ(this->Read(*file, 16, 4), "") << "nothing past the end";
  }
  const std::unique_ptr<ReadableFile> large =
      this->files().OpenForReading(this->At("\\Data\\large.bin"), FileShare::Read, &error);
  ASSERT_TRUE(large) << error;
  const std::string expected = FileContractTree()[2].second;
  ASSERT_EQ(large->Size(), static_cast<std::int64_t>(expected.size()));
  EXPECT_EQ(this->Read(*large, 65530, 100), expected.substr(65530, 100)) << "across clusters";
  const std::unique_ptr<ReadableFile> empty =
      this->files().OpenForReading(this->At("\\Data\\EMPTY.dll"), FileShare::Read, &error);
  ASSERT_TRUE(empty) << error;
  EXPECT_EQ(empty->Size(), 0);
  EXPECT_EQ(this->Read(*empty, 0, 8), "");
}

TYPED_TEST_P(FileSystemContract, WhatIsMissingOrNoFileIsRefusedWithItsCode) {
  std::uint32_t error = 0;
  EXPECT_FALSE(
      this->files().OpenForReading(this->At("\\Data\\missing.txt"), FileShare::Read, &error));
  EXPECT_EQ(error, file_error::kFileNotFound);
  error = 0;
  EXPECT_FALSE(this->files().OpenForReading(this->At("\\Missing\\x.txt"), FileShare::Read, &error));
  EXPECT_EQ(error, file_error::kPathNotFound);
  error = 0;
  EXPECT_FALSE(this->files().OpenForReading(this->At("\\Data\\Sub"), FileShare::Read, &error));
  EXPECT_EQ(error, file_error::kAccessDenied) << "a folder is not read as a file";

  const std::unique_ptr<DirectoryEnumeration> missing =
      this->files().EnumerateDirectory(this->At("\\Missing"), "*");
  ASSERT_TRUE(missing);
  EXPECT_TRUE(this->Entries(*missing).empty());
  EXPECT_NE(missing->Error(), 0U) << "a missing folder is not an empty one";
  const std::unique_ptr<DirectoryEnumeration> none =
      this->files().EnumerateDirectory(this->At("\\Data"), "*.none");
  ASSERT_TRUE(none);
  EXPECT_TRUE(this->Entries(*none).empty());
  EXPECT_EQ(none->Error(), 0U) << "no fitting entry is no error";
}

TYPED_TEST_P(FileSystemContract, ListingsGiveEntriesInOneOrderWithSizesAndFitPatterns) {
  const std::unique_ptr<DirectoryEnumeration> all =
      this->files().EnumerateDirectory(this->At("\\data\\"), "*.*");
  ASSERT_TRUE(all);
  const std::vector<DirectoryEntry> entries = this->Entries(*all);
  EXPECT_EQ(all->Error(), 0U);
  EXPECT_EQ(this->Names(entries),
            (std::vector<std::string>{"empty.dll", "large.bin", "Report.TXT", "Sub"}));
  for (const DirectoryEntry& entry : entries) {
    EXPECT_EQ(entry.error, 0U) << entry.name;
    EXPECT_EQ(entry.IsDirectory(), entry.name == "Sub") << entry.name;
    if (entry.name == "Report.TXT") {
      EXPECT_EQ(entry.size, 16);
    }
    if (entry.name == "large.bin") {
      EXPECT_EQ(entry.size, 70000);
    }
    if (!entry.IsDirectory()) {
      EXPECT_NE(entry.lastWriteTime, 0) << entry.name;
    }
  }
  const std::unique_ptr<DirectoryEnumeration> text =
      this->files().EnumerateDirectory(this->At("\\Data"), "*.txt");
  ASSERT_TRUE(text);
  EXPECT_EQ(this->Names(this->Entries(*text)), std::vector<std::string>{"Report.TXT"});
  const std::unique_ptr<DirectoryEnumeration> one =
      this->files().EnumerateDirectory(this->At("\\Data"), "?arge.*");
  ASSERT_TRUE(one);
  EXPECT_EQ(this->Names(this->Entries(*one)), std::vector<std::string>{"large.bin"});
}

TYPED_TEST_P(FileSystemContract, AWalkOpensEntriesByTheirNamesAlone) {
  std::uint32_t error = 0;
  const std::unique_ptr<Directory> data = this->files().OpenDirectory(this->At("\\Data"), &error);
  ASSERT_TRUE(data) << error;
  const std::unique_ptr<Directory> sub = data->OpenSubdirectory("Sub", &error);
  ASSERT_TRUE(sub) << error;
  const std::unique_ptr<ReadableFile> deep = sub->OpenFile("deep.sys", FileShare::Read, &error);
  ASSERT_TRUE(deep) << error;
  EXPECT_EQ(this->Read(*deep, 0, 64), "deep");
  const std::unique_ptr<DirectoryEnumeration> listed = sub->Enumerate("*");
  ASSERT_TRUE(listed);
  EXPECT_EQ(this->Names(this->Entries(*listed)), std::vector<std::string>{"deep.sys"});

  error = 0;
  EXPECT_FALSE(data->OpenFile("Sub\\deep.sys", FileShare::Read, &error)) << "a name, no path";
  EXPECT_EQ(error, file_error::kInvalidName);
  error = 0;
  EXPECT_FALSE(data->OpenSubdirectory("Sub\\..", &error));
  EXPECT_EQ(error, file_error::kInvalidName);
  error = 0;
  EXPECT_FALSE(data->OpenFile("Sub", FileShare::Read, &error));
  EXPECT_EQ(error, file_error::kAccessDenied) << "a folder is no regular file";
  error = 0;
  EXPECT_FALSE(data->OpenFile("gone.dll", FileShare::Read, &error));
  EXPECT_EQ(error, file_error::kFileNotFound);
}

REGISTER_TYPED_TEST_SUITE_P(FileSystemContract, NamesIgnoreCaseAndRangesReadAsStored,
                            WhatIsMissingOrNoFileIsRefusedWithItsCode,
                            ListingsGiveEntriesInOneOrderWithSizesAndFitPatterns,
                            AWalkOpensEntriesByTheirNamesAlone);

}  // namespace lk::contract
