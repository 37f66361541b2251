#pragma once
// A disk or a disk image opened read-only through The Sleuth Kit: a raw or split raw image, an
// E01, a VHD/VHDX or VMDK file, or a block device. It tells the image's size, reads its bytes
// and finds its partitions (MBR or GPT); an image without a partition table is one bare volume.
//
// Nothing is ever written: the Sleuth Kit opens every format for reading only, and this class
// has no call that writes. A partition that reaches past the end of the image is reported as
// such (no volume on it is opened), since reading it would give a truncated or made-up volume.
// The Sleuth Kit's calls are not made from two threads at once: every user of the image takes
// Lock() around them.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "system/image/TskHandle.h"

namespace lk {

struct DiskPartition {
  // 1-based, in the order of the table's allocated slots; 0 for the bare volume of an image
  // without a table.
  int number = 0;
  std::int64_t offset = 0;
  std::int64_t size = 0;
  std::string description;
  // The slot reaches past the end of the image (a damaged or forged table).
  bool outside = false;
};

class DiskImage {
 public:
  // Null with a message naming path when it cannot be opened as any image format.
  [[nodiscard]] static std::shared_ptr<DiskImage> Open(const std::string& path, std::string* error);
  DiskImage(const DiskImage&) = delete;
  DiskImage& operator=(const DiskImage&) = delete;
  ~DiskImage();

  [[nodiscard]] const std::string& Path() const noexcept { return path_; }
  [[nodiscard]] std::int64_t Size() const noexcept;
  // The partitions; false with a message in *damage when a table is there and cannot be read.
  [[nodiscard]] bool Partitions(std::vector<DiskPartition>* partitions, std::string* damage);
  // Reads exactly length bytes at offset; false when they are not all there.
  [[nodiscard]] bool Read(std::int64_t offset, void* buffer, std::size_t length);

  [[nodiscard]] TSK_IMG_INFO* Tsk() const noexcept { return image_.Get(); }
  [[nodiscard]] std::mutex& Lock() noexcept { return lock_; }

 private:
  DiskImage(std::string path, UniqueTskImage image);

  std::string path_;
  UniqueTskImage image_;
  std::mutex lock_;
};

}  // namespace lk
