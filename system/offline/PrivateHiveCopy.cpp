#include "system/offline/PrivateHiveCopy.h"

#include <sys/mman.h>
#include <unistd.h>

namespace lk {

PrivateHiveCopy PrivateHiveCopy::Of(std::string_view bytes) {
  PrivateHiveCopy copy;
  copy.file_.Reset(memfd_create("lk-replayed-hive", MFD_CLOEXEC));
  if (!copy.file_) return copy;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = pwrite(copy.file_.Get(), bytes.data() + done, bytes.size() - done,
                                 static_cast<off_t>(done));
    if (wrote <= 0) return PrivateHiveCopy();
    done += static_cast<std::size_t>(wrote);
  }
  return copy;
}

std::string PrivateHiveCopy::Path() const {
  if (!file_) return {};
  return "/proc/self/fd/" + std::to_string(file_.Get());
}

}  // namespace lk
