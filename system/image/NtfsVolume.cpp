#include "system/image/NtfsVolume.h"

#include <cstdio>
#include <cstring>

#include "base/Utf8.h"

namespace lk {

namespace {

constexpr TSK_INUM_T kVolumeFile = 3;   // $Volume
constexpr TSK_INUM_T kUpcaseFile = 10;  // $UpCase
constexpr std::uint16_t kVolumeIsDirty = 0x0001;
constexpr std::size_t kUpcaseUnits = 65536;

std::uint32_t Little32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8U) |
         (static_cast<std::uint32_t>(bytes[2]) << 16U) |
         (static_cast<std::uint32_t>(bytes[3]) << 24U);
}

}  // namespace

BootSectorKind NtfsVolume::Classify(DiskImage& image, std::int64_t offset) {
  unsigned char boot[512] = {};
  if (!image.Read(offset, boot, sizeof(boot))) return BootSectorKind::Unreadable;
  if (std::memcmp(boot + 3, "-FVE-FS-", 8) == 0) return BootSectorKind::BitLocker;
  if (std::memcmp(boot + 3, "NTFS    ", 8) == 0) return BootSectorKind::Ntfs;
  return BootSectorKind::Other;
}

NtfsVolume::NtfsVolume(std::shared_ptr<DiskImage> image, UniqueTskFileSystem fs,
                       std::int64_t offset)
    : image_(std::move(image)), fs_(std::move(fs)), offset_(offset) {}

NtfsVolume::~NtfsVolume() {
  // The file system's close call reaches into the image's cache.
  const std::lock_guard<std::mutex> hold(image_->Lock());
  fs_.Reset();
}

std::shared_ptr<NtfsVolume> NtfsVolume::Open(std::shared_ptr<DiskImage> image, std::int64_t offset,
                                             std::string* error) {
  UniqueTskFileSystem fs;
  {
    const std::lock_guard<std::mutex> hold(image->Lock());
    tsk_error_reset();
    fs.Reset(tsk_fs_open_img(image->Tsk(), offset, TSK_FS_TYPE_NTFS));
    if (!fs) {
      *error = TakeTskError();
      if (error->empty()) *error = "kein NTFS-Dateisystem";
      return nullptr;
    }
  }
  std::shared_ptr<NtfsVolume> volume(new NtfsVolume(std::move(image), std::move(fs), offset));
  volume->ReadMetadata();
  return volume;
}

void NtfsVolume::ReadMetadata() {
  unsigned char boot[512] = {};
  if (image_->Read(offset_, boot, sizeof(boot))) {
    char text[17] = {};
    std::snprintf(text, sizeof(text), "%08X%08X", Little32(boot + 0x4C), Little32(boot + 0x48));
    serial_ = text;
  }
  const std::lock_guard<std::mutex> hold(image_->Lock());
  UniqueTskFile volumeFile(tsk_fs_file_open_meta(fs_.Get(), nullptr, kVolumeFile));
  if (volumeFile) {
    const TSK_FS_ATTR* name =
        tsk_fs_file_attr_get_type(volumeFile.Get(), TSK_FS_ATTR_TYPE_NTFS_VNAME, 0, 0);
    if (name != nullptr && name->size > 0 && name->size <= 512) {
      std::string units(static_cast<std::size_t>(name->size), '\0');
      if (tsk_fs_attr_read(name, 0, units.data(), units.size(), TSK_FS_FILE_READ_FLAG_NONE) ==
          static_cast<ssize_t>(units.size())) {
        std::u16string wide;
        for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
          wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(units[i]) |
                                               (static_cast<unsigned char>(units[i + 1]) << 8U)));
        }
        label_ = Utf8FromUtf16(wide);
      }
    }
    const TSK_FS_ATTR* info =
        tsk_fs_file_attr_get_type(volumeFile.Get(), TSK_FS_ATTR_TYPE_NTFS_VINFO, 0, 0);
    unsigned char flags[12] = {};
    if (info != nullptr && info->size >= 12 &&
        tsk_fs_attr_read(info, 0, reinterpret_cast<char*>(flags), sizeof(flags),
                         TSK_FS_FILE_READ_FLAG_NONE) == static_cast<ssize_t>(sizeof(flags))) {
      dirty_ = ((flags[10] | (flags[11] << 8U)) & kVolumeIsDirty) != 0;
    }
  }
  UniqueTskFile upcaseFile(tsk_fs_file_open_meta(fs_.Get(), nullptr, kUpcaseFile));
  if (upcaseFile) {
    std::string table(kUpcaseUnits * 2, '\0');
    if (tsk_fs_file_read(upcaseFile.Get(), 0, table.data(), table.size(),
                         TSK_FS_FILE_READ_FLAG_NONE) == static_cast<ssize_t>(table.size())) {
      upcase_.resize(kUpcaseUnits);
      for (std::size_t i = 0; i < kUpcaseUnits; ++i) {
        upcase_[i] =
            static_cast<std::uint16_t>(static_cast<unsigned char>(table[2 * i]) |
                                       (static_cast<unsigned char>(table[2 * i + 1]) << 8U));
      }
    }
  }
  tsk_error_reset();
}

std::uint16_t NtfsVolume::Upcase(std::uint16_t unit) const noexcept {
  if (!upcase_.empty()) return upcase_[unit];
  return unit >= 'a' && unit <= 'z' ? static_cast<std::uint16_t>(unit - 'a' + 'A') : unit;
}

}  // namespace lk
