#pragma once
// Small path helpers shared by the analysis and the searchers. Pure text operations.

#include <string>
#include <string_view>

namespace lk {

// A non-empty path whose last byte is not '\' gets one appended; "" stays "".
[[nodiscard]] std::string AppendBackslash(std::string_view path);

}  // namespace lk
