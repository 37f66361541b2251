#pragma once
// Finds the first occurrence of a text, encoded in a chosen character encoding, inside a file.
// Reads the file in blocks of 65,536 bytes with an overlap between consecutive blocks, so files
// of any size are searched in constant memory and a match across a block boundary is found.
// Each block repeats the last len + 1 characters of the one before; a text so long that this
// overlap exceeds a fifth of the block gets blocks five times the overlap, so every byte is read
// about 1.25 times at most whatever the text's length. Inside a block the text is found in time
// linear in block and text (PatternFinder), so a long text costs about what a short one does.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "streamsearch/Codepages.h"
#include "system/FileSystem.h"

namespace lk {

// Raised by the stream search: "Stream object not initialized", "Read error at offset %d", or
// the platform's error when a file cannot be opened (code: the Windows error code, or 0).
class StreamSearchError : public std::runtime_error {
 public:
  StreamSearchError(const std::string& what, std::uint32_t code = 0)
      : std::runtime_error(what), code_(code) {}
  [[nodiscard]] std::uint32_t Code() const noexcept { return code_; }

 private:
  std::uint32_t code_;
};

// One byte of options: bit 0 CaseSensitive, bit 1 WholeWords, bit 2 Backward.
struct StreamSearchFlags {
  bool caseSensitive = false;
  bool wholeWords = false;
  bool backward = false;
};

class StreamSearch {
 public:
  // (current position, stream size, continue searching: true on entry)
  using ProgressHandler = std::function<void(std::int64_t, std::int64_t, bool&)>;

  static constexpr std::int64_t kDefaultBlockLength = 65'536;

  // blockLength: the bytes read at once; tests choose others to move the block boundaries.
  explicit StreamSearch(FileSystem& files, std::int64_t blockLength = kDefaultBlockLength);
  ~StreamSearch();
  StreamSearch(const StreamSearch&) = delete;
  StreamSearch& operator=(const StreamSearch&) = delete;

  // Closes the stream opened earlier; opens path (existing files, reading only, sharing read and
  // write). An empty path leaves no stream open. Raises StreamSearchError when it cannot open.
  void OpenStreamFile(std::string_view path);
  // Searches the open stream for text (UTF-16) from the byte offset start; sets MatchOffset and
  // MatchLength and returns true when found. With a single-byte encoding, a text holding a
  // character that the code page cannot express is never in the file: not found, nothing read.
  bool FindText(std::u16string_view text, std::int64_t start, TextEncoding encoding,
                StreamSearchFlags flags = {});

  [[nodiscard]] std::int64_t MatchOffset() const { return matchOffset_; }
  [[nodiscard]] std::int64_t MatchLength() const { return matchLength_; }
  void SetOnProgress(ProgressHandler handler) { onProgress_ = std::move(handler); }

 private:
  FileSystem& files_;
  std::int64_t blockLength_;
  std::unique_ptr<ReadableFile> stream_;
  std::int64_t matchOffset_ = -1;
  std::int64_t matchLength_ = 0;
  int charWidth_ = 1;
  ProgressHandler onProgress_;
};

}  // namespace lk
