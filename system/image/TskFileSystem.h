#pragma once
// The file-access layer over an NTFS volume of a disk image, read through The Sleuth Kit: the
// checks and the sweep read an image exactly as they read a mounted volume, and nothing of the
// image can be changed through it.
//
// Paths are Windows paths of drive C: ("C:\Windows\System32\x.dll"; '/' is taken as '\' too,
// another drive is a missing path, 3). Each component is looked up without regard to case by the
// volume's own upcase table, as Windows compares names, preferring the exact spelling. A folder
// yields "." and ".." first (except the volume's root), then its entries in the order of the
// POSIX layer (sorted without regard to ASCII case), so a scan of an image reports in the same
// order as a scan of the same tree on a host folder. The volume's metadata files ($MFT and the
// rest), deleted names and the Sleuth Kit's virtual folders are never yielded.
//
// Only regular files are opened: a folder gives 5, a reparse point (a junction or a symbolic
// link) 1921, as a walk of a hostile tree must not follow one. A folder that is already an
// ancestor on a walk is not entered again (1921): a damaged or forged index cannot make a walk
// endless. Whatever the Sleuth Kit cannot read is reported with 30 (a read fault), never as an
// empty file or folder. Listings are kept once read (the volume does not change); every Sleuth
// Kit call is made under the volume's lock, so the layer may be used from several threads.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "system/FileSystem.h"
#include "system/image/NtfsVolume.h"

namespace lk {

class TskFileSystem final : public FileSystem {
 public:
  explicit TskFileSystem(std::shared_ptr<NtfsVolume> volume);
  ~TskFileSystem() override;

  std::unique_ptr<ReadableFile> OpenForReading(std::string_view path, FileShare share,
                                               std::uint32_t* error) override;
  std::unique_ptr<DirectoryEnumeration> EnumerateDirectory(std::string_view directory,
                                                           std::string_view pattern) override;
  std::unique_ptr<Directory> OpenDirectory(std::string_view path, std::uint32_t* error) override;
  std::int64_t ToLocalFileTime(std::int64_t utcTicks) override;

  // Whether path names an existing regular file (not a folder, not a reparse point).
  [[nodiscard]] bool IsRegularFile(std::string_view path, std::uint32_t* error);
  // The path as the volume spells it (the same components, in their stored case); nullopt when
  // it does not exist.
  [[nodiscard]] std::optional<std::string> SpelledPath(std::string_view path);

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace lk
