#include "streamsearch/StreamSearch.h"

#include <algorithm>
#include <exception>
#include <utility>
#include <vector>

#include "base/WindowsError.h"
#include "base/WindowsErrorTexts.h"
#include "streamsearch/PatternFinder.h"

namespace lk {

namespace {

// A block repeats the last len + 1 characters of the one before. With a fixed block, a long text
// would leave a small step between blocks (none at all for 32,767 UTF-16 or 65,535 ANSI
// characters in 65,536 bytes), and each byte would be read and converted many times; a block of
// at least this many times the overlap keeps the repetition at a quarter of the step.
constexpr std::int64_t kBlockPerOverlap = 5;

std::string OpenErrorText(std::string_view path, std::uint32_t code) {
  // The system's own words for the reasons a search meets every day; a number for the rest.
  std::string_view reason;
  if (code == win_error::kFileNotFound || code == win_error::kPathNotFound ||
      code == win_error::kAccessDenied || code == win_error::kSharingViolation) {
    reason = EnglishSystemMessage(code);
    while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n')) {
      reason.remove_suffix(1);
    }
  }
  std::string text = "Cannot open file \"" + std::string(path) + "\". " + std::string(reason);
  if (reason.empty()) text += "Error " + std::to_string(code) + ".";
  return text;
}

// Word characters for WholeWords: digits, ASCII letters, the underscore and every code from 128.
bool IsDelimiter(char16_t unit) {
  if (unit >= 128) return false;
  return !((unit >= u'0' && unit <= u'9') || (unit >= u'a' && unit <= u'z') ||
           (unit >= u'A' && unit <= u'Z') || unit == u'_');
}

// Reads one block of the stream; every failure becomes "Read error at offset" with the block's
// start, which is the offset the message names.
class BlockReader {
 public:
  BlockReader(ReadableFile& stream, std::int64_t blockStart)
      : stream_(stream), blockStart_(blockStart) {}

  std::size_t Read(std::int64_t offset, std::uint8_t* buffer, std::size_t length) {
    ReadResult result;
    try {
      result = stream_.ReadAt(offset, buffer, length);
    } catch (const std::exception&) {
      Fail();
    }
    if (!result.Ok() || result.bytes > length) Fail();
    return result.bytes;
  }

 private:
  [[noreturn]] void Fail() const {
    throw StreamSearchError("Read error at offset " + std::to_string(blockStart_));
  }
  ReadableFile& stream_;
  std::int64_t blockStart_;
};

// Where the data before an offset ends, for a backward search that meets a hole. The layer tells
// holes forward only, so the long holes are listed once, on the first question, from the start.
class HoleMap {
 public:
  HoleMap(ReadableFile& stream, std::int64_t size) : stream_(stream), size_(size) {}

  // The end of the last data byte before offset (0: none); offset lies in a hole.
  std::int64_t DataEndBefore(std::int64_t offset) {
    if (!listed_) List();
    // The hole that holds offset begins where the data before it ends.
    const auto after = std::upper_bound(
        holes_.begin(), holes_.end(), offset,
        [](std::int64_t p, const std::pair<std::int64_t, std::int64_t>& h) { return p < h.first; });
    if (after == holes_.begin()) return offset;
    const auto& hole = *std::prev(after);
    return offset < hole.second ? hole.first : offset;
  }

 private:
  // Past this many holes the rest are taken as data: read, not skipped, which is slower but exact.
  static constexpr std::size_t kMostHoles = 1 << 20;

  void List() {
    listed_ = true;
    std::int64_t offset = 0;
    while (offset < size_ && holes_.size() < kMostHoles) {
      const std::int64_t data = std::clamp(stream_.DataFrom(offset), offset, size_);
      if (data > offset) holes_.emplace_back(offset, data);
      if (data >= size_) break;
      std::int64_t hole = stream_.HoleFrom(data);
      if (hole <= data || hole > size_) hole = size_;
      offset = hole;
    }
  }

  ReadableFile& stream_;
  std::int64_t size_;
  bool listed_ = false;
  std::vector<std::pair<std::int64_t, std::int64_t>> holes_;  // [begin, end), in order
};

// One search of FindText over the open stream: the text as the blocks hold it (one unit per
// character, an ANSI byte or a UTF-16 unit, lower-cased unless the case counts), the block being
// searched, and what is known of the stream's holes. Forward and Backward return the byte offset
// of the occurrence found, or -1.
class TextScan {
 public:
  TextScan(ReadableFile& stream, std::int64_t size, int width, TextEncoding encoding,
           StreamSearchFlags flags, std::u16string_view text, std::int64_t blockLength,
           const StreamSearch::ProgressHandler& onProgress)
      : stream_(stream),
        size_(size),
        w_(width),
        encoding_(encoding),
        flags_(flags),
        pattern_(BlockPattern(text, width, flags.caseSensitive)),
        length_(static_cast<std::int64_t>(pattern_.size())),
        finder_(pattern_),
        blockLength_(std::max(blockLength, kBlockPerOverlap * (length_ + 1) * w_) / w_ * w_),
        advance_(blockLength_ - (length_ + 1) * w_),
        onProgress_(onProgress),
        // No block holds more than the stream, so a long text over a short file costs no more
        // memory than the file.
        buffer_(static_cast<std::size_t>(std::min(blockLength_, size))),
        holes_(stream, size) {
    block_.reserve(buffer_.size() / static_cast<std::size_t>(w_));
    // A hole holds only zeros. A text with a unit that zeros do not read as has no occurrence
    // inside one: a block that lies wholly in a hole is passed over with the rest of the hole, up
    // to where an occurrence that reaches data can begin. A text of zeros alone is found in the
    // first such block, so it needs no skipping.
    const std::uint8_t zeroBytes[2] = {0, 0};
    const char16_t zeroUnit = ToUnit(zeroBytes);
    needsData_ = std::any_of(pattern_.begin(), pattern_.end(),
                             [&](char16_t unit) { return unit != zeroUnit; });
  }

  [[nodiscard]] std::int64_t TextBytes() const { return length_ * w_; }

  std::int64_t Forward(std::int64_t position, std::int64_t last) {
    if (position > last) return -1;
    if (position < 0) position = 0;
    if (!Progress(position)) return -1;
    for (;;) {
      const std::int64_t blockStart = position;
      if (InHole(blockStart, blockStart + blockLength_)) {
        // The first unit of an occurrence that reaches the data after the hole.
        const std::int64_t data = std::min(stream_.DataFrom(blockStart), size_);
        if (data >= size_) return -1;
        position =
            std::max(position + advance_, std::max<std::int64_t>(0, data - TextBytes()) / w_ * w_);
        if (position > last || !Progress(position)) return -1;
        continue;
      }
      // A block that runs from data into a hole ends where an occurrence that begins in the data
      // must end; the next one begins where the hole does (and passes over it).
      std::int64_t want = blockLength_;
      std::int64_t next = position + advance_;
      if (needsData_ && dataEnd_ < size_) {
        const std::int64_t holeStart = dataEnd_ / w_ * w_;
        const std::int64_t end = (dataEnd_ + TextBytes() + w_ - 1) / w_ * w_;
        if (holeStart >= blockStart + w_ && end < blockStart + blockLength_) {
          want = end - blockStart;
          next = holeStart;
        }
      }
      const std::int64_t read = LoadBlock(blockStart, want);
      const bool finalBlock = read < want;
      const std::size_t k =
          finder_.FindFirst(block_, [&](std::size_t at) { return AcceptedAt(blockStart, at); });
      if (k != PatternFinder::kNotFound) return blockStart + static_cast<std::int64_t>(k) * w_;
      if (!Progress(position)) return -1;
      position = next;
      if (position < 0 || position > last || finalBlock) return -1;
    }
  }

  // Each block ends just after the character at the position and reaches back at most
  // blockLength bytes; a start of 0 stands for the end of the stream.
  std::int64_t Backward(std::int64_t position, std::int64_t last) {
    if (position <= 0 || position > last) position = last;
    if (!Progress(position)) return -1;
    for (;;) {
      const std::int64_t blockEnd = position + w_;
      const std::int64_t blockStart = std::max<std::int64_t>(0, blockEnd - blockLength_);
      if (InHole(blockStart, blockEnd)) {
        // The last unit of an occurrence that reaches the data before the hole.
        const std::int64_t data = holes_.DataEndBefore(blockStart);
        if (data <= 0) return -1;
        position = std::min(position - advance_, (data - 1) / w_ * w_ + TextBytes() - w_);
        if (position < 0 || !Progress(position)) return -1;
        continue;
      }
      LoadBlock(blockStart, blockEnd - blockStart);
      const bool finalBlock = blockStart == 0;
      const std::size_t k =
          finder_.FindLast(block_, [&](std::size_t at) { return AcceptedAt(blockStart, at); });
      if (k != PatternFinder::kNotFound) return blockStart + static_cast<std::int64_t>(k) * w_;
      if (!Progress(position)) return -1;
      position -= advance_;
      if (position < 0 || finalBlock) return -1;
    }
  }

 private:
  static std::u16string BlockPattern(std::u16string_view text, int width, bool caseSensitive) {
    std::u16string pattern;
    pattern.reserve(text.size());
    for (char16_t unit : text) {
      if (width == 1) {
        const std::uint8_t byte = UnicodeToAnsi(unit);
        pattern.push_back(caseSensitive ? byte : LowerAnsi(byte));
      } else {
        pattern.push_back(caseSensitive ? unit : LowerUtf16(unit));
      }
    }
    return pattern;
  }

  bool Progress(std::int64_t position) {
    bool goOn = true;
    if (onProgress_) onProgress_(position, size_, goOn);
    return goOn;
  }

  [[nodiscard]] char16_t ToUnit(const std::uint8_t* bytes) const {
    char16_t unit = 0;
    if (w_ == 1) {
      unit = bytes[0];
    } else if (encoding_ == TextEncoding::Utf16Be) {
      unit = static_cast<char16_t>((bytes[0] << 8) | bytes[1]);
    } else {
      unit = static_cast<char16_t>(bytes[0] | (bytes[1] << 8));
    }
    if (flags_.caseSensitive) return unit;
    return w_ == 1 ? LowerAnsi(static_cast<std::uint8_t>(unit)) : LowerUtf16(unit);
  }

  // Reads the block [blockStart, blockStart + maxLength) into block_; returns the bytes read.
  std::int64_t LoadBlock(std::int64_t blockStart, std::int64_t maxLength) {
    std::fill(buffer_.begin(), buffer_.end(), std::uint8_t{0});
    BlockReader reader(stream_, blockStart);
    const std::size_t read = reader.Read(
        blockStart, buffer_.data(),
        static_cast<std::size_t>(std::min(maxLength, static_cast<std::int64_t>(buffer_.size()))));
    block_.clear();
    const auto w = static_cast<std::size_t>(w_);
    for (std::size_t i = 0; i + w <= read; i += w) block_.push_back(ToUnit(&buffer_[i]));
    return static_cast<std::int64_t>(read);
  }

  // The stream's characters just outside the block, for the WholeWords test of the candidates
  // at its edges: a word that continues beyond the block is no whole word.
  int Neighbour(std::int64_t blockStart, std::int64_t offset) {
    if (offset < 0 || offset + w_ > size_) return -1;
    std::uint8_t bytes[2] = {0, 0};
    BlockReader reader(stream_, blockStart);
    if (reader.Read(offset, bytes, static_cast<std::size_t>(w_)) < static_cast<std::size_t>(w_)) {
      return -1;
    }
    return ToUnit(bytes);
  }

  // Whether the text, found at character index at of the block, counts (the WholeWords rule).
  bool AcceptedAt(std::int64_t blockStart, std::size_t at) {
    if (!flags_.wholeWords) return true;
    const int before = at > 0 ? block_[at - 1] : Neighbour(blockStart, blockStart - w_);
    const std::size_t afterIndex = at + pattern_.size();
    const int after =
        afterIndex < block_.size()
            ? block_[afterIndex]
            : Neighbour(blockStart, blockStart + static_cast<std::int64_t>(afterIndex) * w_);
    return (before < 0 || IsDelimiter(static_cast<char16_t>(before))) &&
           (after < 0 || IsDelimiter(static_cast<char16_t>(after)));
  }

  // Whether [from, to) lies wholly in a hole. The data extent last met is kept, so that a file
  // without holes costs two questions to its layer, not one a block.
  bool InHole(std::int64_t from, std::int64_t to) {
    if (!needsData_) return false;
    to = std::min(to, size_);
    if (from < dataEnd_ && to > dataBegin_) return false;
    const std::int64_t data = stream_.DataFrom(from);
    if (data >= to) return true;
    dataBegin_ = std::max(data, from);
    dataEnd_ = std::max(stream_.HoleFrom(dataBegin_), dataBegin_ + 1);
    return false;
  }

  ReadableFile& stream_;
  const std::int64_t size_;
  const std::int64_t w_;
  const TextEncoding encoding_;
  const StreamSearchFlags flags_;
  const std::u16string pattern_;
  const std::int64_t length_;
  const PatternFinder finder_;
  const std::int64_t blockLength_;
  const std::int64_t advance_;  // from one block to the next: the block less the overlap
  const StreamSearch::ProgressHandler& onProgress_;
  std::vector<std::uint8_t> buffer_;
  std::u16string block_;
  bool needsData_ = false;
  std::int64_t dataBegin_ = 0;
  std::int64_t dataEnd_ = 0;
  HoleMap holes_;
};

}  // namespace

StreamSearch::StreamSearch(FileSystem& files, std::int64_t blockLength)
    : files_(files), blockLength_(std::max<std::int64_t>(blockLength, 2)) {}

StreamSearch::~StreamSearch() = default;

void StreamSearch::OpenStreamFile(std::string_view path) {
  stream_.reset();
  if (path.empty()) return;
  std::uint32_t error = 0;
  std::unique_ptr<ReadableFile> file = files_.OpenForReading(path, FileShare::ReadWrite, &error);
  if (!file) throw StreamSearchError(OpenErrorText(path, error), error);
  stream_ = std::move(file);
}

bool StreamSearch::FindText(std::u16string_view text, std::int64_t start, TextEncoding encoding,
                            StreamSearchFlags flags) {
  matchOffset_ = -1;
  matchLength_ = 0;
  if (text.empty()) return false;
  if (!stream_) throw StreamSearchError("Stream object not initialized");

  const int width = CharacterWidth(encoding);
  charWidth_ = width;
  // The system's conversion would write '?' for such a character, but no byte of the file can
  // be that character.
  if (width == 1 && !std::all_of(text.begin(), text.end(), CanEncodeInAnsi)) return false;
  const std::int64_t w = width;
  const std::int64_t size = stream_->Size();
  if (size < w) return false;
  const std::int64_t last = std::max<std::int64_t>(0, size / w * w - w);

  TextScan scan(*stream_, size, width, encoding, flags, text, blockLength_, onProgress_);
  const std::int64_t position = start / w * w;
  const std::int64_t at =
      flags.backward ? scan.Backward(position, last) : scan.Forward(position, last);
  if (at < 0) return false;
  matchOffset_ = at;
  matchLength_ = scan.TextBytes();
  return true;
}

}  // namespace lk
