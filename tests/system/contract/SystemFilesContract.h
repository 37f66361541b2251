#pragma once
// The contract of the file questions of SystemAccess: a file present, absent and deleted, no
// deletion pending, a device that is missing, through every implementation.
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
  EXPECT_TRUE(system.FilePresent(file));
  EXPECT_TRUE(system.FilePresent(folder + "\\MFC42UL.DLL")) << "names ignore case";
  EXPECT_FALSE(system.FilePresent(folder)) << "a folder is no file";
  EXPECT_FALSE(system.FilePresent(folder + "\\missing.dll"));
  EXPECT_EQ(system.LastSystemError(), win_error::kFileNotFound);
  EXPECT_FALSE(system.FilePresent(folder + "\\Missing\\x.dll"));
  EXPECT_EQ(system.LastSystemError(), win_error::kPathNotFound);
}

TYPED_TEST_P(SystemFilesContract, NothingPendingCannotBeWithdrawn) {
  const std::string file = this->subject().Folder() + "\\b.dll";
  EXPECT_FALSE(this->system().CancelDeleteAtRestart(file));
  EXPECT_EQ(this->system().LastSystemError(), win_error::kFileNotFound);
}

TYPED_TEST_P(SystemFilesContract, AMissingDeviceDoesNotOpen) {
  EXPECT_FALSE(this->system().DeviceCanBeOpened("\\\\.\\LkNoSuchDevice"));
}

REGISTER_TYPED_TEST_SUITE_P(SystemFilesContract, FilesArePresentOrAbsent,
                            NothingPendingCannotBeWithdrawn, AMissingDeviceDoesNotOpen);

// The writing side, for a system whose files can be deleted (a disk image's cannot).
template <typename SubjectType>
class SystemFileDeletionContract : public ContractFixture<SubjectType> {};

TYPED_TEST_SUITE_P(SystemFileDeletionContract);

TYPED_TEST_P(SystemFileDeletionContract, AFileIsDeletedOnceAndAFolderNever) {
  const std::string folder = this->subject().Folder();
  const std::string file = folder + "\\mfc42ul.dll";
  this->subject().PutFile(file, "MZ");
  SystemAccess& system = this->system();
  EXPECT_FALSE(system.DeleteFileNow(folder)) << "a folder is not deleted as a file";
  EXPECT_TRUE(system.DeleteFileNow(file));
  EXPECT_FALSE(this->subject().FileStored(file));
  EXPECT_FALSE(system.FilePresent(file));
  EXPECT_FALSE(system.DeleteFileNow(file));
  EXPECT_EQ(system.LastSystemError(), win_error::kFileNotFound);
}

REGISTER_TYPED_TEST_SUITE_P(SystemFileDeletionContract, AFileIsDeletedOnceAndAFolderNever);

}  // namespace lk::contract
