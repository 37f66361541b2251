#pragma once
// The file-access layer: reading file contents and enumerating directories.
//
// The file searcher and the stream search read files on their own, outside SystemAccess, through
// this interface. Paths are Windows paths in UTF-8 ("C:\WINDOWS\system32\drivers\x.sys").
// Implementations: WindowsFileSystem (CreateFileW, FindFirstFileExW) and PosixFileSystem, which
// maps the Windows paths onto a host folder that stands for the drive.
//
// A walk over a tree that may be hostile (a mounted disk of another machine) goes through
// Directory: an entry that an enumeration yielded is opened or entered by its exact name relative
// to its directory, never by re-parsing a path built from that name. Whatever a layer cannot
// examine it says so, with a Windows error code as the reason: a directory that cannot be opened
// or read, an entry that vanished, a name that cannot be a Windows path component, a file that is
// not a regular file, a link that is not followed.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/WindowsError.h"

namespace lk {

// The file layer's name for the Windows error codes (base/WindowsError.h) it refuses with.
namespace file_error = win_error;

// A short English text that says why an entry could not be examined ("does not exist",
// "not a regular file (pipe, socket or device)", ...; "error N" for codes without a text).
[[nodiscard]] std::string DescribeFileError(std::uint32_t error);
// The same in German, for the texts of lkscan and its layers ("existiert nicht", ...).
[[nodiscard]] std::string DescribeFileErrorInGerman(std::uint32_t error);
// An errno value in German, for the same texts (strerror speaks the C locale's English); a value
// without a text of its own is told with its number and strerror's words.
[[nodiscard]] std::string DescribeErrnoInGerman(int error);

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
  // Where the data at or after offset begins: what lies before it is a hole, which holds only
  // zeros and need not be read. offset itself where the layer knows no holes; Size() or more when
  // only a hole follows.
  [[nodiscard]] virtual std::int64_t DataFrom(std::int64_t offset) { return offset; }
  // Where the data that holds offset ends (the next hole or the end of the file).
  [[nodiscard]] virtual std::int64_t HoleFrom(std::int64_t /*offset*/) { return Size(); }
};

// Reads the whole file in order through its data extents, each piece once: a block of data
// (data points to its bytes) or a hole of zeros (data is null, nothing was read), at most block
// bytes of data at a time. piece returns 0 to go on or an error that stops the walk; the result
// is that error, a read's error, or 0 at the end. *size receives the bytes walked.
[[nodiscard]] std::uint32_t ReadExtents(
    ReadableFile& file, std::size_t block,
    const std::function<std::uint32_t(std::int64_t offset, const char* data, std::int64_t length)>&
        piece,
    std::int64_t* size);

// One directory entry as the enumeration yields it. Times are FILETIME ticks (100 ns since
// 1601-01-01), UTC. An entry with an error was seen but cannot be examined (it vanished, or its
// name cannot be a Windows path component): name holds its exact name, the other fields what
// could be told (possibly nothing).
struct DirectoryEntry {
  std::string name;
  std::uint32_t error = 0;
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
  // After Next gave false: 0 when every entry was yielded, else why the directory could not be
  // read (completely). A directory without a fitting entry is not an error.
  [[nodiscard]] virtual std::uint32_t Error() const { return 0; }
};

// One open directory of a walk. Its entries are enumerated, opened and entered by their exact
// names as an enumeration yielded them; a name is never taken apart as a path. A name holding '\'
// is refused with kInvalidName. Enumerations made from it stay valid after it is destroyed.
class Directory {
 public:
  Directory() = default;
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;
  virtual ~Directory() = default;

  // The entries whose names fit pattern, as FileSystem::EnumerateDirectory.
  [[nodiscard]] virtual std::unique_ptr<DirectoryEnumeration> Enumerate(
      std::string_view pattern) = 0;
  // Opens the entry name for reading, as FileSystem::OpenForReading. Only a regular file is
  // opened: anything else fails (kNotARegularFile, kLinkNotFollowed where the layer refuses to
  // follow links of an enumerated tree, kAccessDenied for a directory).
  [[nodiscard]] virtual std::unique_ptr<ReadableFile> OpenFile(std::string_view name,
                                                               FileShare share,
                                                               std::uint32_t* error) = 0;
  // Opens the subdirectory name; null with the reason in *error when it cannot be opened.
  [[nodiscard]] virtual std::unique_ptr<Directory> OpenSubdirectory(std::string_view name,
                                                                    std::uint32_t* error) = 0;
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
  // "." and ".." are yielded where the platform has them. A missing directory yields nothing
  // (and the enumeration's Error tells why).
  [[nodiscard]] virtual std::unique_ptr<DirectoryEnumeration> EnumerateDirectory(
      std::string_view directory, std::string_view pattern) = 0;
  // Opens a directory named by a path for a walk; null with the reason in *error (when not null)
  // when it cannot be opened. The default opens nothing itself: it names the entries by their
  // paths through the calls above (right where a name cannot hold a separator), so a missing
  // directory shows only in its enumerations' Error.
  [[nodiscard]] virtual std::unique_ptr<Directory> OpenDirectory(std::string_view path,
                                                                 std::uint32_t* error);
  // Converts a UTC FILETIME tick count to local time, in the same unit.
  [[nodiscard]] virtual std::int64_t ToLocalFileTime(std::int64_t utcTicks) = 0;
};

}  // namespace lk
