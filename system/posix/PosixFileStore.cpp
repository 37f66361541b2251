#include "system/posix/PosixFileStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>

#include "system/SystemAccess.h"

namespace lk {
namespace {

using namespace file_error;
using win_error::kFileExists;

// Seconds from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
constexpr std::int64_t kEpochDifference = 11644473600;
constexpr std::int64_t kTicksPerSecond = 10000000;

// statfs magics of the kernel's NTFS drivers (ntfs and ntfs3 share it) and of FUSE.
constexpr long kNtfsMagic = 0x5346544e;
constexpr long kFuseMagic = 0x65735546;

timespec ToTimespec(std::int64_t ticks) {
  timespec time{};
  if (ticks == 0) {
    time.tv_nsec = UTIME_OMIT;
    return time;
  }
  std::int64_t seconds = ticks / kTicksPerSecond;
  std::int64_t rest = ticks % kTicksPerSecond;
  if (rest < 0) {
    --seconds;
    rest += kTicksPerSecond;
  }
  time.tv_sec = seconds - kEpochDifference;
  time.tv_nsec = rest * 100;
  return time;
}

// The type of the mount that holds the device, from /proc/self/mountinfo.
std::optional<std::string> MountType(dev_t device) {
  std::ifstream mounts("/proc/self/mountinfo");
  const std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
  for (std::string line; std::getline(mounts, line);) {
    std::istringstream fields(line);
    std::string id;
    std::string parent;
    std::string numbers;
    fields >> id >> parent >> numbers;
    if (numbers != wanted) continue;
    const auto separator = line.find(" - ");
    if (separator == std::string::npos) continue;
    std::istringstream rest(line.substr(separator + 3));
    std::string type;
    rest >> type;
    return type;
  }
  return std::nullopt;
}

class PosixWritableFile final : public WritableFile {
 public:
  explicit PosixWritableFile(int descriptor) : descriptor_(descriptor) {}

  std::uint32_t Write(const void* data, std::size_t length) override {
    if (!descriptor_) return kInvalidHandle;
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
      const ssize_t written = ::write(descriptor_.Get(), bytes, length);
      if (written < 0) {
        if (errno == EINTR) continue;
        return WriteError(errno);
      }
      bytes += written;
      length -= static_cast<std::size_t>(written);
    }
    return 0;
  }

  std::uint32_t WriteHole(std::int64_t length) override {
    if (!descriptor_) return kInvalidHandle;
    if (length <= 0) return 0;
    const off_t end = ::lseek(descriptor_.Get(), length, SEEK_CUR);
    if (end < 0) return WriteError(errno);
    // The size covers the hole even when nothing is written after it.
    if (::ftruncate(descriptor_.Get(), end) != 0) return WriteError(errno);
    return 0;
  }

  std::uint32_t Finish() override {
    if (!descriptor_) return kInvalidHandle;
    const int synced = ::fsync(descriptor_.Get()) == 0 ? 0 : errno;
    const int closed = CloseDescriptorNow(descriptor_);
    if (synced != 0 && synced != EINVAL) return WriteError(synced);
    return closed == 0 ? 0 : WriteError(closed);
  }

 private:
  static constexpr std::uint32_t kInvalidHandle = win_error::kInvalidHandle;
  static constexpr std::uint32_t kDiskFull = win_error::kDiskFull;
  static constexpr std::uint32_t kWriteFault = win_error::kWriteFault;

  static std::uint32_t WriteError(int error) {
    if (error == ENOSPC || error == EDQUOT) return kDiskFull;
    if (error == EIO) return kWriteFault;
    return WindowsErrorFromErrno(error);
  }

  UniqueDescriptor descriptor_;
};

}  // namespace

bool MountTypeKeepsModes(std::string_view type) {
  for (const std::string_view without : {"fuseblk", "ntfs", "ntfs3", "vfat", "msdos", "exfat"}) {
    if (type == without) return false;
  }
  return true;
}

bool PosixFileStore::KeepsAccessRules(std::string_view path) {
  // The entry itself where it exists, else the folder that would hold it.
  UniqueDescriptor target = paths_.OpenFolder(path, nullptr);
  if (!target) {
    if (auto entry = paths_.Walk(path, nullptr)) target = std::move(entry->folder);
  }
  if (!target) return true;
  struct stat status {};
  if (::fstat(target.Get(), &status) == 0) {
    if (const auto type = MountType(status.st_dev)) return MountTypeKeepsModes(*type);
  }
  struct statfs volume {};
  if (::fstatfs(target.Get(), &volume) != 0) return true;
  // Without /proc: the kernel's NTFS drivers are known by their magic; FUSE may be anything, and
  // ntfs-3g is the usual one on a rescue system.
  const auto magic = volume.f_type;
  return magic != kNtfsMagic && magic != kFuseMagic;
}

FolderTrust PosixFileStore::CheckPrivateDirectory(std::string_view path) {
  std::uint32_t error = 0;
  auto entry = paths_.Walk(path, &error, true);
  if (!entry) {
    if (error == kPathNotFound || error == kFileNotFound) return FolderTrust::Missing;
    if (error == kLinkNotFollowed) return FolderTrust::ReparsePoint;   // on the way to it
    if (error == kAccessDenied) return FolderTrust::WritableByOthers;  // a host folder above
    if (error == kInvalidName) return FolderTrust::NotADirectory;      // the drive's root
    return FolderTrust::Unreadable;
  }
  if (!entry->exists) return FolderTrust::Missing;
  const UniqueDescriptor& folder = entry->folder;
  struct stat status {};
  if (::fstatat(folder.Get(), entry->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? FolderTrust::Missing : FolderTrust::Unreadable;
  }
  if (S_ISLNK(status.st_mode)) return FolderTrust::ReparsePoint;
  if (!S_ISDIR(status.st_mode)) return FolderTrust::NotADirectory;
  if (!KeepsAccessRules(path)) return FolderTrust::Private;
  if (status.st_uid != 0 && status.st_uid != ::geteuid()) return FolderTrust::ForeignOwner;
  if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) return FolderTrust::WritableByOthers;
  return FolderTrust::Private;
}

std::uint32_t PosixFileStore::CreatePrivateDirectory(std::string_view path) {
  std::uint32_t error = 0;
  auto entry = paths_.Walk(path, &error, true);
  if (!entry) return error;
  if (entry->exists) return kFileExists;
  const UniqueDescriptor& folder = entry->folder;
  if (::mkdirat(folder.Get(), entry->name.c_str(), 0700) != 0) {
    return errno == EEXIST ? kFileExists : WindowsErrorFromErrno(errno);
  }
  // A umask can only take bits away; make sure none is missing for the owner either.
  const UniqueDescriptor created(
      ::openat(folder.Get(), entry->name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (created) static_cast<void>(::fchmod(created.Get(), 0700));
  return 0;
}

std::unique_ptr<WritableFile> PosixFileStore::CreateNewFile(std::string_view path,
                                                            std::uint32_t* error) {
  const auto fail = [&](std::uint32_t code) -> std::unique_ptr<WritableFile> {
    if (error != nullptr) *error = code;
    return nullptr;
  };
  std::uint32_t resolveError = 0;
  auto entry = paths_.Walk(path, &resolveError, true);
  if (!entry) return fail(resolveError);
  if (entry->exists) return fail(kFileExists);
  const UniqueDescriptor& folder = entry->folder;
  const int descriptor = ::openat(folder.Get(), entry->name.c_str(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (descriptor < 0) return fail(errno == EEXIST ? kFileExists : WindowsErrorFromErrno(errno));
  return std::make_unique<PosixWritableFile>(descriptor);
}

std::uint32_t PosixFileStore::FindFile(std::string_view path) {
  std::uint32_t error = 0;
  const auto entry = paths_.Walk(path, &error);
  if (!entry) return error;
  struct stat status {};
  // Only a regular file is the file asked for: a link in its place is not followed.
  if (!entry->exists ||
      ::fstatat(entry->folder.Get(), entry->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(status.st_mode)) {
    return kFileNotFound;
  }
  return 0;
}

std::uint32_t PosixFileStore::DeleteFile(std::string_view path) {
  std::uint32_t error = 0;
  auto entry = paths_.Walk(path, &error, true);
  if (!entry) return error;
  if (!entry->exists) return kFileNotFound;
  const UniqueDescriptor& folder = entry->folder;
  struct stat status {};
  if (::fstatat(folder.Get(), entry->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return WindowsErrorFromErrno(errno);
  }
  if (S_ISDIR(status.st_mode)) return kAccessDenied;  // as DeleteFile refuses a directory
  if (::unlinkat(folder.Get(), entry->name.c_str(), 0) != 0) return WindowsErrorFromErrno(errno);
  return 0;
}

std::uint32_t PosixFileStore::SetFileMetadata(std::string_view path, std::uint32_t attributes,
                                              std::int64_t /*creationTime*/,
                                              std::int64_t lastAccessTime,
                                              std::int64_t lastWriteTime) {
  std::uint32_t error = 0;
  auto entry = paths_.Walk(path, &error, true);
  if (!entry) return error;
  if (!entry->exists) return kFileNotFound;
  const UniqueDescriptor& folder = entry->folder;
  // Opened without following a link and without waiting for a pipe's writer; the times and the
  // mode are then set on what was opened, so nothing can be swapped in between.
  const UniqueDescriptor file(::openat(folder.Get(), entry->name.c_str(),
                                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file) return WindowsErrorFromErrno(errno);
  struct stat status {};
  if (::fstat(file.Get(), &status) != 0) return WindowsErrorFromErrno(errno);
  if (!S_ISREG(status.st_mode)) return kNotARegularFile;
  const timespec times[2] = {ToTimespec(lastAccessTime), ToTimespec(lastWriteTime)};
  if (::futimens(file.Get(), times) != 0) return WindowsErrorFromErrno(errno);
  mode_t mode = status.st_mode & 07777;
  if ((attributes & file_attribute::kReadOnly) != 0) {
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  } else {
    mode |= S_IWUSR;
  }
  if (mode != (status.st_mode & 07777) && ::fchmod(file.Get(), mode) != 0) {
    return WindowsErrorFromErrno(errno);
  }
  return 0;
}

}  // namespace lk
