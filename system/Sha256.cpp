#include "system/Sha256.h"

#include <vector>

namespace lk {

std::string Sha256::Hex(const Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(digest.size() * 2);
  for (std::uint8_t byte : digest) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0xF]);
  }
  return text;
}

FileDigest DigestFile(FileSystem& files, std::string_view path) {
  FileDigest result;
  std::uint32_t error = 0;
  std::unique_ptr<ReadableFile> file = files.OpenForReading(path, FileShare::All, &error);
  if (!file) {
    result.error = error != 0 ? error : 2;
    return result;
  }
  Sha256 hash;
  constexpr std::size_t kBlock = 1 << 20;
  std::vector<std::uint8_t> buffer(kBlock);
  std::int64_t offset = 0;
  for (;;) {
    const ReadResult read = file->ReadAt(offset, buffer.data(), buffer.size());
    if (!read.Ok()) {
      result.error = read.error;
      return result;
    }
    if (read.bytes == 0) break;
    hash.Update(buffer.data(), read.bytes);
    offset += static_cast<std::int64_t>(read.bytes);
  }
  result.size = offset;
  result.sha256 = Sha256::Hex(hash.Finish());
  return result;
}

}  // namespace lk
