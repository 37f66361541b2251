#pragma once
// One NTFS volume of a disk image, opened read-only through The Sleuth Kit, with what its
// metadata says about it: label, serial number, whether Windows left it dirty, and its upcase
// table (the volume's own rule for comparing names without regard to case).
//
// Before a volume is opened its boot sector is looked at: a BitLocker volume carries its own
// signature there and cannot be read without its key, so it is told apart from a damaged NTFS
// volume and from a partition that holds something else.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "system/image/DiskImage.h"
#include "system/image/TskHandle.h"

namespace lk {

enum class BootSectorKind : std::uint8_t { Ntfs, BitLocker, Other, Unreadable };

class NtfsVolume {
 public:
  // What the boot sector at offset says the volume is.
  [[nodiscard]] static BootSectorKind Classify(DiskImage& image, std::int64_t offset);
  // Null with the Sleuth Kit's reason in *error when no NTFS volume can be opened at offset.
  [[nodiscard]] static std::shared_ptr<NtfsVolume> Open(std::shared_ptr<DiskImage> image,
                                                        std::int64_t offset, std::string* error);
  NtfsVolume(const NtfsVolume&) = delete;
  NtfsVolume& operator=(const NtfsVolume&) = delete;
  ~NtfsVolume();

  [[nodiscard]] const std::string& Label() const noexcept { return label_; }
  // The 64-bit volume serial number in hexadecimal, as 16 upper-case digits.
  [[nodiscard]] const std::string& Serial() const noexcept { return serial_; }
  // Windows marked the volume as not cleanly unmounted (chkdsk is due).
  [[nodiscard]] bool IsDirty() const noexcept { return dirty_; }
  [[nodiscard]] std::int64_t Offset() const noexcept { return offset_; }

  // The upper-case form of a UTF-16 unit by the volume's table.
  [[nodiscard]] std::uint16_t Upcase(std::uint16_t unit) const noexcept;
  [[nodiscard]] TSK_FS_INFO* Tsk() const noexcept { return fs_.Get(); }
  // Held around every Sleuth Kit call on the volume (shared with the whole image).
  [[nodiscard]] std::mutex& Lock() const noexcept { return image_->Lock(); }

 private:
  NtfsVolume(std::shared_ptr<DiskImage> image, UniqueTskFileSystem fs, std::int64_t offset);
  void ReadMetadata();

  std::shared_ptr<DiskImage> image_;
  UniqueTskFileSystem fs_;
  std::int64_t offset_;
  std::string label_;
  std::string serial_;
  bool dirty_ = false;
  std::vector<std::uint16_t> upcase_;  // empty: ASCII rules
};

}  // namespace lk
