#pragma once
// The version component of the main window (VersionInfo1): reads the FileVersion string of a
// file's version block, by default the running program's own.
//
// Before anything is read the text is "Updated at run-time"; a file without a version block (or
// with a block that lists no translation) keeps that text. Only the first translation of the
// block is consulted, and its string is taken exactly as stored, up to its terminating zero; a
// block whose first translation has no FileVersion gives the empty text.

#include <string>

namespace lk::ui {

class VersionInfo {
 public:
  static constexpr const char* kNotRead = "Updated at run-time";

  // Reads the running program's executable.
  VersionInfo();
  // Reads the given file (UTF-16 path).
  explicit VersionInfo(const std::wstring& path);

  // UTF-8.
  [[nodiscard]] const std::string& FileVersion() const noexcept { return fileVersion_; }

 private:
  void Read(const std::wstring& path);

  std::string fileVersion_ = kNotRead;
};

}  // namespace lk::ui
