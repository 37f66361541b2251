#pragma once
// Editing the AppInit_DLLs registry value: a list of libraries that Windows loads into every
// process using the user interface. Windows itself separates the entries by blanks or commas;
// values found in the wild also use semicolons, tabs and double quotes around paths with blanks.
//
// The removal takes only the trojan's library out of it. Other security and accessibility
// products register their libraries there too; emptying the whole value would silently switch
// them off. What counts as the library is what the detection counts: the name anywhere in the
// text, without regard to case. So whatever the detection reported is gone afterwards.

#include <string>
#include <string_view>

namespace lk {

// The value without every entry that holds library anywhere in it (compared without regard to
// case): a bare name, a path, a quoted path with blanks, a name with a suffix. Entries are
// separated by blanks, commas, semicolons and tabs; a double-quoted section is one entry, blanks
// and all. The other entries keep their order and each keeps the separator that followed it;
// the last one left keeps the ending of the original text (usually nothing). When no entry is
// left, or when the text left would still hold library, the result is the empty text: after the
// call the value never holds library.
[[nodiscard]] std::string RemoveLibraryEntries(std::string_view value, std::string_view library);

// The same edit on a string value's stored bytes (UTF-16LE), in their own encoding: the text is
// the units before the first NUL, edited unit by unit as above, and everything from that NUL on
// (the NUL itself, data behind it, an odd last byte) is kept as it is; a value without a NUL gets
// none. A lone surrogate in another entry stays as it was.
[[nodiscard]] std::string RemoveLibraryEntriesStored(std::string_view utf16le,
                                                     std::string_view library);

}  // namespace lk
