#pragma once
// The heuristic sweep's two search expressions, kept scrambled in the executable (EncodedText.h)
// so that neither antivirus products nor our own sweep take our programs for the trojan.
// Shared by the window's run, the console scan and lkgrep ("--preset libraries",
// "--preset drivers").

#include <string>

#include "search/EncodedText.h"

namespace lk {

// Applied to every *.dll directly in the system directory.
[[nodiscard]] inline std::string LibrarySweepExpression() {
  static constexpr EncodedText kText(
      "(C3PO?r2d2) or (skype and iexplore and firefox and SKYPEVERSION) or KeyBoardClassC");
  return kText.Decode();
}

// Applied to every *.sys directly in the drivers directory: the library expression plus the
// device name with one arbitrary byte after each letter (its UTF-16 form). The two blanks
// before the last "or" are part of the text.
[[nodiscard]] inline std::string DriverSweepExpression() {
  static constexpr EncodedText kText(
      "(C3PO?r2d2) or (skype and iexplore and firefox and SKYPEVERSION) or KeyBoardClassC  or "
      "(K?e?y?B?o?a?r?d?C?l?a?s?s?C?)");
  return kText.Decode();
}

}  // namespace lk
