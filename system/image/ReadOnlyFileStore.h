#pragma once
// The writing side of a disk image: there is none. Every change is refused with 19
// (ERROR_WRITE_PROTECT), so no quarantine, removal or restore can ever reach the image, whatever
// asks. A file is found as the image holds it; nothing is ever deleted at a restart, since the
// installation does not run (120), so no such deletion is pending (2).

#include "system/FileStore.h"
#include "system/image/TskFileSystem.h"

namespace lk {

class ReadOnlyFileStore final : public FileStore {
 public:
  static constexpr std::uint32_t kWriteProtect = 19;

  // Finds files in files, which must outlive the store.
  explicit ReadOnlyFileStore(TskFileSystem& files) : files_(files) {}

  std::uint32_t FindFile(std::string_view path) override {
    std::uint32_t error = 0;
    return files_.IsRegularFile(path, &error) ? 0 : error;
  }
  std::uint32_t DeleteFile(std::string_view) override { return kWriteProtect; }
  std::uint32_t DeleteFileAtRestart(std::string_view) override {
    return win_error::kCallNotImplemented;
  }
  std::uint32_t CancelDeleteAtRestart(std::string_view) override {
    return win_error::kFileNotFound;
  }

  FolderTrust CheckPrivateDirectory(std::string_view) override { return FolderTrust::Unreadable; }
  std::uint32_t CreatePrivateDirectory(std::string_view) override { return kWriteProtect; }
  std::unique_ptr<WritableFile> CreateNewFile(std::string_view, std::uint32_t* error) override {
    if (error != nullptr) *error = kWriteProtect;
    return nullptr;
  }
  std::uint32_t SetFileMetadata(std::string_view, std::uint32_t, std::int64_t, std::int64_t,
                                std::int64_t) override {
    return kWriteProtect;
  }

 private:
  TskFileSystem& files_;
};

}  // namespace lk
