#pragma once
// The texts of the Windows error codes (WindowsError.h), in one table.
//
// A code has up to four texts, each for another reader: the system's message as the English
// message table of Windows words it (what the scripted system and the stream search show where
// no Windows is asked), the German message the offline layer gives in its place, and the short
// reason why an entry could not be examined, in English for lkgrep and in German for lkscan.
// A text the table does not have is empty; each caller words its own fallback ("error N").

#include <cstdint>
#include <string_view>

namespace lk {

// The system's message with its full stop and line end ("Access is denied.\r\n").
[[nodiscard]] std::string_view EnglishSystemMessage(std::uint32_t code) noexcept;
// The offline layer's message, without a full stop ("Zugriff verweigert").
[[nodiscard]] std::string_view GermanSystemMessage(std::uint32_t code) noexcept;
// Why an entry could not be examined ("access denied").
[[nodiscard]] std::string_view EnglishFileReason(std::uint32_t code) noexcept;
// The same in German ("Zugriff verweigert").
[[nodiscard]] std::string_view GermanFileReason(std::uint32_t code) noexcept;

}  // namespace lk
