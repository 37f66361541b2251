#include "system/image/DiskImage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "system/FileSystem.h"
#include "system/posix/UniqueDescriptor.h"

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
  const UniqueDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  const int fd = file.Get();
  if (!file) {
    *error = path + ": lässt sich nicht öffnen (" + DescribeErrnoInGerman(errno) + ")";
    return std::nullopt;
  }
  struct stat status {};
  std::array<char, 512> head{};
  std::array<char, 512> tail{};
  bool ok = ::fstat(fd, &status) == 0 && (S_ISREG(status.st_mode) || S_ISBLK(status.st_mode));
  if (!ok) {
    *error = path + ": weder eine Festplatte noch eine Abbilddatei";
    return std::nullopt;
  }
  const ssize_t headBytes = ::pread(fd, head.data(), head.size(), 0);
  const off_t end = ::lseek(fd, 0, SEEK_END);
  const ssize_t tailBytes =
      end >= 512 ? ::pread(fd, tail.data(), tail.size(), end - 512) : ssize_t{0};
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

// Walks the section chain of every segment of an E01 (FILE.E01, FILE.E02, ...): each segment
// ends in a "next" or "done" section. libewf opens a segment cut off before its end and reads the
// missing chunks as zeros, which would pass for an empty disk.
bool EwfSegmentsComplete(const std::string& path, std::string* error) {
  constexpr std::size_t kDescriptor = 76;
  constexpr std::int64_t kFileHeader = 13;
  std::vector<std::string> segments{path};
  const std::size_t dot = path.size() >= 4 ? path.size() - 4 : std::string::npos;
  if (dot != std::string::npos && path[dot] == '.' &&
      (path[dot + 1] == 'E' || path[dot + 1] == 'e') && path.compare(dot + 2, 2, "01") == 0) {
    for (int number = 2; number <= 99; ++number) {
      char suffix[4] = {};
      std::snprintf(suffix, sizeof(suffix), "%c%02d", path[dot + 1], number);
      const std::string next = path.substr(0, dot + 1) + suffix;
      struct stat status {};
      if (::stat(next.c_str(), &status) != 0) break;
      segments.push_back(next);
    }
  }
  for (const std::string& segment : segments) {
    const UniqueDescriptor file(::open(segment.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    const int fd = file.Get();
    struct stat status {};
    if (!file || ::fstat(fd, &status) != 0) {
      *error = segment + ": lässt sich nicht öffnen";
      return false;
    }
    const std::int64_t size = status.st_size;
    std::int64_t offset = kFileHeader;
    bool complete = false;
    for (int sections = 0; sections < 1000000 && !complete; ++sections) {
      unsigned char descriptor[kDescriptor] = {};
      if (offset + static_cast<std::int64_t>(kDescriptor) > size ||
          ::pread(fd, descriptor, kDescriptor, offset) != static_cast<ssize_t>(kDescriptor)) {
        break;
      }
      const std::string type(reinterpret_cast<const char*>(descriptor),
                             ::strnlen(reinterpret_cast<const char*>(descriptor), 16));
      if (type == "done" || type == "next") {
        complete = true;
        break;
      }
      std::uint64_t next = 0;
      for (int i = 7; i >= 0; --i) next = (next << 8U) | descriptor[16 + i];
      if (next <= static_cast<std::uint64_t>(offset) || next > static_cast<std::uint64_t>(size)) {
        break;
      }
      offset = static_cast<std::int64_t>(next);
    }
    if (!complete) {
      *error = segment +
               ": das E01-Abbild ist abgeschnitten oder beschädigt (seine Abschnitte enden bei "
               "Byte " +
               std::to_string(offset) + " von " + std::to_string(size) + ")";
      return false;
    }
  }
  return true;
}

}  // namespace

std::shared_ptr<DiskImage> DiskImage::Open(const std::string& path, std::string* error) {
  const std::optional<TSK_IMG_TYPE_ENUM> format = DetectFormat(path, error);
  if (!format) return nullptr;
  if (*format == TSK_IMG_TYPE_EWF_EWF && !EwfSegmentsComplete(path, error)) return nullptr;
  tsk_error_reset();
  const char* names[] = {path.c_str()};
  UniqueTskImage image(tsk_img_open_utf8(1, names, *format, 0));
  if (!image) {
    const std::string why = TakeTskError();
    *error = path + ": lässt sich nicht als Festplatte oder Abbild öffnen" +
             (why.empty() ? "" : " (" + why + ")");
    return nullptr;
  }
  if (image->size <= 0) {
    *error = path + ": das Abbild ist leer";
    return nullptr;
  }
  std::shared_ptr<DiskImage> opened(new DiskImage(path, std::move(image)));
  // A cut-off image (an E01 whose last segment was not copied completely, say) still opens: its
  // header tells the full size. Its first and last sectors must be there.
  std::array<char, 512> sector{};
  const std::int64_t last = opened->Size() - static_cast<std::int64_t>(sector.size());
  if (!opened->Read(0, sector.data(), sector.size()) ||
      (last > 0 && !opened->Read(last, sector.data(), sector.size()))) {
    *error = path + ": das Abbild ist abgeschnitten oder beschädigt (nicht jeder Sektor seiner " +
             std::to_string(opened->Size()) + " Bytes lässt sich lesen)";
    return nullptr;
  }
  return opened;
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
    *damage = path_ + ": der erste Sektor lässt sich nicht lesen";
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
    *damage = path_ + ": die Partitionstabelle lässt sich nicht lesen (" + TakeTskError() + ")";
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
