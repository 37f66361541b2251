#pragma once
// The questions and changes about single files of the examined system that a removal and a
// restore need: whether a file is there, deleting it now, at the next start of the system, and
// withdrawing such a deletion.
//
// Every system hands out its own (SystemAccess::SystemFiles): on Windows the Win32 calls, on a
// mounted installation the POSIX file layer rooted at its drive, on a disk image the image itself
// (read-only), and the scripted model its files. The file store (FileStore.h) is one, so there
// is a single delete for the removal, the quarantine and the restore alike.
//
// Paths are Windows paths in UTF-8. Every call returns its Windows error code, 0 for success; none
// raises, and none changes what a system reports as its last error except where that system's own
// calls do so (Windows' do).

#include <cstdint>
#include <string_view>

#include "base/WindowsError.h"

// <windows.h> defines DeleteFile as a macro for DeleteFileW; where it was seen first it would
// rename FileOperations::DeleteFile. Windows code calls DeleteFileW by its own name.
#ifdef DeleteFile
#undef DeleteFile
#endif

namespace lk {

class FileOperations {
 public:
  FileOperations() = default;
  FileOperations(const FileOperations&) = delete;
  FileOperations& operator=(const FileOperations&) = delete;
  virtual ~FileOperations() = default;

  // 0 when a file (not a directory) exists at the path; locked files are found by a pattern
  // search. Else why not: 2 for a missing file, 3 for a missing folder on the way, and what the
  // system tells for a folder in the file's place.
  [[nodiscard]] virtual std::uint32_t FindFile(std::string_view path) = 0;
  // Deletes a file (not a directory) that exists.
  [[nodiscard]] virtual std::uint32_t DeleteFile(std::string_view path) = 0;
  // Registers the file for deletion at the next start of the system; a system that does not run
  // refuses (120), since what it deletes goes at once.
  [[nodiscard]] virtual std::uint32_t DeleteFileAtRestart(std::string_view path) = 0;
  // Withdraws the deletion at the next start that DeleteFileAtRestart registered for the path
  // (compared without regard to case); 2 when none was pending.
  [[nodiscard]] virtual std::uint32_t CancelDeleteAtRestart(std::string_view path) = 0;
};

}  // namespace lk
