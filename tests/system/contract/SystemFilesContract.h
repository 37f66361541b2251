#pragma once
// The contract of the file operations a system hands out (SystemAccess::SystemFiles): a file
// present, absent and deleted, no deletion pending, through every implementation, each failure
// with its returned code.
//
// Instantiate it once per implementation, in the test source that defines its subject:
//   INSTANTIATE_TYPED_TEST_SUITE_P(Offline, SystemFilesContract, OfflineSubject);
// and, where files can be deleted, SystemFileDeletionContract too.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/system/contract/ContractSubject.h"

namespace lk::contract {

template <typename SubjectType>
class SystemFilesContract : public ContractFixture<SubjectType> {};

TYPED_TEST_SUITE_P(SystemFilesContract);

TYPED_TEST_P(SystemFilesContract, FilesArePresentOrAbsent) {
  const std::string folder = this->subject().Folder();
  const std::string file = folder + "\\mfc42ul.dll";
  this->subject().PutFile(file, "MZ");
  SystemAccess& system = this->system();
  EXPECT_EQ(system.SystemFiles().FindFile(file), 0U);
  EXPECT_EQ(system.SystemFiles().FindFile(folder + "\\MFC42UL.DLL"), 0U) << "names ignore case";
  EXPECT_NE(system.SystemFiles().FindFile(folder), 0U) << "a folder is no file";
  EXPECT_EQ(system.SystemFiles().FindFile(folder + "\\missing.dll"), win_error::kFileNotFound);
  EXPECT_EQ(system.SystemFiles().FindFile(folder + "\\Missing\\x.dll"), win_error::kPathNotFound);
}

TYPED_TEST_P(SystemFilesContract, NothingPendingCannotBeWithdrawn) {
  const std::string file = this->subject().Folder() + "\\b.dll";
  EXPECT_EQ(this->system().SystemFiles().CancelDeleteAtRestart(file), win_error::kFileNotFound);
}

REGISTER_TYPED_TEST_SUITE_P(SystemFilesContract, FilesArePresentOrAbsent,
                            NothingPendingCannotBeWithdrawn);

// The writing side, for a system whose files can be deleted (a disk image's cannot).
template <typename SubjectType>
class SystemFileDeletionContract : public ContractFixture<SubjectType> {};

TYPED_TEST_SUITE_P(SystemFileDeletionContract);

TYPED_TEST_P(SystemFileDeletionContract, AFileIsDeletedOnceAndAFolderNever) {
  const std::string folder = this->subject().Folder();
  const std::string file = folder + "\\mfc42ul.dll";
  this->subject().PutFile(file, "MZ");
  SystemAccess& system = this->system();
  EXPECT_NE(system.SystemFiles().DeleteFile(folder), 0U) << "a folder is not deleted as a file";
  EXPECT_EQ(system.SystemFiles().DeleteFile(file), 0U);
  EXPECT_FALSE(this->subject().FileStored(file));
  EXPECT_NE(system.SystemFiles().FindFile(file), 0U);
  EXPECT_EQ(system.SystemFiles().DeleteFile(file), win_error::kFileNotFound);
}

REGISTER_TYPED_TEST_SUITE_P(SystemFileDeletionContract, AFileIsDeletedOnceAndAFolderNever);

}  // namespace lk::contract
