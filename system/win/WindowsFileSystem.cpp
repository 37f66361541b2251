#include "system/win/WindowsFileSystem.h"

#include <algorithm>
#include <string>

#include "base/WindowsPath.h"
#include "system/win/UniqueHandle.h"
#include "win32/Utf.h"

namespace lk {

namespace {

std::int64_t Join(DWORD high, DWORD low) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
}

std::int64_t Ticks(const FILETIME& time) { return Join(time.dwHighDateTime, time.dwLowDateTime); }

// One open file; reads carry their offset in an OVERLAPPED record, so no file pointer is shared
// between reads.
class WindowsReadableFile final : public ReadableFile {
 public:
  explicit WindowsReadableFile(UniqueFile file) : file_(std::move(file)) {}

  std::int64_t Size() override {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file_.Get(), &size)) return -1;
    return size.QuadPart;
  }

  ReadResult ReadAt(std::int64_t offset, void* buffer, std::size_t length) override {
    ReadResult result;
    if (offset < 0) {
      result.error = ERROR_NEGATIVE_SEEK;
      return result;
    }
    auto* target = static_cast<char*>(buffer);
    while (result.bytes < length) {
      // ReadFile counts in DWORD; keep each request well inside it.
      const auto chunk = static_cast<DWORD>(std::min<std::size_t>(length - result.bytes, 1u << 30));
      const auto position = static_cast<std::uint64_t>(offset) + result.bytes;
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
      at.OffsetHigh = static_cast<DWORD>(position >> 32);
      DWORD read = 0;
      if (!ReadFile(file_.Get(), target + result.bytes, chunk, &read, &at)) {
        const DWORD error = GetLastError();
        if (error != ERROR_HANDLE_EOF) result.error = error;
        return result;
      }
      if (read == 0) break;
      result.bytes += read;
    }
    return result;
  }

 private:
  UniqueFile file_;
};

class WindowsDirectoryEnumeration final : public DirectoryEnumeration {
 public:
  WindowsDirectoryEnumeration(const std::wstring& pattern, FindFirstFileForm& form) {
    const std::uint32_t error = form.Start([&](bool fast) -> std::uint32_t {
      search_.Reset(FindFirstFileExW(pattern.c_str(), fast ? FindExInfoBasic : FindExInfoStandard,
                                     &current_, FindExSearchNameMatch, nullptr,
                                     fast ? FIND_FIRST_EX_LARGE_FETCH : 0));
      return search_ ? 0 : GetLastError();
    });
    pending_ = static_cast<bool>(search_);
    // ERROR_FILE_NOT_FOUND: the directory is there, but no entry fits the pattern.
    if (!pending_ && error != ERROR_FILE_NOT_FOUND) error_ = error;
  }

  bool Next(DirectoryEntry& entry) override {
    if (!pending_) return false;
    entry.name = Utf8FromWide(current_.cFileName);
    entry.attributes = current_.dwFileAttributes;
    entry.size = Join(current_.nFileSizeHigh, current_.nFileSizeLow);
    entry.creationTime = Ticks(current_.ftCreationTime);
    entry.lastAccessTime = Ticks(current_.ftLastAccessTime);
    entry.lastWriteTime = Ticks(current_.ftLastWriteTime);
    pending_ = FindNextFileW(search_.Get(), &current_) != FALSE;
    if (!pending_) {
      const DWORD error = GetLastError();
      if (error != ERROR_NO_MORE_FILES) error_ = error;
      search_.Reset();
    }
    return true;
  }

  std::uint32_t Error() const override { return pending_ ? 0 : error_; }

 private:
  UniqueFind search_;
  WIN32_FIND_DATAW current_{};
  bool pending_ = false;
  std::uint32_t error_ = 0;
};

}  // namespace

std::unique_ptr<ReadableFile> WindowsFileSystem::OpenForReading(std::string_view path,
                                                                FileShare share,
                                                                std::uint32_t* error) {
  UniqueFile file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, static_cast<DWORD>(share),
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    if (error != nullptr) *error = GetLastError();
    return nullptr;
  }
  // A name such as "CON" or "COM1" in any folder opens a device, not the file of that name.
  if (GetFileType(file.Get()) != FILE_TYPE_DISK) {
    if (error != nullptr) *error = file_error::kNotARegularFile;
    return nullptr;
  }
  return std::make_unique<WindowsReadableFile>(std::move(file));
}

std::unique_ptr<DirectoryEnumeration> WindowsFileSystem::EnumerateDirectory(
    std::string_view directory, std::string_view pattern) {
  std::string search = directory.empty() ? std::string() : AppendBackslash(directory);
  search += pattern;
  return std::make_unique<WindowsDirectoryEnumeration>(WideFromUtf8(search), findForm_);
}

std::unique_ptr<Directory> WindowsFileSystem::OpenDirectory(std::string_view path,
                                                            std::uint32_t* error) {
  const auto fail = [&](std::uint32_t code) -> std::unique_ptr<Directory> {
    if (error != nullptr) *error = code;
    return nullptr;
  };
  const DWORD attributes = GetFileAttributesW(WideFromUtf8(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return fail(GetLastError());
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return fail(ERROR_DIRECTORY);
  // Names cannot hold '\' here, so the entries are named by their paths.
  return FileSystem::OpenDirectory(path, error);
}

std::int64_t WindowsFileSystem::ToLocalFileTime(std::int64_t utcTicks) {
  const auto raw = static_cast<std::uint64_t>(utcTicks);
  FILETIME utc{static_cast<DWORD>(raw & 0xFFFFFFFFu), static_cast<DWORD>(raw >> 32)};
  FILETIME local{};
  if (!FileTimeToLocalFileTime(&utc, &local)) return utcTicks;
  return Ticks(local);
}

}  // namespace lk
