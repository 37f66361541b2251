#pragma once
// The writing side of the file layer on a POSIX host, over the same host folder as a
// PosixFileSystem (the same path resolution, mapping included), for the quarantine and the
// restore of lkscan on a Linux rescue system.
//
// Every change is made relative to the folder that holds the entry, opened with O_DIRECTORY and
// O_NOFOLLOW: a link put in place of that folder is refused (1921), and the entry itself is never
// followed either (new files with O_EXCL|O_NOFOLLOW, times and modes with AT_SYMLINK_NOFOLLOW).
// The folders on the way are walked by descriptor as the reading side walks them (HostPathMap):
// a link or mount anywhere on the way is refused, and so is a host path ('/...') through a
// folder that others may change. A caller that must trust the folders of its own checks each
// with CheckPrivateDirectory. Holes are written as holes (WriteHole).
//
// Ownership and modes stand for the access rules: a private folder is mode 0700, a new file
// 0600. A folder is trusted when it is owned by root or by the effective user (the one who writes
// the quarantine) and no group or other may write to it. Volumes that keep no POSIX modes (NTFS
// through ntfs-3g, a "fuseblk" mount, or the kernel's ntfs3 and ntfs drivers, which show every
// entry as root's with mode 0777) cannot be judged that way: there only links and the folder's
// type are checked, and KeepsAccessRules says false.
//
// As the file operations of an installation that is not running (OfflineSystemAccess hands its
// store out as them), a file is a regular file reached without a link, and nothing is deleted at
// a restart.
//
// Metadata: POSIX keeps no creation time, so it is ignored; the read-only attribute clears every
// write bit of the mode, its absence restores the owner's; hidden, system and archive have no
// counterpart and are ignored.

#include <string>
#include <string_view>

#include "system/FileStore.h"
#include "system/posix/PosixFileSystem.h"

namespace lk {

class PosixFileStore final : public FileStore {
 public:
  // Writes below the host folder that files reads; files must outlive the store.
  explicit PosixFileStore(const PosixFileSystem& files) : paths_(files.Paths()) {}

  FolderTrust CheckPrivateDirectory(std::string_view path) override;
  bool KeepsAccessRules(std::string_view path) override;
  bool TakesHostPaths() const override { return true; }
  std::uint32_t CreatePrivateDirectory(std::string_view path) override;
  std::unique_ptr<WritableFile> CreateNewFile(std::string_view path, std::uint32_t* error) override;
  // A regular file only: a link, folder, pipe or device of that name is none (2).
  std::uint32_t FindFile(std::string_view path) override;
  std::uint32_t DeleteFile(std::string_view path) override;
  // The installation below the host folder does not run, so nothing waits for its next start:
  // what is deleted goes at once, and no deletion is ever pending.
  std::uint32_t DeleteFileAtRestart(std::string_view) override {
    return win_error::kCallNotImplemented;
  }
  std::uint32_t CancelDeleteAtRestart(std::string_view) override {
    return win_error::kFileNotFound;
  }
  std::uint32_t SetFileMetadata(std::string_view path, std::uint32_t attributes,
                                std::int64_t creationTime, std::int64_t lastAccessTime,
                                std::int64_t lastWriteTime) override;

 private:
  const HostPathMap& paths_;
};

// Whether a mount of this type (the third field from the end of a /proc/self/mountinfo line)
// keeps POSIX owners and modes; exposed for the tests.
[[nodiscard]] bool MountTypeKeepsModes(std::string_view type);

}  // namespace lk
