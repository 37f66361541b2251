#pragma once
// Windows paths mapped onto a host folder that stands for one Windows drive: the path resolution
// that the POSIX file layer's reading side (PosixFileSystem) and writing side (PosixFileStore)
// share, so both name the same host entry for the same Windows path.
//
// '\' and '/' are separators; a drive letter other than the map's is a missing path (3); "." and
// ".." are resolved before the host is asked, so no path leaves the host folder by its
// components. Each component is looked up without regard to ASCII case, the exact spelling first,
// then the first in byte order, so the choice never depends on the host's directory order. A path
// mapping (the 64-bit redirection of the scripted system) is applied first where asked for.
//
// Paths are walked by descriptor, never as strings: the host folder is opened once, and each
// folder on the way is opened relative to the one above it with O_NOFOLLOW, its names looked up
// in the listing of that descriptor. A symbolic link on the way is never followed (1921), and
// neither is a change of device below the host folder (a mount, 1921): such a path leads nowhere.
// A path that starts with '/' is a host path (a folder on the rescue medium) walked the same way
// from the host's root, across mounts. A walk that must trust such a path (the writing side's)
// asks that every folder on its way be one that only root or the effective user may change (a
// sticky folder such as /tmp counts when the entry below it is theirs), else it is refused with 5.
//
// It opens folders only; whoever acts on the entry does so relative to the folder descriptor it
// hands out (openat, unlinkat, renameat with O_NOFOLLOW or AT_SYMLINK_NOFOLLOW).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system/posix/UniqueDescriptor.h"

namespace lk {

// The Windows error code for an errno value of a failed host call.
[[nodiscard]] std::uint32_t WindowsErrorFromErrno(int error);

class HostPathMap {
 public:
  // A Windows path taken apart: its components below the drive's root, "." and ".." resolved.
  // host: the components are below the host's root '/', not below the drive.
  struct ParsedPath {
    std::vector<std::string> components;
    bool host = false;
  };

  // A new or existing entry reached by a walk: the open folder that holds it and its name there
  // (the existing spelling when an entry of that name exists in any case, else the name as the
  // path gives it). hostFolder names the folder for messages only.
  struct WalkedEntry {
    UniqueDescriptor folder;
    std::string name;
    bool exists = false;
    std::string hostFolder;
    std::vector<std::string> spelled;  // the folders on the way, as the disk spells them
  };

  // hostRoot: the host folder that stands for drive (a letter and a colon, e.g. "C:"); it is
  // opened here, once.
  HostPathMap(std::string hostRoot, std::string drive);

  void SetPathMapping(std::function<std::string(std::string_view)> mapping);

  // mapped: apply the path mapping first. No value for another drive or a device path.
  [[nodiscard]] std::optional<ParsedPath> Parse(std::string_view windowsPath, bool mapped) const;
  // The lower-cased path below the drive ("\windows\system32"), a key for per-file marks.
  [[nodiscard]] static std::string Key(const ParsedPath& path);
  // The host folder as given, without trailing separators.
  [[nodiscard]] const std::string& HostRoot() const noexcept { return hostRoot_; }

  // The host path of an existing entry (after the mapping), for messages, or no value with the
  // Windows error in *error (when not null): 2 for a missing last component, 3 for a missing
  // folder on the way, 1921 for a link or mount on the way.
  [[nodiscard]] std::optional<std::string> ResolveHostPath(std::string_view windowsPath,
                                                           std::uint32_t* error) const;
  // Walks to the folder of the entry that the path names (after the mapping): that folder must
  // exist (else 3); the drive's root itself is no entry (123).
  // trusted: a host path must lead only through folders that others cannot change.
  [[nodiscard]] std::optional<WalkedEntry> Walk(std::string_view windowsPath, std::uint32_t* error,
                                                bool trusted = false) const;
  // The path of an existing entry as the disk spells it ("C:\\Windows\\System32"), or no value.
  [[nodiscard]] std::optional<std::string> SpelledPath(std::string_view windowsPath) const;
  // Opens the folder that the path names itself (the drive's root for an empty path).
  [[nodiscard]] UniqueDescriptor OpenFolder(std::string_view windowsPath, std::uint32_t* error,
                                            std::string* hostFolder = nullptr,
                                            bool trusted = false) const;

 private:
  [[nodiscard]] UniqueDescriptor WalkFolders(const ParsedPath& parsed, std::size_t count,
                                             std::uint32_t* error, std::string* hostFolder,
                                             std::vector<std::string>* spelled, bool trusted) const;

  std::string hostRoot_;
  std::string drive_;
  std::shared_ptr<const UniqueDescriptor> root_;
  std::function<std::string(std::string_view)> mapping_;
};

// Finds the entry of the open folder named name without regard to case (the exact spelling
// first, then the first in byte order); no value when there is none. *refusal receives the
// Windows error when the folder cannot be searched.
[[nodiscard]] std::optional<std::string> FindEntryIn(int folder, const std::string& name,
                                                     std::uint32_t* refusal);
// Every entry of the open folder whose name equals name without regard to case, in byte order.
[[nodiscard]] std::vector<std::string> CaseTwinsIn(int folder, const std::string& name);

}  // namespace lk
