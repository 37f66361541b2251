#pragma once
// The encodings of the stream search. Only the ANSI code page and the two UTF-16 forms are
// implemented; the numbering of the full table is kept so stored values stay meaningful.

#include <cstdint>

#include "base/TextCase.h"
#include "base/Windows1252.h"

namespace lk {

enum class TextEncoding : std::uint8_t {
  Ansi = 0,      // "ANSI (Windows)"
  Utf16Le = 71,  // "UTF-16 LE"
  Utf16Be = 72,  // "UTF-16 BE"
};

// 2 for the UTF-16 encodings, 1 for every other.
[[nodiscard]] int CharacterWidth(TextEncoding encoding);
[[nodiscard]] const char* DisplayName(TextEncoding encoding);

// The ANSI code page of the stream search is Windows-1252 (the code page of the systems the
// program serves; both texts it looks for are ASCII, so any ASCII-compatible page agrees).
[[nodiscard]] inline char16_t AnsiToUnicode(std::uint8_t byte) {
  return UnicodeFromWindows1252(byte);
}
// Unicode characters that Windows-1252 lacks become '?', as the system's conversion does.
[[nodiscard]] inline std::uint8_t UnicodeToAnsi(char16_t unit) {
  return Windows1252FromUnicode(unit);
}
// Whether Windows-1252 has a byte for the character (UnicodeToAnsi then gives that byte).
[[nodiscard]] inline bool CanEncodeInAnsi(char16_t unit) { return CanEncodeInWindows1252(unit); }
// Lower case within Windows-1252: A-Z, the accented capitals 0xC0-0xDE (not 0xD7), and
// 0x8A, 0x8C, 0x8E, 0x9F (S, OE, Z with caron, Y with diaeresis).
[[nodiscard]] inline std::uint8_t LowerAnsi(std::uint8_t byte) { return LowerWindows1252(byte); }
// Lower case of one UTF-16 code unit: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic
// capitals; every other unit stays as it is.
[[nodiscard]] char16_t LowerUtf16(char16_t unit);

}  // namespace lk
