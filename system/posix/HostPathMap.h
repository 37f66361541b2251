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
// It resolves names; it opens nothing and follows links the way stat does. Whoever writes must
// open the folder it resolved without following a link (O_NOFOLLOW) and act relative to it.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lk {

// The Windows error code for an errno value of a failed host call.
[[nodiscard]] std::uint32_t WindowsErrorFromErrno(int error);

class HostPathMap {
 public:
  // A Windows path taken apart: its components below the drive's root, "." and ".." resolved.
  struct ParsedPath {
    std::vector<std::string> components;
  };

  // A new or existing entry: the host folder that holds it and its name there (the existing
  // spelling when an entry of that name exists in any case, else the name as the path gives it).
  struct HostEntry {
    std::string folder;
    std::string name;
    bool exists = false;
  };

  // hostRoot: the host folder that stands for drive (a letter and a colon, e.g. "C:").
  HostPathMap(std::string hostRoot, std::string drive);

  void SetPathMapping(std::function<std::string(std::string_view)> mapping);

  // mapped: apply the path mapping first. No value for another drive or a device path.
  [[nodiscard]] std::optional<ParsedPath> Parse(std::string_view windowsPath, bool mapped) const;
  // The lower-cased path below the drive ("\windows\system32"), a key for per-file marks.
  [[nodiscard]] static std::string Key(const ParsedPath& path);

  // The host path of an existing entry (after the mapping), or no value with the Windows error in
  // *error (when not null): 2 for a missing last component, 3 for a missing folder on the way.
  [[nodiscard]] std::optional<std::string> ResolveHostPath(std::string_view windowsPath,
                                                           std::uint32_t* error) const;
  // Where the entry that the path names lives or would live (after the mapping): its folder must
  // exist (else 3); the drive's root itself is no entry (123).
  [[nodiscard]] std::optional<HostEntry> ResolveHostEntry(std::string_view windowsPath,
                                                          std::uint32_t* error) const;

 private:
  [[nodiscard]] std::optional<std::string> ResolveComponents(const ParsedPath& parsed,
                                                             std::size_t count,
                                                             std::uint32_t* error) const;

  std::string hostRoot_;
  std::string drive_;
  std::function<std::string(std::string_view)> mapping_;
};

}  // namespace lk
