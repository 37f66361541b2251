#pragma once
// The program's arguments as UTF-8, taken from the UTF-16 command line: argv would be in the
// ANSI code page and lose every character outside it.

#include <optional>
#include <string>
#include <vector>

namespace lk {

// The arguments after the program's name; no value when the command line cannot be split.
[[nodiscard]] std::optional<std::vector<std::string>> CommandLineArguments();

}  // namespace lk
