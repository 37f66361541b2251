#pragma once
// The file-access layer on a POSIX host, over a folder that stands for one Windows drive.
//
// The core speaks Windows paths ("C:\WINDOWS\system32\Drivers\x.sys"). This layer accepts '\' and
// '/' as separators, checks the drive letter (another drive is a missing path, error 3), and
// resolves each component against the host folder without regard to ASCII case, preferring the
// exact spelling, so a tree laid out like a Windows installation on a case-sensitive file system
// reads like the real thing. Errors are Windows codes: 2 for a missing file, 3 for a missing
// directory on the way, 5 for a refused open or a directory opened as a file.
//
// Everything a walk enumerates is handled by its exact host bytes: OpenDirectory gives a Directory
// that holds the host directory open, and its entries are examined, opened and entered relative to
// it (fstatat, openat), so a name such as "..\x" or "a\b" never becomes a path, and the depth of
// a walk is not bound by the host's PATH_MAX. Such a Directory opens only regular files, without
// blocking and without following a symbolic link (a pipe, socket or device is refused with 1920, a
// link with 1921); a name holding '\' is yielded with error 123 and cannot be opened. Paths that a
// caller names are walked the same way (HostPathMap), one folder descriptor after the other: any
// case, but a link anywhere on the way or in the entry's place is never followed (1921), and
// only regular files are opened. A path starting with '/' is a host path (see HostPathMap).
// Names need not be UTF-8: patterns take a byte that does not start a valid UTF-8 sequence as one
// character.
//
// Directory enumeration follows FindFirstFile's pattern rules ('*', '?', "*.*" also fits names
// without a dot, "*." only those, "*.dll" does not fit "x.dllx", without regard to case; 8.3
// short names do not exist here). It yields "." and ".." first (except in the drive's root, as
// on Windows), then the entries sorted without regard to case, as NTFS gives them. Symbolic links
// are reported as reparse points with the directory bit of their target, size 0 and the link's own
// times, so a searcher can refuse to follow them.
//
// Share modes cannot be enforced on POSIX and are ignored; files in use are modelled by SetLocked
// (opening fails with 32, ERROR_SHARING_VIOLATION). The hidden attribute is given only by
// SetHidden, never derived from the name. A path mapping (for instance the 64-bit redirection
// of the scripted system) is applied to every path before it is resolved; locks and hidden marks
// name where the file really is, as the mapping's result would. The hooks are not synchronised: set
// them before reading.

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "system/FileSystem.h"
#include "system/posix/HostPathMap.h"

namespace lk {

class PosixDirectory;

class PosixFileSystem final : public FileSystem {
 public:
  // hostRoot: the host folder that stands for drive (a letter and a colon, e.g. "C:").
  explicit PosixFileSystem(std::string hostRoot, std::string drive = "C:");

  // Applied to every Windows path before it is resolved; none by default.
  void SetPathMapping(std::function<std::string(std::string_view)> mapping);
  // Opening the file fails with 32 while it is locked (a file in use by the system).
  void SetLocked(std::string_view windowsPath, bool locked);
  // The entry carries FILE_ATTRIBUTE_HIDDEN in enumerations.
  void SetHidden(std::string_view windowsPath, bool hidden);

  // The host path of an existing entry (after the mapping), or no value with the Windows error
  // in *error (when error is not null).
  [[nodiscard]] std::optional<std::string> ResolveHostPath(std::string_view windowsPath,
                                                           std::uint32_t* error) const;
  // The resolution of Windows paths onto the host folder, shared with the writing side.
  [[nodiscard]] const HostPathMap& Paths() const noexcept { return paths_; }

  std::unique_ptr<ReadableFile> OpenForReading(std::string_view path, FileShare share,
                                               std::uint32_t* error) override;
  std::unique_ptr<DirectoryEnumeration> EnumerateDirectory(std::string_view directory,
                                                           std::string_view pattern) override;
  std::unique_ptr<Directory> OpenDirectory(std::string_view path, std::uint32_t* error) override;
  std::int64_t ToLocalFileTime(std::int64_t utcTicks) override;

 private:
  friend class PosixDirectory;

  HostPathMap paths_;
  std::set<std::string> locked_;  // keys of parsed paths
  std::set<std::string> hidden_;
};

// Windows file-name pattern matching as FindFirstFile does it (exposed for the tests).
[[nodiscard]] bool FitsWindowsPattern(std::string_view name, std::string_view pattern);

}  // namespace lk
