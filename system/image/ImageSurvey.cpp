#include "system/image/ImageSurvey.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace lk {

namespace {

namespace fs = std::filesystem;

std::optional<std::int64_t> ReadNumber(const fs::path& file) {
  std::ifstream in(file);
  std::int64_t number = 0;
  if (!(in >> number)) return std::nullopt;
  return number;
}

// Whether node is the block device whose number sysfs gives as "MAJOR:MINOR" in devFile.
bool IsDeviceNode(const std::string& node, const fs::path& devFile) {
  std::ifstream in(devFile);
  unsigned major = 0;
  unsigned minor = 0;
  char colon = 0;
  if (!(in >> major >> colon >> minor) || colon != ':') return false;
  struct stat status {};
  return ::stat(node.c_str(), &status) == 0 && S_ISBLK(status.st_mode) &&
         ::major(status.st_rdev) == major && ::minor(status.st_rdev) == minor;
}

// The partition node of a whole block device that starts at offset: found below
// /sys/block/<disk> (the disk by its kernel name, also when named through a link such as
// /dev/disk/by-id/...), and told only when /dev holds a node that is that partition, since the
// rescue medium mounts what this names.
std::optional<std::string> PartitionDevice(const std::string& image, std::int64_t offset) {
  std::error_code failed;
  const fs::path real = fs::canonical(image, failed);
  if (failed || real.string().rfind("/dev/", 0) != 0) return std::nullopt;
  const std::string disk = real.filename().string();
  for (const fs::directory_entry& entry : fs::directory_iterator("/sys/block/" + disk, failed)) {
    const std::optional<std::int64_t> start = ReadNumber(entry.path() / "start");
    if (start && *start * 512 == offset && fs::exists(entry.path() / "partition", failed)) {
      const std::string node = "/dev/" + entry.path().filename().string();
      if (IsDeviceNode(node, entry.path() / "dev")) return node;
    }
  }
  return std::nullopt;
}

std::string Describe(const DiskPartition& partition) {
  return partition.number == 0 ? std::string("das Laufwerk")
                               : "Partition " + std::to_string(partition.number);
}

}  // namespace

std::string BitLockerRemedy() {
  return "das Laufwerk ist mit BitLocker verschlüsselt und lässt sich ohne seinen "
         "Wiederherstellungsschlüssel nicht untersuchen: entsperren Sie es mit dislocker oder "
         "bdemount und dem Wiederherstellungsschlüssel (beide in Debian), dann untersuchen Sie die "
         "entsperrte Ansicht mit lkscan --image oder --root";
}

SurveyedImage SurveyImage(const std::string& path, std::optional<int> onlyPartition) {
  SurveyedImage survey;
  survey.image = path;
  std::string error;
  const std::shared_ptr<DiskImage> image = DiskImage::Open(path, &error);
  if (!image) {
    survey.errors.push_back(error);
    return survey;
  }
  survey.opened = true;
  std::vector<DiskPartition> partitions;
  if (!image->Partitions(&partitions, &error)) {
    survey.errors.push_back(error);
    return survey;
  }
  if (onlyPartition &&
      std::none_of(partitions.begin(), partitions.end(),
                   [&](const DiskPartition& p) { return p.number == *onlyPartition; })) {
    survey.errors.push_back(path + ": es gibt keine Partition " + std::to_string(*onlyPartition));
    return survey;
  }
  for (const DiskPartition& partition : partitions) {
    if (onlyPartition && partition.number != *onlyPartition) continue;
    const bool asked = onlyPartition.has_value();
    if (partition.outside) {
      survey.errors.push_back(
          path + ": " + Describe(partition) + " (ab Byte " + std::to_string(partition.offset) +
          ", " + std::to_string(partition.size) + " Bytes) liegt außerhalb des Abbilds von " +
          std::to_string(image->Size()) + " Bytes: die Partitionstabelle ist beschädigt");
      continue;
    }
    SurveyedVolume volume;
    volume.partition = partition.number;
    volume.offset = partition.offset;
    volume.size = partition.size;
    volume.device = PartitionDevice(path, partition.offset);
    const BootSectorKind kind = NtfsVolume::Classify(*image, partition.offset);
    if (kind == BootSectorKind::BitLocker) {
      volume.filesystem = "bitlocker";
      volume.bitlocker = true;
      volume.reason = BitLockerRemedy();
      survey.volumes.push_back(std::move(volume));
      continue;
    }
    if (kind != BootSectorKind::Ntfs) {
      if (asked) {
        survey.errors.push_back(
            path + ": " + Describe(partition) +
            (kind == BootSectorKind::Unreadable
                 ? " lässt sich nicht lesen"
                 : " enthält kein NTFS-Laufwerk (" + partition.description + ")"));
      }
      continue;
    }
    const std::shared_ptr<NtfsVolume> ntfs = NtfsVolume::Open(image, partition.offset, &error);
    if (!ntfs) {
      volume.reason = "das NTFS-Laufwerk ist beschädigt (" + error + ")";
      survey.volumes.push_back(std::move(volume));
      continue;
    }
    volume.label = ntfs->Label();
    volume.serial = ntfs->Serial();
    volume.dirty = ntfs->IsDirty();
    TskFileSystem files(ntfs);
    std::unique_ptr<DirectoryEnumeration> root = files.EnumerateDirectory("C:\\", "*");
    for (DirectoryEntry entry; root->Next(entry);) {
    }
    if (root->Error() != 0) {
      volume.reason =
          "das NTFS-Laufwerk ist beschädigt: sein Stammordner lässt sich nicht lesen (" +
          DescribeFileErrorInGerman(root->Error()) + ")";
      survey.volumes.push_back(std::move(volume));
      continue;
    }
    std::uint32_t missing = 0;
    volume.holdsWindows = static_cast<bool>(files.OpenDirectory("C:\\Windows\\System32", &missing));
    if (!volume.holdsWindows) {
      if (asked) {
        volume.reason = "auf dem Laufwerk ist keine Windows-Installation (kein Windows\\System32)";
        survey.volumes.push_back(std::move(volume));
      }
      continue;
    }
    volume.installation = ImageInstallation::Open(ntfs, &error);
    if (!volume.installation) {
      volume.reason = "die Installation lässt sich nicht untersuchen: " + error;
      survey.volumes.push_back(std::move(volume));
      continue;
    }
    volume.examinable = true;
    volume.windows = volume.installation->ProductName();
    volume.build = volume.installation->CurrentBuild();
    std::string why;
    volume.hibernated =
        ReadHibernationState(volume.installation->Files(), &why) == HibernationState::Hibernated;
    survey.volumes.push_back(std::move(volume));
  }
  return survey;
}

std::vector<std::string> WholeBlockDevices() {
  std::vector<std::string> devices;
  std::error_code failed;
  for (const fs::directory_entry& entry : fs::directory_iterator("/sys/block", failed)) {
    const std::string name = entry.path().filename().string();
    const auto startsWith = [&](const char* prefix) { return name.rfind(prefix, 0) == 0; };
    if (startsWith("ram") || startsWith("zram") || startsWith("sr")) continue;
    if (startsWith("loop") && !fs::exists(entry.path() / "loop" / "backing_file", failed)) {
      continue;
    }
    const std::optional<std::int64_t> size = ReadNumber(entry.path() / "size");
    if (!size || *size == 0) continue;
    devices.push_back("/dev/" + name);
  }
  std::sort(devices.begin(), devices.end());
  return devices;
}

}  // namespace lk
