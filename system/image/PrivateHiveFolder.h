#pragma once
// The hives of an installation on a disk image, copied into a private folder of this host so
// that the offline registry layer can read them as it reads a mounted volume's.
//
// The layer opens hives and their transaction logs by descriptor, relative to their folder, and
// replays the logs; so the folder holds Windows\System32\config (spelled as the image spells
// them) with SYSTEM and SOFTWARE and their .LOG, .LOG1 and .LOG2 files, each a plain file. The
// folder is made by mkdtemp (mode 0700: no other user can read or swap a copy) and removed with
// everything in it when the owner is destroyed. Nothing is written to the image.

#include <memory>
#include <string>

#include "system/image/TskFileSystem.h"

namespace lk {

class PrivateHiveFolder {
 public:
  // Null with a message when the volume holds no Windows\System32\config or a hive cannot be
  // read from it or written to the folder.
  [[nodiscard]] static std::unique_ptr<PrivateHiveFolder> CopyFrom(TskFileSystem& files,
                                                                   std::string* error);
  PrivateHiveFolder(const PrivateHiveFolder&) = delete;
  PrivateHiveFolder& operator=(const PrivateHiveFolder&) = delete;
  ~PrivateHiveFolder();

  // The folder that stands for the volume's root.
  [[nodiscard]] const std::string& Root() const noexcept { return root_; }

 private:
  explicit PrivateHiveFolder(std::string root) : root_(std::move(root)) {}

  std::string root_;
};

}  // namespace lk
