#include "system/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "base/WindowsErrorTexts.h"
#include "base/WindowsPath.h"

namespace lk {

namespace {

// A directory named by its path: every call goes through the path operations of its file
// system. Right for layers on which a name cannot hold the separator, so that path + name is
// that entry and nothing else.
class PathDirectory final : public Directory {
 public:
  PathDirectory(FileSystem& files, std::string path)
      : files_(files), path_(AppendBackslash(path)) {}

  std::unique_ptr<DirectoryEnumeration> Enumerate(std::string_view pattern) override {
    return files_.EnumerateDirectory(path_, pattern);
  }

  std::unique_ptr<ReadableFile> OpenFile(std::string_view name, FileShare share,
                                         std::uint32_t* error) override {
    if (!IsComponent(name, error)) return nullptr;
    return files_.OpenForReading(path_ + std::string(name), share, error);
  }

  std::unique_ptr<Directory> OpenSubdirectory(std::string_view name,
                                              std::uint32_t* error) override {
    if (!IsComponent(name, error)) return nullptr;
    return files_.OpenDirectory(path_ + std::string(name), error);
  }

 private:
  static bool IsComponent(std::string_view name, std::uint32_t* error) {
    if (name.find('\\') == std::string_view::npos) return true;
    if (error != nullptr) *error = file_error::kInvalidName;
    return false;
  }

  FileSystem& files_;
  std::string path_;
};

}  // namespace

std::string DescribeFileError(std::uint32_t error) {
  const std::string_view reason = EnglishFileReason(error);
  return reason.empty() ? "error " + std::to_string(error) : std::string(reason);
}

std::string DescribeFileErrorInGerman(std::uint32_t error) {
  const std::string_view reason = GermanFileReason(error);
  return reason.empty() ? "Fehler " + std::to_string(error) : std::string(reason);
}

std::string DescribeErrnoInGerman(int error) {
  switch (error) {
    case ENOENT:
      return "existiert nicht";
    case EACCES:
    case EPERM:
      return "Zugriff verweigert";
    case EIO:
      return "Lesefehler";
    case ENOTDIR:
      return "kein Ordner";
    case EISDIR:
      return "ein Ordner";
    case ELOOP:
      return "symbolische Verknüpfung, nicht verfolgt";
    case ENAMETOOLONG:
      return "Pfad zu lang";
    case EMFILE:
    case ENFILE:
      return "zu viele offene Dateien";
    case EROFS:
      return "nur lesbar eingehängt";
    case ENOSPC:
      return "kein Platz mehr auf dem Laufwerk";
    case EBUSY:
      return "belegt";
    case ENXIO:
    case ENODEV:
      return "kein solches Gerät";
    case EFBIG:
      return "zu groß";
    default:
      return "Systemfehler " + std::to_string(error) + " (" + std::strerror(error) + ")";
  }
}

std::unique_ptr<Directory> FileSystem::OpenDirectory(std::string_view path,
                                                     std::uint32_t* /*error*/) {
  return std::make_unique<PathDirectory>(*this, std::string(path));
}

std::uint32_t ReadExtents(ReadableFile& file, std::size_t block,
                          const std::function<std::uint32_t(std::int64_t offset, const char* data,
                                                            std::int64_t length)>& piece,
                          std::int64_t* size) {
  std::string buffer(block, '\0');
  std::int64_t offset = 0;
  const std::int64_t known = file.Size();
  for (;;) {
    if (known > 0 && offset < known) {
      // A hole is told, not read; only up to the size known at the start, where the data ends.
      const std::int64_t data = std::min(file.DataFrom(offset), known);
      if (data > offset) {
        if (const std::uint32_t error = piece(offset, nullptr, data - offset)) return error;
        offset = data;
        continue;
      }
    }
    std::size_t want = block;
    if (known > 0 && offset < known) {
      const std::int64_t end = file.HoleFrom(offset);
      if (end > offset && end - offset < static_cast<std::int64_t>(want)) {
        want = static_cast<std::size_t>(end - offset);
      }
    }
    const ReadResult read = file.ReadAt(offset, buffer.data(), want);
    if (!read.Ok()) return read.error;
    if (read.bytes == 0) break;
    if (const std::uint32_t error =
            piece(offset, buffer.data(), static_cast<std::int64_t>(read.bytes))) {
      return error;
    }
    offset += static_cast<std::int64_t>(read.bytes);
  }
  if (size != nullptr) *size = offset;
  return 0;
}

}  // namespace lk
