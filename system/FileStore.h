#pragma once
// The writing side of the file layer: what keeping a quarantine and restoring from it need.
//
// Paths are Windows paths in UTF-8, as in FileSystem; the POSIX implementation maps them onto the
// same host folder as PosixFileSystem. Nothing here follows a link or reparse point that it
// creates or writes through: a quarantine folder that an attacker could redirect would let a
// privileged removal write where it was never asked to. Errors are Windows codes (FileSystem.h
// and win_error), 0 for success.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/WindowsError.h"
#include "system/FileOperations.h"

namespace lk {

// Whether an existing folder may hold a quarantine, which keeps copies of what was removed and
// is written with the rights of an administrator.
enum class FolderTrust : std::uint8_t {
  Private,           // a directory, owned by the administrators or the system, changed by none else
  Missing,           // nothing of that name
  NotADirectory,     // a file (or device) of that name
  ReparsePoint,      // a symbolic link, junction or other reparse point
  ForeignOwner,      // owned by someone other than the administrators or the system
  WritableByOthers,  // others than the administrators and the system may change it
  Unreadable,        // its owner or access rules cannot be read
};

// A new file being written. Finish flushes and closes it; a file not finished is closed as it is.
class WritableFile {
 public:
  WritableFile() = default;
  WritableFile(const WritableFile&) = delete;
  WritableFile& operator=(const WritableFile&) = delete;
  virtual ~WritableFile() = default;

  // Appends all length bytes; 0 or the error code.
  [[nodiscard]] virtual std::uint32_t Write(const void* data, std::size_t length) = 0;
  // Appends length zeros as a hole, which takes no room on the disk; 50 (not supported) where
  // the layer makes no holes, and the caller writes the zeros instead.
  [[nodiscard]] virtual std::uint32_t WriteHole(std::int64_t /*length*/) {
    return win_error::kNotSupported;
  }
  // Writes what is buffered through to the disk and closes the file; 0 or the error code.
  [[nodiscard]] virtual std::uint32_t Finish() = 0;
};

// The file operations (finding and deleting files) are the store's too, so what the quarantine
// and the restore delete goes through the same delete as the removal.
class FileStore : public FileOperations {
 public:
  // Whether the folder at path may hold a quarantine (see FolderTrust). Each folder on the way is
  // checked by the caller where that matters; this looks at the one named.
  [[nodiscard]] virtual FolderTrust CheckPrivateDirectory(std::string_view path) = 0;
  // Whether the file system that holds path keeps owners and access rules. Where it does not (an
  // NTFS volume mounted on Linux shows every folder as the superuser's, writable by everyone),
  // CheckPrivateDirectory looks only for links and the folder's type, and the caller says that
  // the access rules could not be checked.
  [[nodiscard]] virtual bool KeepsAccessRules(std::string_view /*path*/) { return true; }
  // Whether a path starting with '/' names a folder of the host outside the examined drive (a
  // rescue system's own medium), walked as safely as the drive's paths.
  [[nodiscard]] virtual bool TakesHostPaths() const { return false; }
  // Creates one folder that only the administrators and the system may read or change (on Windows
  // an access list for exactly those two, not inherited; on POSIX mode 0700). Fails with
  // kFileExists (80) or 183 when something of that name exists.
  [[nodiscard]] virtual std::uint32_t CreatePrivateDirectory(std::string_view path) = 0;
  // Creates a new file for writing; fails with 80 when the name exists (never replaces it).
  [[nodiscard]] virtual std::unique_ptr<WritableFile> CreateNewFile(std::string_view path,
                                                                    std::uint32_t* error) = 0;
  // Sets a file's attributes (file_attribute bits; the directory bit is ignored) and its times
  // (FILETIME ticks, UTC; 0 leaves that time as it is).
  [[nodiscard]] virtual std::uint32_t SetFileMetadata(std::string_view path,
                                                      std::uint32_t attributes,
                                                      std::int64_t creationTime,
                                                      std::int64_t lastAccessTime,
                                                      std::int64_t lastWriteTime) = 0;
};

}  // namespace lk
