#pragma once
// The encodings of the stream search. Only the ANSI code page and the two UTF-16 forms are
// implemented; the numbering of the full table is kept so stored values stay meaningful.

#include <cstdint>

namespace lk {

enum class TextEncoding : std::uint8_t {
  Ansi = 0,      // "ANSI (Windows)"
  Utf16Le = 71,  // "UTF-16 LE"
  Utf16Be = 72,  // "UTF-16 BE"
};

// 2 for the UTF-16 encodings, 1 for every other.
[[nodiscard]] int CharacterWidth(TextEncoding encoding);
[[nodiscard]] const char* DisplayName(TextEncoding encoding);

}  // namespace lk
