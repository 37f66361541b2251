#pragma once
// Windows-1252, the single-byte ANSI code page of the systems the program serves: its
// characters and the conversions between it and UTF-8.
//
// Bytes 0x00-0x7F and 0xA0-0xFF are the Unicode characters of the same value; 0x80-0x9F hold
// the euro sign, typographic quotes and a few letters. The five bytes the code page leaves
// unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the C1 controls of the same value, as the
// system's conversion has it, so every byte has a character and every byte round-trips.
//
// The rule for what Windows-1252 cannot hold: a character outside the code page becomes '?',
// as the system's conversion writes its default character; so does each byte of UTF-8 input
// that does not start a valid sequence. Nothing here fails.

#include <cstdint>
#include <string>
#include <string_view>

namespace lk {

inline constexpr std::uint8_t kWindows1252DefaultCharacter = '?';

[[nodiscard]] char16_t UnicodeFromWindows1252(std::uint8_t byte) noexcept;
// The byte of a character, or '?' for a character the code page lacks.
[[nodiscard]] std::uint8_t Windows1252FromUnicode(char32_t codePoint) noexcept;
// Whether the code page holds the character ('?' itself included).
[[nodiscard]] bool CanEncodeInWindows1252(char32_t codePoint) noexcept;

[[nodiscard]] std::string Windows1252FromUtf8(std::string_view utf8);
[[nodiscard]] std::string Utf8FromWindows1252(std::string_view bytes);

}  // namespace lk
