#pragma once
// The contract of the writing file layer (system/FileStore.h): new files written and never
// replaced, private folders made once, files deleted and their times set, each effect read back
// through the reading layer over the same drive.
//
// A subject gives a store and the reading layer over one drive, and Root(), the path that holds
// an empty folder "Store" ("C:", or a folder of a real drive). Instantiate it once per store:
//   INSTANTIATE_TYPED_TEST_SUITE_P(Posix, FileStoreContract, PosixStoreSubject);

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "system/FileStore.h"
#include "system/FileSystem.h"

namespace lk::contract {

template <typename SubjectType>
class FileStoreContract : public ::testing::Test {
 protected:
  FileStore& store() { return subject_.Store(); }
  FileSystem& files() { return subject_.Files(); }
  // A path (\Store\x.bin) below the subject's root.
  std::string At(std::string_view below) { return subject_.Root() + std::string(below); }

  std::uint32_t Write(std::string_view path, std::string_view bytes) {
    std::uint32_t error = 0;
    const std::unique_ptr<WritableFile> file = store().CreateNewFile(path, &error);
    if (!file) return error;
    if (const std::uint32_t wrote = file->Write(bytes.data(), bytes.size()); wrote != 0) {
      return wrote;
    }
    return file->Finish();
  }
  // The whole file as the reading layer sees it, or "(error N)".
  std::string Stored(std::string_view path) {
    std::uint32_t error = 0;
    const std::unique_ptr<ReadableFile> file =
        files().OpenForReading(path, FileShare::Read, &error);
    if (!file) return "(error " + std::to_string(error) + ")";
    std::string bytes(static_cast<std::size_t>(file->Size()), '\0');
    const ReadResult got = file->ReadAt(0, bytes.data(), bytes.size());
    if (!got.Ok()) return "(error " + std::to_string(got.error) + ")";
    bytes.resize(got.bytes);
    return bytes;
  }
  DirectoryEntry EntryOf(std::string_view folder, std::string_view name) {
    const std::unique_ptr<DirectoryEnumeration> entries = files().EnumerateDirectory(folder, name);
    DirectoryEntry entry;
    if (!entries || !entries->Next(entry) || entry.name == "." || entry.name == "..") {
      entry = DirectoryEntry{};
    }
    return entry;
  }

 private:
  SubjectType subject_;
};

TYPED_TEST_SUITE_P(FileStoreContract);

TYPED_TEST_P(FileStoreContract, ANewFileIsWrittenWithItsHolesAndNeverReplaced) {
  const std::string path = this->At("\\Store\\copy.bin");
  std::uint32_t error = 0;
  {
    const std::unique_ptr<WritableFile> file = this->store().CreateNewFile(path, &error);
    ASSERT_TRUE(file) << error;
    ASSERT_EQ(file->Write("MZ", 2), 0U);
    const std::uint32_t hole = file->WriteHole(5000);
    if (hole == win_error::kNotSupported) {
      ASSERT_EQ(file->Write(std::string(5000, '\0').data(), 5000), 0U) << "the caller's zeros";
    } else {
      ASSERT_EQ(hole, 0U);
    }
    ASSERT_EQ(file->Write("end", 3), 0U);
    ASSERT_EQ(file->Finish(), 0U);
  }
  EXPECT_EQ(this->Stored(path), "MZ" + std::string(5000, '\0') + "end");

  EXPECT_EQ(this->Write(this->At("\\store\\COPY.bin"), "other"), win_error::kFileExists)
      << "an existing name, in any case, is never replaced";
  EXPECT_EQ(this->Stored(path), "MZ" + std::string(5000, '\0') + "end");
  EXPECT_EQ(this->Write(this->At("\\Store\\Missing\\x.bin"), "x"), win_error::kPathNotFound);
}

TYPED_TEST_P(FileStoreContract, APrivateFolderIsMadeOnceAndTrusted) {
  EXPECT_EQ(this->store().CheckPrivateDirectory(this->At("\\Store\\Quarantine")),
            FolderTrust::Missing);
  ASSERT_EQ(this->store().CreatePrivateDirectory(this->At("\\Store\\Quarantine")), 0U);
  if (this->store().KeepsAccessRules(this->At("\\Store\\Quarantine"))) {
    EXPECT_EQ(this->store().CheckPrivateDirectory(this->At("\\Store\\Quarantine")),
              FolderTrust::Private);
  }
  const std::uint32_t again = this->store().CreatePrivateDirectory(this->At("\\Store\\Quarantine"));
  EXPECT_TRUE(again == win_error::kFileExists || again == win_error::kAlreadyExists) << again;

  ASSERT_EQ(this->Write(this->At("\\Store\\plain.txt"), "x"), 0U);
  EXPECT_EQ(this->store().CheckPrivateDirectory(this->At("\\Store\\plain.txt")),
            FolderTrust::NotADirectory);
  const std::uint32_t onFile = this->store().CreatePrivateDirectory(this->At("\\Store\\plain.txt"));
  EXPECT_TRUE(onFile == win_error::kFileExists || onFile == win_error::kAlreadyExists) << onFile;
  EXPECT_EQ(this->Stored(this->At("\\Store\\plain.txt")), "x");
}

TYPED_TEST_P(FileStoreContract, OnlyExistingFilesAreDeleted) {
  ASSERT_EQ(this->Write(this->At("\\Store\\gone.dll"), "MZ"), 0U);
  EXPECT_EQ(this->store().DeleteFile(this->At("\\Store\\GONE.dll")), 0U);
  EXPECT_EQ(this->Stored(this->At("\\Store\\gone.dll")), "(error 2)");
  EXPECT_EQ(this->store().DeleteFile(this->At("\\Store\\gone.dll")), win_error::kFileNotFound);

  ASSERT_EQ(this->store().CreatePrivateDirectory(this->At("\\Store\\Folder")), 0U);
  EXPECT_NE(this->store().DeleteFile(this->At("\\Store\\Folder")), 0U) << "a folder is no file";
  EXPECT_TRUE(this->EntryOf(this->At("\\Store"), "Folder").IsDirectory());
}

TYPED_TEST_P(FileStoreContract, TimesAreSetAndZeroLeavesThem) {
  ASSERT_EQ(this->Write(this->At("\\Store\\dated.sys"), "x"), 0U);
  // 2005-06-07 08:09:10 UTC, a whole second.
  constexpr std::int64_t kWritten = 127626053500000000;
  ASSERT_EQ(this->store().SetFileMetadata(this->At("\\Store\\dated.sys"), file_attribute::kArchive,
                                          0, 0, kWritten),
            0U);
  EXPECT_EQ(this->EntryOf(this->At("\\Store"), "dated.sys").lastWriteTime, kWritten);
  ASSERT_EQ(this->store().SetFileMetadata(this->At("\\Store\\dated.sys"), file_attribute::kArchive,
                                          0, 0, 0),
            0U);
  EXPECT_EQ(this->EntryOf(this->At("\\Store"), "dated.sys").lastWriteTime, kWritten)
      << "0 leaves it";
  EXPECT_EQ(this->store().SetFileMetadata(this->At("\\Store\\absent.sys"), 0, 0, 0, kWritten),
            win_error::kFileNotFound);
}

REGISTER_TYPED_TEST_SUITE_P(FileStoreContract, ANewFileIsWrittenWithItsHolesAndNeverReplaced,
                            APrivateFolderIsMadeOnceAndTrusted, OnlyExistingFilesAreDeleted,
                            TimesAreSetAndZeroLeavesThem);

}  // namespace lk::contract
