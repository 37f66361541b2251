#pragma once
// Editing the AppInit_DLLs registry value: a list of libraries that Windows loads into every
// process using the user interface, separated by blanks or commas.
//
// The removal takes only the trojan's library out of it. Other security and accessibility
// products register their libraries there too; emptying the whole value would silently switch
// them off.

#include <string>
#include <string_view>

namespace lk {

// The value without the entries that name library (compared without regard to case, the entry
// given with or without a path, optionally in double quotes). The other entries keep their order
// and each keeps the separator that followed it; the last one left keeps the ending of the
// original text (usually nothing). When no entry is left the result is the empty text.
[[nodiscard]] std::string RemoveLibraryEntries(std::string_view value, std::string_view library);

}  // namespace lk
