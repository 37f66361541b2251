#pragma once
// SHA-256, computed by the platform's own cryptography (CNG on Windows, OpenSSL's libcrypto
// elsewhere): a checksum that a user compares with other tools must not come from code of ours.
//
// Also the digest of a whole file read through the file layer, for the records of what was found
// and what was put into the quarantine.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "system/FileSystem.h"

namespace lk {

class Sha256 {
 public:
  using Digest = std::array<std::uint8_t, 32>;

  // Raises std::runtime_error when the platform offers no SHA-256.
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const void* data, std::size_t length);
  // The digest of everything given so far; the object then starts anew.
  [[nodiscard]] Digest Finish();

  // The digest as 64 lower-case hexadecimal digits.
  [[nodiscard]] static std::string Hex(const Digest& digest);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Digests length zeros, as a hole of a file holds them, without a buffer of that size.
void HashZeros(Sha256& hash, std::int64_t length);

// The largest file that gets a digest. A hole costs nothing to read but its zeros must still be
// hashed (1 to 2 GB/s), so a hostile disk's sparse file of terabytes would take hours: a size far
// beyond any real system library or driver (the largest are a few hundred megabytes) bounds it.
inline constexpr std::int64_t kDigestLimit = std::int64_t{1} << 30;

// What reading a whole file gave: its size and SHA-256, or why it could not be read. A file
// larger than the limit is not read: error is file_error::kFileTooLarge, size its size.
struct FileDigest {
  std::int64_t size = 0;
  std::string sha256;  // hex
  std::uint32_t error = 0;
  [[nodiscard]] bool Ok() const noexcept { return error == 0; }
  [[nodiscard]] bool TooLarge() const noexcept { return error == file_error::kFileTooLarge; }
};

// Reads the file at path from its start to its end, sharing read, write and delete access so
// that nothing else is disturbed; a file larger than limit bytes is left unread.
[[nodiscard]] FileDigest DigestFile(FileSystem& files, std::string_view path,
                                    std::int64_t limit = kDigestLimit);
// The same for an entry that a walk of directory enumerated: opened by its exact name through
// the open directory, as the walk opens it (only a regular file, no link followed where the file
// layer refuses to follow the links of a walked tree), never by a path built from the name.
[[nodiscard]] FileDigest DigestEntry(FileSystem& files, std::string_view directory,
                                     std::string_view name, std::int64_t limit = kDigestLimit);

}  // namespace lk
