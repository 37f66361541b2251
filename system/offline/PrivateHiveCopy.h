#pragma once
// A hive's bytes in an anonymous in-memory file of this process, under a path that hivex can
// open: the replayed hive is read from here, and no file on any disk is written for it.
//
// It owns the file's descriptor and closes it once; the path is valid while it lives. It is not
// visible to other processes by name and is gone when the process ends.

#include <string>
#include <string_view>

#include "system/posix/UniqueDescriptor.h"

namespace lk {

class PrivateHiveCopy {
 public:
  PrivateHiveCopy() = default;

  // A copy holding bytes; an empty one (no path) when it cannot be made.
  [[nodiscard]] static PrivateHiveCopy Of(std::string_view bytes);
  [[nodiscard]] bool Valid() const noexcept { return static_cast<bool>(file_); }
  [[nodiscard]] std::string Path() const;

 private:
  UniqueDescriptor file_;
};

}  // namespace lk
