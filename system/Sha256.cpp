#include "system/Sha256.h"

#include <algorithm>
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

namespace {

FileDigest DigestOpenFile(std::unique_ptr<ReadableFile> file, std::uint32_t openError,
                          std::int64_t limit) {
  FileDigest result;
  if (!file) {
    result.error = openError != 0 ? openError : file_error::kFileNotFound;
    return result;
  }
  if (const std::int64_t size = file->Size(); size > limit) {
    result.size = size;
    result.error = file_error::kFileTooLarge;
    return result;
  }
  Sha256 hash;
  constexpr std::size_t kBlock = 1 << 20;
  std::int64_t offset = 0;
  // A hole is digested as the zeros it holds, without reading them. A file that grows past the
  // limit while it is read is given up there.
  if (const std::uint32_t error = ReadExtents(
          *file, kBlock,
          [&](std::int64_t at, const char* data, std::int64_t length) -> std::uint32_t {
            if (at + length > limit) {
              result.size = at + length;
              return file_error::kFileTooLarge;
            }
            if (data != nullptr) {
              hash.Update(data, static_cast<std::size_t>(length));
            } else {
              HashZeros(hash, length);
            }
            return 0;
          },
          &offset)) {
    result.error = error;
    return result;
  }
  result.size = offset;
  result.sha256 = Sha256::Hex(hash.Finish());
  return result;
}

}  // namespace

void HashZeros(Sha256& hash, std::int64_t length) {
  static const std::vector<char> zeros(1 << 20, '\0');
  while (length > 0) {
    const auto chunk = static_cast<std::size_t>(
        std::min<std::int64_t>(length, static_cast<std::int64_t>(zeros.size())));
    hash.Update(zeros.data(), chunk);
    length -= static_cast<std::int64_t>(chunk);
  }
}

FileDigest DigestFile(FileSystem& files, std::string_view path, std::int64_t limit) {
  std::uint32_t error = 0;
  std::unique_ptr<ReadableFile> file = files.OpenForReading(path, FileShare::All, &error);
  return DigestOpenFile(std::move(file), error, limit);
}

FileDigest DigestEntry(FileSystem& files, std::string_view directory, std::string_view name,
                       std::int64_t limit) {
  std::uint32_t error = 0;
  const std::unique_ptr<Directory> folder = files.OpenDirectory(directory, &error);
  if (!folder) return DigestOpenFile(nullptr, error, limit);
  std::unique_ptr<ReadableFile> file = folder->OpenFile(name, FileShare::All, &error);
  return DigestOpenFile(std::move(file), error, limit);
}

}  // namespace lk
