#include "system/image/ImageSurvey.h"

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

// The partition node below /sys/block/<disk> that starts at offset, for a whole block device.
std::optional<std::string> PartitionDevice(const std::string& image, std::int64_t offset) {
  if (image.rfind("/dev/", 0) != 0) return std::nullopt;
  const std::string disk = fs::path(image).filename().string();
  std::error_code failed;
  for (const fs::directory_entry& entry : fs::directory_iterator("/sys/block/" + disk, failed)) {
    const std::optional<std::int64_t> start = ReadNumber(entry.path() / "start");
    if (start && *start * 512 == offset && fs::exists(entry.path() / "partition", failed)) {
      return "/dev/" + entry.path().filename().string();
    }
  }
  return std::nullopt;
}

std::string Describe(const DiskPartition& partition) {
  return partition.number == 0 ? std::string("the volume")
                               : "partition " + std::to_string(partition.number);
}

}  // namespace

std::string BitLockerRemedy() {
  return "the volume is encrypted with BitLocker and cannot be examined without its recovery "
         "key: unlock it with dislocker or bdemount and the recovery key (both in Debian), then "
         "run lkscan --image or --root on the unlocked view";
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
    survey.errors.push_back(path + ": there is no partition " + std::to_string(*onlyPartition));
    return survey;
  }
  for (const DiskPartition& partition : partitions) {
    if (onlyPartition && partition.number != *onlyPartition) continue;
    const bool asked = onlyPartition.has_value();
    if (partition.outside) {
      survey.errors.push_back(
          path + ": " + Describe(partition) + " (from byte " + std::to_string(partition.offset) +
          ", " + std::to_string(partition.size) + " bytes) lies outside the image of " +
          std::to_string(image->Size()) + " bytes: the partition table is damaged");
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
        survey.errors.push_back(path + ": " + Describe(partition) +
                                (kind == BootSectorKind::Unreadable
                                     ? " cannot be read"
                                     : " holds no NTFS volume (" + partition.description + ")"));
      }
      continue;
    }
    const std::shared_ptr<NtfsVolume> ntfs = NtfsVolume::Open(image, partition.offset, &error);
    if (!ntfs) {
      volume.reason = "the NTFS volume is damaged (" + error + ")";
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
      volume.reason = "the NTFS volume is damaged: its root folder cannot be read (" +
                      DescribeFileError(root->Error()) + ")";
      survey.volumes.push_back(std::move(volume));
      continue;
    }
    std::uint32_t missing = 0;
    volume.holdsWindows = static_cast<bool>(files.OpenDirectory("C:\\Windows\\System32", &missing));
    if (!volume.holdsWindows) {
      if (asked) {
        volume.reason = "the volume holds no Windows installation (no Windows\\System32)";
        survey.volumes.push_back(std::move(volume));
      }
      continue;
    }
    volume.installation = ImageInstallation::Open(ntfs, &error);
    if (!volume.installation) {
      volume.reason = "the installation cannot be examined: " + error;
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
