#pragma once
// The one UTF-8 decoder of the program, and the conversions between UTF-8 and UTF-16.
//
// Decoding is strict: a sequence is valid only in its shortest form (no overlong encodings such
// as C0 80 for NUL), never a surrogate (U+D800-U+DFFF) and never above U+10FFFF. Where no valid
// sequence starts, exactly one byte is consumed, so a text in another encoding ("caf\xE9") is
// taken byte by byte and a valid character right after a broken one is never swallowed.
//
// Conversions never fail: each byte that does not start a valid sequence becomes one U+FFFD,
// and so does each lone surrogate of UTF-16. Valid input round-trips exactly.

#include <cstddef>
#include <string>
#include <string_view>

namespace lk {

inline constexpr char32_t kReplacementCharacter = U'\uFFFD';

// One decoded character: its code point and how many bytes it took. length is 0 where no valid
// sequence starts (the code point is then kReplacementCharacter).
struct Utf8Character {
  char32_t codePoint = kReplacementCharacter;
  std::size_t length = 0;
};

// Decodes the character that starts at text[at] (at < text.size()).
[[nodiscard]] Utf8Character DecodeUtf8At(std::string_view text, std::size_t at) noexcept;

// The length of the valid sequence that starts at text[at], or 0 where none does.
[[nodiscard]] inline std::size_t Utf8SequenceLength(std::string_view text,
                                                    std::size_t at) noexcept {
  return DecodeUtf8At(text, at).length;
}

// Whether the byte continues a multi-byte sequence (10xxxxxx).
[[nodiscard]] constexpr bool IsUtf8Continuation(char byte) noexcept {
  return (static_cast<unsigned char>(byte) & 0xC0u) == 0x80u;
}

// Appends the UTF-8 form of a code point; surrogates and values above U+10FFFF as U+FFFD.
void AppendUtf8(char32_t codePoint, std::string& out);

// Characters beyond the Basic Multilingual Plane become surrogate pairs.
[[nodiscard]] std::u16string Utf16FromUtf8(std::string_view text);
[[nodiscard]] std::string Utf8FromUtf16(std::u16string_view text);

// A path or name as it is printed: one line of valid UTF-8. Every byte that is not part of a
// valid UTF-8 sequence, every control character and, with escapeBackslash, every '\' becomes
// \xHH, so that a name in another encoding or with a line break or an escape sequence in it
// stays visible and cannot forge a second line or hide one.
[[nodiscard]] std::string EscapeForDisplay(std::string_view text, bool escapeBackslash);

}  // namespace lk
