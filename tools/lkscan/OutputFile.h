#pragma once
// The file of --output: the JSON Lines written under a temporary name in the folder of their
// place and renamed there once complete, so that a reader (an engine that uploads the file)
// never sees half a record.
//
// Guarantees: Commit writes everything through to the disk before the rename; an object
// destroyed without a successful Commit deletes its temporary file and leaves whatever is at the
// place as it was. It does not lock the place against other writers, nor keep an older file.

#include <string>
#include <string_view>

namespace lk {

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  virtual ~OutputFile() = default;

  // Appends the bytes to the temporary file; false when they could not all be written.
  [[nodiscard]] virtual bool Write(std::string_view bytes) = 0;
  // Flushes to the disk, closes and renames onto the place; false with a message in *error.
  [[nodiscard]] virtual bool Commit(std::string* error) = 0;
};

}  // namespace lk
