#pragma once
// The file-access layer: reading file contents and enumerating directories.
//
// The file searcher and the stream search read files on their own, outside SystemAccess, through
// this interface. Paths are Windows paths in UTF-8 ("C:\WINDOWS\system32\drivers\x.sys").
// Implementations: WindowsFileSystem (CreateFileW, FindFirstFileExW) and PosixFileSystem, which
// maps the Windows paths onto a host folder that stands for the drive.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace lk {

// File attribute bits with their Windows values.
namespace file_attribute {
inline constexpr std::uint32_t kReadOnly = 0x1;
inline constexpr std::uint32_t kHidden = 0x2;
inline constexpr std::uint32_t kSystem = 0x4;
inline constexpr std::uint32_t kVolumeLabel = 0x8;
inline constexpr std::uint32_t kDirectory = 0x10;
inline constexpr std::uint32_t kArchive = 0x20;
inline constexpr std::uint32_t kNormal = 0x80;
inline constexpr std::uint32_t kReparsePoint = 0x400;
}  // namespace file_attribute

// Which access other openers keep while we hold a file open (the Windows share mode bits).
enum class FileShare : std::uint32_t {
  None = 0,
  Read = 1,
  Write = 2,
  ReadWrite = 3,
  Delete = 4,
  All = 7,
};

// The outcome of one read: the number of bytes read, or a Windows error code.
struct ReadResult {
  std::size_t bytes = 0;
  std::uint32_t error = 0;
  [[nodiscard]] bool Ok() const noexcept { return error == 0; }
};

// An open file, readable at any 64-bit offset. Closing happens on destruction.
class ReadableFile {
 public:
  ReadableFile() = default;
  ReadableFile(const ReadableFile&) = delete;
  ReadableFile& operator=(const ReadableFile&) = delete;
  virtual ~ReadableFile() = default;

  // The size in bytes, or -1 when it cannot be told.
  [[nodiscard]] virtual std::int64_t Size() = 0;
  // Reads up to length bytes at offset. Fewer bytes than asked only at the end of the file.
  [[nodiscard]] virtual ReadResult ReadAt(std::int64_t offset, void* buffer,
                                          std::size_t length) = 0;
};

// One directory entry as the enumeration yields it. Times are FILETIME ticks (100 ns since
// 1601-01-01), UTC.
struct DirectoryEntry {
  std::string name;
  std::uint32_t attributes = 0;
  std::int64_t size = 0;
  std::int64_t creationTime = 0;
  std::int64_t lastAccessTime = 0;
  std::int64_t lastWriteTime = 0;

  [[nodiscard]] bool IsDirectory() const noexcept {
    return (attributes & file_attribute::kDirectory) != 0;
  }
};

// The entries of one directory that fit one pattern, in the file system's order.
class DirectoryEnumeration {
 public:
  DirectoryEnumeration() = default;
  DirectoryEnumeration(const DirectoryEnumeration&) = delete;
  DirectoryEnumeration& operator=(const DirectoryEnumeration&) = delete;
  virtual ~DirectoryEnumeration() = default;

  // Fills entry with the next entry; false at the end (entry untouched).
  [[nodiscard]] virtual bool Next(DirectoryEntry& entry) = 0;
};

class FileSystem {
 public:
  FileSystem() = default;
  FileSystem(const FileSystem&) = delete;
  FileSystem& operator=(const FileSystem&) = delete;
  virtual ~FileSystem() = default;

  // Opens an existing file for reading, granting others the share access given. On failure
  // returns null and stores the Windows error code in *error (when error is not null).
  [[nodiscard]] virtual std::unique_ptr<ReadableFile> OpenForReading(std::string_view path,
                                                                     FileShare share,
                                                                     std::uint32_t* error) = 0;
  // The entries of directory (with or without a trailing backslash) whose names fit pattern,
  // Windows rules: '*' and '?', without regard to case, "*.*" also fits names without a dot.
  // "." and ".." are yielded where the platform has them. A missing directory yields nothing.
  [[nodiscard]] virtual std::unique_ptr<DirectoryEnumeration> EnumerateDirectory(
      std::string_view directory, std::string_view pattern) = 0;
  // Converts a UTC FILETIME tick count to local time, in the same unit.
  [[nodiscard]] virtual std::int64_t ToLocalFileTime(std::int64_t utcTicks) = 0;
};

}  // namespace lk
