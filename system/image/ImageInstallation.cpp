#include "system/image/ImageInstallation.h"

#include <exception>

namespace lk {

ImageInstallation::~ImageInstallation() {
  // The registry layer holds the copies open: it goes before their folder.
  system_.reset();
  hives_.reset();
}

std::unique_ptr<ImageInstallation> ImageInstallation::Open(std::shared_ptr<NtfsVolume> volume,
                                                           std::string* error) {
  std::unique_ptr<ImageInstallation> installation(new ImageInstallation());
  installation->volume_ = std::move(volume);
  installation->files_ = std::make_unique<TskFileSystem>(installation->volume_);
  installation->hives_ = PrivateHiveFolder::CopyFrom(*installation->files_, error);
  if (!installation->hives_) return nullptr;
  std::unique_ptr<OfflineSystemAccess> registry =
      OfflineSystemAccess::Open(installation->hives_->Root(), error);
  if (!registry) {
    // The offline layer names the private copy; the user knows the volume.
    const std::string& root = installation->hives_->Root();
    for (std::size_t at = error->find(root); at != std::string::npos; at = error->find(root)) {
      error->replace(at, root.size(), "C:");
    }
    return nullptr;
  }
  installation->system_ =
      std::make_unique<ImageSystemAccess>(std::move(registry), *installation->files_);
  return installation;
}

std::optional<std::string> ImageInstallation::VersionValue(const char* name) {
  std::unique_ptr<RegistryConnection> registry = system_->ConnectRegistry(RegistryView::Native);
  if (!registry ||
      !registry->OpenMachineKeyReadOnly("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion")) {
    return std::nullopt;
  }
  std::optional<std::string> value;
  try {
    if (registry->ValuePresent(name)) value = registry->ReadStringValue(name);
  } catch (const std::exception&) {
    value.reset();
  }
  registry->CloseMachineKey();
  return value;
}

std::optional<std::string> ImageInstallation::ProductName() { return VersionValue("ProductName"); }

std::optional<std::string> ImageInstallation::CurrentBuild() {
  return VersionValue("CurrentBuild");
}

}  // namespace lk
