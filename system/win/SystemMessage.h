#pragma once
// The system's message for a Windows error code, in the user's language, as UTF-8.
//
// One lookup for every Windows face and layer: FormatMessageW from the system's message table,
// with the trailing line end, blanks and full stop removed so that the text fits into a sentence
// of ours. Empty when the system has no message for the code; the caller words its own fallback.

#include <cstdint>
#include <string>

namespace lk {

[[nodiscard]] std::string SystemMessage(std::uint32_t code);

}  // namespace lk
