#pragma once
// The bytes of a scenario's texts: how a file's "text" and "utf16" pieces are written. The input
// is the JSON library's UTF-8, which its parser has checked.
//
// Both rest on the program's one UTF-8 decoder and Windows-1252 table (base/); what they add is
// lksim's rule that a text its encoding cannot hold is a fault of the scenario, named by the
// first character it lacks.

#include <string>
#include <string_view>

namespace lk::lksim {

// UTF-16 little-endian without a byte-order mark; a character beyond U+FFFF becomes a surrogate
// pair.
[[nodiscard]] std::string Utf16LeBytes(std::string_view utf8);

// One byte a character. Raises std::range_error naming the first character that Windows-1252
// lacks: "character U+03A9 is not in Windows-1252".
[[nodiscard]] std::string Windows1252Bytes(std::string_view utf8);

}  // namespace lk::lksim
