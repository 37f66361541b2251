#include "system/offline/PrivateHiveCopy.h"

#include <sys/mman.h>
#include <unistd.h>

#include <utility>

namespace lk {

PrivateHiveCopy::~PrivateHiveCopy() {
  if (fd_ >= 0) close(fd_);
}

PrivateHiveCopy::PrivateHiveCopy(PrivateHiveCopy&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

PrivateHiveCopy& PrivateHiveCopy::operator=(PrivateHiveCopy&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

PrivateHiveCopy PrivateHiveCopy::Of(std::string_view bytes) {
  PrivateHiveCopy copy;
  copy.fd_ = memfd_create("lk-replayed-hive", MFD_CLOEXEC);
  if (copy.fd_ < 0) return copy;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote =
        pwrite(copy.fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (wrote <= 0) return PrivateHiveCopy();
    done += static_cast<std::size_t>(wrote);
  }
  return copy;
}

std::string PrivateHiveCopy::Path() const {
  if (fd_ < 0) return {};
  return "/proc/self/fd/" + std::to_string(fd_);
}

}  // namespace lk
