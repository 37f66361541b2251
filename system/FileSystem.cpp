#include "system/FileSystem.h"

#include <utility>

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
  switch (error) {
    case file_error::kFileNotFound:
    case file_error::kPathNotFound:
      return "does not exist";
    case file_error::kTooManyOpenFiles:
      return "too many open files";
    case file_error::kAccessDenied:
      return "access denied";
    case file_error::kReadFault:
      return "read error";
    case file_error::kSharingViolation:
      return "in use by another program";
    case file_error::kInvalidName:
      return "name holds a backslash (not a valid Windows name)";
    case file_error::kFilenameTooLong:
      return "path too long";
    case file_error::kNotADirectory:
      return "not a directory";
    case file_error::kNotARegularFile:
      return "not a regular file (pipe, socket or device)";
    case file_error::kLinkNotFollowed:
      return "symbolic link, not followed";
    default:
      return "error " + std::to_string(error);
  }
}

std::unique_ptr<Directory> FileSystem::OpenDirectory(std::string_view path,
                                                     std::uint32_t* /*error*/) {
  return std::make_unique<PathDirectory>(*this, std::string(path));
}

}  // namespace lk
