#pragma once
// A Windows installation on an NTFS volume of a disk image, ready to be examined: its files
// through TskFileSystem, its registry from hive copies in a PrivateHiveFolder, both behind one
// ImageSystemAccess. It owns all of them; the image stays untouched.

#include <memory>
#include <optional>
#include <string>

#include "system/HibernationFile.h"
#include "system/image/ImageSystemAccess.h"
#include "system/image/NtfsVolume.h"
#include "system/image/PrivateHiveFolder.h"
#include "system/image/TskFileSystem.h"

namespace lk {

class ImageInstallation {
 public:
  // Null with a message when the volume's hives are missing or cannot be read.
  [[nodiscard]] static std::unique_ptr<ImageInstallation> Open(std::shared_ptr<NtfsVolume> volume,
                                                               std::string* error);
  ImageInstallation(const ImageInstallation&) = delete;
  ImageInstallation& operator=(const ImageInstallation&) = delete;
  ~ImageInstallation();

  [[nodiscard]] ImageSystemAccess& System() noexcept { return *system_; }
  [[nodiscard]] TskFileSystem& Files() noexcept { return *files_; }
  [[nodiscard]] const NtfsVolume& Volume() const noexcept { return *volume_; }
  // The host folder that stands for the volume's root in the hive copies' paths.
  [[nodiscard]] const std::string& HiveRoot() const noexcept { return hives_->Root(); }

  // ProductName and CurrentBuild of SOFTWARE\Microsoft\Windows NT\CurrentVersion; nullopt each
  // when it cannot be read.
  [[nodiscard]] std::optional<std::string> ProductName();
  [[nodiscard]] std::optional<std::string> CurrentBuild();

 private:
  ImageInstallation() = default;
  [[nodiscard]] std::optional<std::string> VersionValue(const char* name);

  std::shared_ptr<NtfsVolume> volume_;
  std::unique_ptr<TskFileSystem> files_;
  std::unique_ptr<PrivateHiveFolder> hives_;
  std::unique_ptr<ImageSystemAccess> system_;
};

}  // namespace lk
