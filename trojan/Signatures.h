#pragma once
// The strings that identify the known version of the trojan, kept scrambled in the executable
// (search/EncodedText.h): as plain bytes they would make antivirus products, and the library
// expression of our own sweep ("KeyBoardClassC"), take this program for the trojan.

#include <string>

#include "search/EncodedText.h"

namespace lk::signatures {

// Looked for inside mfc42ul.dll as single-byte text.
[[nodiscard]] inline std::string LibrarySignature() {
  static constexpr EncodedText kText("C3PO-r2d2-POE");
  return kText.Decode();
}

// Looked for inside winsys32.sys as UTF-16 LE text.
[[nodiscard]] inline std::string DriverSignature() {
  static constexpr EncodedText kText("\\DosDevices\\KeyboardClassC");
  return kText.Decode();
}

// The device that the trojan driver creates.
[[nodiscard]] inline std::string DevicePath() {
  static constexpr EncodedText kText("\\\\.\\KeyboardClassC");
  return kText.Decode();
}

}  // namespace lk::signatures
