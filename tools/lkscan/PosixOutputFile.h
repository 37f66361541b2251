#pragma once
// OutputFile on POSIX: a temporary file made with mkostemp next to the place, fsync'ed, renamed
// over the place with rename(2) (atomic on one file system), then the folder fsync'ed so that the
// rename itself survives a crash.

#include <memory>
#include <string>

#include "tools/lkscan/OutputFile.h"

namespace lk {

[[nodiscard]] std::unique_ptr<OutputFile> CreatePosixOutputFile(const std::string& path,
                                                                std::string* error);

}  // namespace lk
