#pragma once
// The former names of the ASCII comparisons, for the callers that have not moved to
// base/TextCase.h yet. New code includes base/TextCase.h; this header goes once nothing
// includes it.

#include "base/TextCase.h"

namespace lk {

[[nodiscard]] constexpr bool EqualsIgnoringCase(std::string_view a, std::string_view b) noexcept {
  return EqualsIgnoringAsciiCase(a, b);
}

[[nodiscard]] constexpr bool ContainsIgnoringCase(std::string_view text,
                                                  std::string_view needle) noexcept {
  return ContainsIgnoringAsciiCase(text, needle);
}

}  // namespace lk
