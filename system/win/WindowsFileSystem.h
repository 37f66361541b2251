#pragma once
// FileSystem on Windows: files opened with CreateFileW for reading at 64-bit offsets, and
// directories enumerated with FindFirstFileExW / FindNextFileW.
//
// Paths and names are UTF-8 at the interface and UTF-16 towards Windows, so names outside the
// ANSI code page are enumerated and opened like any other. Paths are used as given: no "\\?\"
// prefix is added, so a path longer than MAX_PATH fails as it does for the system's own tools.
// Pattern matching is the system's (with its habits, such as "*.*" fitting names without a dot).
// Enumerations start in the fast form where the system has it (FindFirstFileForm) and say why a
// directory could not be read; a missing or unreadable directory is refused by OpenDirectory.
// Only files on disk are opened: a name that reaches a device ("CON") is refused with 1920.

#include <cstdint>
#include <memory>
#include <string_view>

#include "system/FileSystem.h"
#include "system/win/FindFirstFileForm.h"

namespace lk {

class WindowsFileSystem final : public FileSystem {
 public:
  WindowsFileSystem() = default;

  // Opens with GENERIC_READ and exactly the share mode asked for: a caller that grants
  // FileShare::Read fails with 32 (sharing violation) on a file another program is writing.
  [[nodiscard]] std::unique_ptr<ReadableFile> OpenForReading(std::string_view path, FileShare share,
                                                             std::uint32_t* error) override;
  [[nodiscard]] std::unique_ptr<DirectoryEnumeration> EnumerateDirectory(
      std::string_view directory, std::string_view pattern) override;
  [[nodiscard]] std::unique_ptr<Directory> OpenDirectory(std::string_view path,
                                                         std::uint32_t* error) override;
  [[nodiscard]] std::int64_t ToLocalFileTime(std::int64_t utcTicks) override;

 private:
  FindFirstFileForm findForm_;
};

}  // namespace lk
