#pragma once
// The conversion of registry text between the UTF-16LE that a hive stores and the UTF-8 that
// crosses the system seam.
//
// A hive is data from a disk that may be damaged or hostile: string data may lack its terminating
// NUL, have an odd byte count or hold lone surrogates. Reading never fails: a trailing odd byte is
// dropped, a lone surrogate becomes U+FFFD, and data without a NUL ends where the data ends.

#include <string>
#include <string_view>

namespace lk {

// The text of REG_SZ or REG_EXPAND_SZ data up to its first NUL character.
[[nodiscard]] std::string TextFromHiveString(std::string_view utf16le);
// The whole data of a REG_MULTI_SZ (or a string type) as UTF-8, NUL characters kept, so that the
// NUL-separated layout of the seam's RegistryValue carries over; the result ends in NUL unless the
// data is empty.
[[nodiscard]] std::string Utf8FromHiveData(std::string_view utf16le);
// UTF-8 text (NULs included) as UTF-16LE bytes; nothing is appended.
[[nodiscard]] std::string HiveDataFromUtf8(std::string_view utf8);

}  // namespace lk
