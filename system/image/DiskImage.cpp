#include "system/image/DiskImage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>

namespace lk {

std::string TakeTskError() {
  const char* text = tsk_error_get();
  std::string message = text == nullptr ? "" : text;
  tsk_error_reset();
  // The Sleuth Kit ends some messages with a newline or a ": " left over from its format.
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ' ||
                              message.back() == ':' || message.back() == ')')) {
    if (message.back() == ')' && message.find('(') != std::string::npos) break;
    message.pop_back();
  }
  return message;
}

DiskImage::DiskImage(std::string path, UniqueTskImage image)
    : path_(std::move(path)), image_(std::move(image)) {}

DiskImage::~DiskImage() = default;

namespace {

// The image's format by its signature. The Sleuth Kit's own detection tries every format's
// library in turn, and some of them keep memory when they give up.
std::optional<TSK_IMG_TYPE_ENUM> DetectFormat(const std::string& path, std::string* error) {
  // O_NONBLOCK: a FIFO in the image's place must not make the open wait.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *error = path + ": cannot be opened (" + std::strerror(errno) + ")";
    return std::nullopt;
  }
  struct stat status {};
  std::array<char, 512> head{};
  std::array<char, 512> tail{};
  bool ok = ::fstat(fd, &status) == 0 && (S_ISREG(status.st_mode) || S_ISBLK(status.st_mode));
  if (!ok) {
    ::close(fd);
    *error = path + ": neither a disk nor an image file";
    return std::nullopt;
  }
  const ssize_t headBytes = ::pread(fd, head.data(), head.size(), 0);
  const off_t end = ::lseek(fd, 0, SEEK_END);
  const ssize_t tailBytes =
      end >= 512 ? ::pread(fd, tail.data(), tail.size(), end - 512) : ssize_t{0};
  ::close(fd);
  const auto starts = [](const std::array<char, 512>& bytes, ssize_t count, std::string_view sig) {
    return count >= static_cast<ssize_t>(sig.size()) &&
           std::string_view(bytes.data(), sig.size()) == sig;
  };
  using namespace std::string_view_literals;
  if (starts(head, headBytes, std::string_view("EVF\x09\x0d\x0a\xff\x00", 8)))
    return TSK_IMG_TYPE_EWF_EWF;
  if (starts(head, headBytes, "vhdxfile"sv) || starts(head, headBytes, "conectix"sv) ||
      starts(tail, tailBytes, "conectix"sv)) {
    return TSK_IMG_TYPE_VHD_VHD;
  }
  if (starts(head, headBytes, "KDMV"sv) || starts(head, headBytes, "# Disk DescriptorFile"sv)) {
    return TSK_IMG_TYPE_VMDK_VMDK;
  }
  return TSK_IMG_TYPE_RAW;
}

}  // namespace

std::shared_ptr<DiskImage> DiskImage::Open(const std::string& path, std::string* error) {
  const std::optional<TSK_IMG_TYPE_ENUM> format = DetectFormat(path, error);
  if (!format) return nullptr;
  tsk_error_reset();
  const char* names[] = {path.c_str()};
  UniqueTskImage image(tsk_img_open_utf8(1, names, *format, 0));
  if (!image) {
    const std::string why = TakeTskError();
    *error =
        path + ": cannot be opened as a disk or disk image" + (why.empty() ? "" : " (" + why + ")");
    return nullptr;
  }
  if (image->size <= 0) {
    *error = path + ": the image is empty";
    return nullptr;
  }
  return std::shared_ptr<DiskImage>(new DiskImage(path, std::move(image)));
}

std::int64_t DiskImage::Size() const noexcept { return image_->size; }

bool DiskImage::Read(std::int64_t offset, void* buffer, std::size_t length) {
  if (offset < 0 || offset > Size() || static_cast<std::int64_t>(length) > Size() - offset) {
    return false;
  }
  const std::lock_guard<std::mutex> hold(lock_);
  const ssize_t got = tsk_img_read(image_.Get(), offset, static_cast<char*>(buffer), length);
  tsk_error_reset();
  return got == static_cast<ssize_t>(length);
}

bool DiskImage::Partitions(std::vector<DiskPartition>* partitions, std::string* damage) {
  // The table's kind from its signatures: the Sleuth Kit's own detection opens a GPT disk's
  // protective MBR as well and keeps that table's memory when it settles for the GPT.
  std::array<unsigned char, 512> first{};
  std::array<unsigned char, 8> gpt512{};
  std::array<unsigned char, 8> gpt4096{};
  if (!Read(0, first.data(), first.size())) {
    *damage = path_ + ": the first sector cannot be read";
    return false;
  }
  const bool isGpt =
      (Read(512, gpt512.data(), gpt512.size()) && std::memcmp(gpt512.data(), "EFI PART", 8) == 0) ||
      (Read(4096, gpt4096.data(), gpt4096.size()) &&
       std::memcmp(gpt4096.data(), "EFI PART", 8) == 0);
  const bool bootSignature = first[510] == 0x55 && first[511] == 0xAA;
  const bool volumeName = std::memcmp(first.data() + 3, "NTFS    ", 8) == 0 ||
                          std::memcmp(first.data() + 3, "-FVE-FS-", 8) == 0 ||
                          std::memcmp(first.data() + 3, "EXFAT   ", 8) == 0 ||
                          std::memcmp(first.data() + 0x52, "FAT32   ", 8) == 0 ||
                          std::memcmp(first.data() + 0x36, "FAT", 3) == 0;
  if (!isGpt && (!bootSignature || volumeName)) {
    DiskPartition whole;
    whole.number = 0;
    whole.offset = 0;
    whole.size = Size();
    whole.description = "whole image";
    partitions->assign(1, whole);
    return true;
  }
  std::vector<DiskPartition> found;
  const std::lock_guard<std::mutex> hold(lock_);
  tsk_error_reset();
  UniqueTskVolumeSystem table(
      tsk_vs_open(image_.Get(), 0, isGpt ? TSK_VS_TYPE_GPT : TSK_VS_TYPE_DOS));
  if (!table) {
    *damage = path_ + ": the partition table cannot be read (" + TakeTskError() + ")";
    return false;
  }
  int number = 0;
  const std::int64_t sector = table->block_size;
  for (TSK_PNUM_T i = 0; i < table->part_count; ++i) {
    const TSK_VS_PART_INFO* slot = tsk_vs_part_get(table.Get(), i);
    if (slot == nullptr || (slot->flags & TSK_VS_PART_FLAG_ALLOC) == 0) continue;
    DiskPartition partition;
    partition.number = ++number;
    partition.offset = static_cast<std::int64_t>(slot->start) * sector;
    partition.size = static_cast<std::int64_t>(slot->len) * sector;
    partition.description = slot->desc == nullptr ? "" : slot->desc;
    partition.outside = partition.offset >= Size() || partition.size > Size() - partition.offset;
    found.push_back(partition);
  }
  *partitions = std::move(found);
  return true;
}

}  // namespace lk
