#pragma once
// What a disk or disk image holds for a scan: every NTFS volume with a Windows installation, and
// every volume that cannot be read (BitLocker, damaged), with their state; the damage that keeps
// a partition from being looked at, as errors. lkscan --list prints it, lkscan --image examines
// the installations it opened.
//
// Also the machine's whole block devices, for a --list without an image.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "system/image/ImageInstallation.h"

namespace lk {

struct SurveyedVolume {
  int partition = 0;  // as DiskPartition::number
  // The kernel's node of the partition when the image is a whole block device.
  std::optional<std::string> device;
  std::int64_t offset = 0;
  std::int64_t size = 0;
  std::string filesystem = "ntfs";
  std::optional<std::string> label;
  std::optional<std::string> serial;
  std::optional<std::string> windows;
  std::optional<std::string> build;
  bool bitlocker = false;
  bool hibernated = false;
  bool dirty = false;
  bool examinable = false;
  // Windows\System32 is on the volume (false only for a volume asked for by number).
  bool holdsWindows = false;
  std::optional<std::string> reason;
  // Open for examinable volumes that hold Windows.
  std::unique_ptr<ImageInstallation> installation;
};

struct SurveyedImage {
  std::string image;
  bool opened = false;
  std::vector<SurveyedVolume> volumes;
  // Damage that kept something from being looked at, each naming the image and the partition.
  std::vector<std::string> errors;
};

// Surveys the image; with onlyPartition only that partition, which is then reported even when
// it holds no Windows (an error when there is no such partition).
[[nodiscard]] SurveyedImage SurveyImage(const std::string& path,
                                        std::optional<int> onlyPartition = std::nullopt);

// The machine's whole block devices (/dev/sda, /dev/nvme0n1, ...): no RAM disks, optical drives,
// unused loop devices or devices of size 0.
[[nodiscard]] std::vector<std::string> WholeBlockDevices();

// The text that tells how to unlock a BitLocker volume and examine it then.
[[nodiscard]] std::string BitLockerRemedy();

}  // namespace lk
