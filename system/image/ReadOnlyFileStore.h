#pragma once
// The writing side of a disk image: there is none. Every change is refused with 19
// (ERROR_WRITE_PROTECT), so no quarantine or restore can ever reach the image, whatever asks.

#include "system/FileStore.h"

namespace lk {

class ReadOnlyFileStore final : public FileStore {
 public:
  static constexpr std::uint32_t kWriteProtect = 19;

  FolderTrust CheckPrivateDirectory(std::string_view) override { return FolderTrust::Unreadable; }
  std::uint32_t CreatePrivateDirectory(std::string_view) override { return kWriteProtect; }
  std::unique_ptr<WritableFile> CreateNewFile(std::string_view, std::uint32_t* error) override {
    if (error != nullptr) *error = kWriteProtect;
    return nullptr;
  }
  std::uint32_t DeleteFile(std::string_view) override { return kWriteProtect; }
  std::uint32_t SetFileMetadata(std::string_view, std::uint32_t, std::int64_t, std::int64_t,
                                std::int64_t) override {
    return kWriteProtect;
  }
};

}  // namespace lk
