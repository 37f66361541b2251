#include "search/matcher/ContentWindow.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "search/matcher/Refine.h"

namespace lk {

ContentWindow::ContentWindow(ReadableFile& file, std::int64_t fileSize, std::size_t blockSize,
                             std::vector<std::uint8_t>& buffer)
    : file_(file),
      fileSize_(fileSize),
      length_(fileSize + 2),
      blockSize_(std::max<std::size_t>(blockSize, 1)),
      buffer_(buffer) {}

void ContentWindow::Rewind() noexcept {
  base_ = 0;
  end_ = 0;
}

bool ContentWindow::Advance(std::int64_t keepFrom) {
  if (end_ >= length_) return false;
  keepFrom = std::clamp(keepFrom, base_, end_);
  const auto kept = static_cast<std::size_t>(end_ - keepFrom);
  const auto added = static_cast<std::size_t>(
      std::min<std::int64_t>(length_ - end_, static_cast<std::int64_t>(blockSize_)));
  const std::size_t needed = kept + added + kPadding;
  if (buffer_.size() < needed) {
    std::vector<std::uint8_t> grown(needed);
    if (kept > 0) {
      std::memcpy(grown.data(), buffer_.data() + (keepFrom - base_), kept);
    }
    buffer_.swap(grown);
  } else if (kept > 0 && keepFrom != base_) {
    std::memmove(buffer_.data(), buffer_.data() + (keepFrom - base_), kept);
  }
  base_ = keepFrom;
  Fill(end_, buffer_.data() + kept, added);
  end_ += static_cast<std::int64_t>(added);
  std::memset(buffer_.data() + kept + added, 0, kPadding);
  return true;
}

std::uint8_t ContentWindow::AtSlow(std::int64_t position) const {
  if (position < 0 || position >= length_) return 0;
  if (position < extraBase_ || position >= extraEnd_) {
    extra_.resize(kExtraBlock);
    const std::size_t count = static_cast<std::size_t>(
        std::min<std::int64_t>(length_ - position, static_cast<std::int64_t>(kExtraBlock)));
    Fill(position, extra_.data(), count);
    extraBase_ = position;
    extraEnd_ = position + static_cast<std::int64_t>(count);
  }
  return extra_[static_cast<std::size_t>(position - extraBase_)];
}

void ContentWindow::Fill(std::int64_t position, std::uint8_t* out, std::size_t count) const {
  while (count > 0) {
    if (position == 0 || position == fileSize_ + 1) {
      *out++ = ' ';
      ++position;
      --count;
      continue;
    }
    // File bytes up to the trailing guard space.
    const std::int64_t offset = position - 1;
    const auto want = static_cast<std::size_t>(
        std::min<std::int64_t>(fileSize_ - offset, static_cast<std::int64_t>(count)));
    std::size_t done = 0;
    while (done < want) {
      const ReadResult r =
          file_.ReadAt(offset + static_cast<std::int64_t>(done), out + done, want - done);
      if (!r.Ok() || r.bytes == 0) {
        throw FileReadError(
            "Read error at offset " + std::to_string(offset + static_cast<std::int64_t>(done)) +
            (r.Ok() ? std::string(" (end of file)") : " (error " + std::to_string(r.error) + ")"));
      }
      done += r.bytes;
    }
    out += want;
    position += static_cast<std::int64_t>(want);
    count -= want;
  }
}

}  // namespace lk
