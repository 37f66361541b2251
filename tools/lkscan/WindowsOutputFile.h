#pragma once
// OutputFile on Windows: a new temporary file next to the place (CREATE_NEW, never an existing
// file), FlushFileBuffers, then MoveFileExW with MOVEFILE_REPLACE_EXISTING and
// MOVEFILE_WRITE_THROUGH onto the place.

#include <memory>
#include <string>

#include "tools/lkscan/OutputFile.h"

namespace lk {

[[nodiscard]] std::unique_ptr<OutputFile> CreateWindowsOutputFile(const std::string& path,
                                                                  std::string* error);

}  // namespace lk
