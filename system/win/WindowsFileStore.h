#pragma once
// FileStore on Windows: the quarantine's folders with an access list of their own, new files
// written through CreateFileW, and the system's file operations (WindowsSystemAccess hands its
// store out as them).
//
// A private folder grants full control to exactly BUILTIN\Administrators and SYSTEM, inherited by
// everything created in it and not inherited from its parent; its owner is the Administrators
// group where the caller may set that (an elevated administrator), else the caller's default.
// CheckPrivateDirectory opens the folder itself, never what a reparse point leads to, and judges
// it by its owner and by every access-allowing entry of its access list (see WindowsFileStore.cpp
// for what counts as changing it).
//
// CreateNewFile never replaces nor writes through anything that exists at the name (CREATE_NEW,
// so a link of that name is refused like a file with 80), and refuses to create in a folder that
// is itself a reparse point (ERROR_CANT_ACCESS_FILE, 1920). The folders above that one are the
// caller's to check (CheckPrivateDirectory): in folders only the administrators and the system
// may change, nobody else can swap a link in between the check and the write.
//
// Wine keeps no Windows security of its own: every file belongs to the one user who runs it (its
// SID stands for the Unix user) and the access list is made from the Unix mode. There that user is
// the administrator, so CheckPrivateDirectory trusts its SID like the administrators and still
// refuses a folder whose mode lets others change it; KeepsAccessRules says that the Windows rules
// could not be checked.
//
// Paths are UTF-8 and used as given (no "\\?\" prefix). Errors are the Windows codes.

#include <windows.h>
// <windows.h> maps DeleteFile to DeleteFileW, which would rename FileStore::DeleteFile in every
// file that sees both. Windows code here calls the "W" functions by their own names.
#undef DeleteFile

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "system/FileStore.h"

namespace lk {

class WindowsFileStore final : public FileStore {
 public:
  WindowsFileStore();

  [[nodiscard]] FolderTrust CheckPrivateDirectory(std::string_view path) override;
  [[nodiscard]] bool KeepsAccessRules(std::string_view path) override;
  [[nodiscard]] std::uint32_t CreatePrivateDirectory(std::string_view path) override;
  [[nodiscard]] std::unique_ptr<WritableFile> CreateNewFile(std::string_view path,
                                                            std::uint32_t* error) override;
  // Finds a file by its attributes, and by a pattern search where the system holds it locked.
  [[nodiscard]] std::uint32_t FindFile(std::string_view path) override;
  [[nodiscard]] std::uint32_t DeleteFile(std::string_view path) override;
  // Through MoveFileExW; it accepts a missing file and applies the redirection as it stands.
  [[nodiscard]] std::uint32_t DeleteFileAtRestart(std::string_view path) override;
  // Takes the deletions of the path out of the Session Manager's PendingFileRenameOperations.
  [[nodiscard]] std::uint32_t CancelDeleteAtRestart(std::string_view path) override;
  // Opens the file itself (a link, not its target) for its times; the attributes that
  // SetFileAttributesW cannot set (directory, compressed, encrypted, sparse, reparse point) are
  // left out, and no attribute at all means FILE_ATTRIBUTE_NORMAL.
  [[nodiscard]] std::uint32_t SetFileMetadata(std::string_view path, std::uint32_t attributes,
                                              std::int64_t creationTime,
                                              std::int64_t lastAccessTime,
                                              std::int64_t lastWriteTime) override;

 private:
  // Under Wine, the SID of the user the program runs as; empty on Windows.
  std::vector<BYTE> wineUser_;
};

}  // namespace lk
