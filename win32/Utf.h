#pragma once
// Conversion between the program's UTF-8 texts and the UTF-16 texts of the Windows "W" calls
// (the portable conversion of base/Utf8.h in wchar_t form), and from UTF-16 to the system's
// ANSI code page for the few places that still need 8-bit text.
//
// Each byte that does not start a valid UTF-8 sequence becomes U+FFFD (UTF-8 -> UTF-16); a lone
// surrogate in UTF-16 becomes U+FFFD in UTF-8; a character the ANSI code page lacks becomes its
// default character. Nothing here raises.

#include <string>
#include <string_view>

namespace lk {

[[nodiscard]] std::wstring WideFromUtf8(std::string_view text);
[[nodiscard]] std::string Utf8FromWide(std::wstring_view text);
// The text in the system's ANSI code page; characters outside it become the default character.
[[nodiscard]] std::string AnsiFromWide(std::wstring_view text);

}  // namespace lk
