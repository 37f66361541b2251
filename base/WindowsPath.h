#pragma once
// Splitting and joining Windows paths ("C:\WINDOWS\system32\drivers\x.sys") as pure text: no
// file system is asked, nothing is normalised beyond what each function says. The separator is
// '\'; FileNamePart also accepts '/', which the Windows calls take as one too.

#include <string>
#include <string_view>
#include <vector>

namespace lk {

// A non-empty path whose last byte is not '\' gets one appended; "" stays "" (so that
// AppendBackslash(dir) + name is a relative name when dir is empty).
[[nodiscard]] std::string AppendBackslash(std::string_view path);

// dir and name joined by one '\' (none is added when dir is empty or already ends in one). A
// host path of a rescue system ("/media/usb/q", a folder outside the examined drive) is joined
// with '/' instead, so that it reads as the user's shell spells it.
[[nodiscard]] std::string JoinPath(std::string_view dir, std::string_view name);

// Everything before the last '\'; "" for a path without one ("C:\a\b" -> "C:\a", "C:" -> "").
[[nodiscard]] std::string_view ParentPath(std::string_view path);

// The folder that holds a folder, with its trailing '\'; the folder itself may end in '\' or
// not ("C:\Windows\system32\" -> "C:\Windows\"). "" for a drive root or a single name.
[[nodiscard]] std::string_view ParentFolder(std::string_view folder);

// The last part of a path: what follows the last '\' or '/' (the whole path without either).
[[nodiscard]] std::string_view FileNamePart(std::string_view path);

// The non-empty parts between '\' separators ("SOFTWARE\\Microsoft\\" -> SOFTWARE, Microsoft);
// empty parts (a leading, doubled or trailing '\') are left out.
[[nodiscard]] std::vector<std::string> PathParts(std::string_view path);

}  // namespace lk
