#pragma once
// A window onto the content buffer of one file (a guard space, the file's bytes, a guard space)
// that is read block by block into one reused buffer, so that memory stays bounded whatever the
// file's size. Positions are 64-bit content positions: the file byte at offset k is at k + 1.
//
// The window keeps some bytes behind and ahead of the scan so that candidates near a block
// boundary verify inside the buffer; At() also answers for any other position (a match with '*'
// may run far ahead) by reading a small extra block from the file.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "system/FileSystem.h"

namespace lk {

class ContentWindow {
 public:
  // buffer: storage that the caller keeps from file to file, so that it is allocated once.
  ContentWindow(ReadableFile& file, std::int64_t fileSize, std::size_t blockSize,
                std::vector<std::uint8_t>& buffer);

  // Content length: the file size plus the two guard spaces.
  [[nodiscard]] std::int64_t Length() const noexcept { return length_; }
  [[nodiscard]] std::uint8_t At(std::int64_t position) const {
    if (position >= base_ && position < end_) {
      return buffer_[static_cast<std::size_t>(position - base_)];
    }
    return AtSlow(position);
  }

  // Forgets the buffered bytes; the next Advance reads from position 0.
  void Rewind() noexcept;
  // Drops the bytes before keepFrom and appends the next block. False when the content end was
  // already buffered (nothing is read).
  [[nodiscard]] bool Advance(std::int64_t keepFrom);

  // The buffered positions [Base(), End()), with readable (meaningless) bytes after End().
  [[nodiscard]] const std::uint8_t* Data() const noexcept { return buffer_.data(); }
  [[nodiscard]] std::int64_t Base() const noexcept { return base_; }
  [[nodiscard]] std::int64_t End() const noexcept { return end_; }
  [[nodiscard]] bool AtEnd() const noexcept { return end_ == length_; }

 private:
  static constexpr std::size_t kPadding = 128;
  static constexpr std::size_t kExtraBlock = 4096;

  [[nodiscard]] std::uint8_t AtSlow(std::int64_t position) const;
  // Writes the content bytes of [position, position + count) to out; raises on a read failure.
  void Fill(std::int64_t position, std::uint8_t* out, std::size_t count) const;

  ReadableFile& file_;
  std::int64_t fileSize_;
  std::int64_t length_;
  std::size_t blockSize_;
  std::vector<std::uint8_t>& buffer_;
  std::int64_t base_ = 0;
  std::int64_t end_ = 0;
  mutable std::vector<std::uint8_t> extra_;
  mutable std::int64_t extraBase_ = 0;
  mutable std::int64_t extraEnd_ = 0;
};

}  // namespace lk
