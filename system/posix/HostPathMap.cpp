#include "system/posix/HostPathMap.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <utility>

#include "base/TextCase.h"
#include "system/FileSystem.h"

namespace lk {
namespace {

using namespace file_error;

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// Whether others than root and the effective user may change what the folder holds: its owner
// is someone else, or group or others may write to it without the sticky bit that keeps them
// from renaming entries they do not own. With the sticky bit, the entry below must be ours.
bool ChangeableByOthers(const struct stat& folder, const struct stat* below) {
  if (folder.st_uid != 0 && folder.st_uid != ::geteuid()) return true;
  if ((folder.st_mode & (S_IWGRP | S_IWOTH)) == 0) return false;
  if ((folder.st_mode & S_ISVTX) == 0) return true;
  return below != nullptr && below->st_uid != 0 && below->st_uid != ::geteuid();
}

}  // namespace

std::optional<std::string> FindEntryIn(int folder, const std::string& name,
                                       std::uint32_t* refusal) {
  struct stat status {};
  if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) return name;
  if (errno == ENAMETOOLONG || errno == EACCES) {
    *refusal = WindowsErrorFromErrno(errno);
    return std::nullopt;
  }
  const std::vector<std::string> twins = CaseTwinsIn(folder, name);
  if (twins.empty()) return std::nullopt;
  return twins.front();
}

std::vector<std::string> CaseTwinsIn(int folder, const std::string& name) {
  std::vector<std::string> twins;
  // A listing of its own: the folder's descriptor keeps its position for others.
  const UniqueDirectoryStream handle = OpenDirectoryStream(
      UniqueDescriptor(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
  if (!handle) return twins;
  const std::string wanted = FoldedAscii(name);
  while (const dirent* entry = ::readdir(handle.Get())) {
    const std::string candidate = entry->d_name;
    if (candidate != "." && candidate != ".." && FoldedAscii(candidate) == wanted) {
      twins.push_back(candidate);
    }
  }
  std::sort(twins.begin(), twins.end());
  // The exact spelling first, as a lookup prefers it.
  const auto exact = std::find(twins.begin(), twins.end(), name);
  if (exact != twins.end()) std::rotate(twins.begin(), exact, exact + 1);
  return twins;
}

std::uint32_t WindowsErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return kFileNotFound;
    case ENOTDIR:
      return kPathNotFound;
    case ELOOP:
      return kLinkNotFollowed;
    case ENXIO:
      return kNotARegularFile;
    case EACCES:
    case EPERM:
    case EISDIR:
      return kAccessDenied;
    case EMFILE:
    case ENFILE:
      return kTooManyOpenFiles;
    case ENAMETOOLONG:
      return kFilenameTooLong;
    default:
      return kReadFault;
  }
}

HostPathMap::HostPathMap(std::string hostRoot, std::string drive)
    : hostRoot_(std::move(hostRoot)), drive_(std::move(drive)) {
  // "R", "R/", "R//" and "./R" name one folder and give one spelling in every message.
  if (!hostRoot_.empty()) hostRoot_ = std::filesystem::path(hostRoot_).lexically_normal().string();
  while (hostRoot_.size() > 1 && hostRoot_.back() == '/') hostRoot_.pop_back();
  if (hostRoot_.empty()) hostRoot_ = ".";
  // The folder that stands for the drive is the one place where a link is followed: the user
  // named it.
  root_ = std::make_shared<UniqueDescriptor>(
      ::open(hostRoot_.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
}

void HostPathMap::SetPathMapping(std::function<std::string(std::string_view)> mapping) {
  mapping_ = std::move(mapping);
}

std::optional<HostPathMap::ParsedPath> HostPathMap::Parse(std::string_view windowsPath,
                                                          bool mapped) const {
  std::string path = mapped && mapping_ ? mapping_(windowsPath) : std::string(windowsPath);
  ParsedPath parsed;
  parsed.host = !path.empty() && path[0] == '/';
  std::replace(path.begin(), path.end(), '/', '\\');
  std::string_view rest = path;
  if (parsed.host) {
    rest.remove_prefix(1);
  } else if (rest.size() >= 2 && rest[1] == ':') {
    if (drive_.empty() || FoldAscii(rest[0]) != FoldAscii(drive_[0])) return std::nullopt;
    rest.remove_prefix(2);
  } else if (rest.substr(0, 2) == "\\\\") {
    return std::nullopt;  // device and network paths do not live on the drive
  }
  while (!rest.empty()) {
    const auto end = std::min(rest.find('\\'), rest.size());
    const std::string_view component = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (component.empty() || component == ".") continue;
    if (component == "..") {
      if (!parsed.components.empty()) parsed.components.pop_back();
      continue;
    }
    parsed.components.emplace_back(component);
  }
  return parsed;
}

std::string HostPathMap::Key(const ParsedPath& path) {
  std::string key = path.host ? "/" : "";
  for (const auto& component : path.components) {
    key += '\\';
    key += FoldedAscii(component);
  }
  return key;
}

UniqueDescriptor HostPathMap::WalkFolders(const ParsedPath& parsed, std::size_t count,
                                          std::uint32_t* error, std::string* hostFolder,
                                          std::vector<std::string>* spelled, bool trusted) const {
  const auto fail = [&](std::uint32_t code) {
    if (error != nullptr) *error = code;
    return UniqueDescriptor();
  };
  UniqueDescriptor current;
  std::string folder;
  if (parsed.host) {
    current = UniqueDescriptor(::open("/", kFolderFlags));
  } else {
    // A folder made after the map (a test's tree) is opened when it is first walked.
    current = *root_ ? UniqueDescriptor(::openat(root_->Get(), ".", kFolderFlags))
                     : UniqueDescriptor(::open(hostRoot_.c_str(),
                                               O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
    folder = hostRoot_;
  }
  if (!current) return fail(kPathNotFound);
  struct stat status {};
  if (::fstat(current.Get(), &status) != 0) return fail(WindowsErrorFromErrno(errno));
  const dev_t rootDevice = status.st_dev;
  for (std::size_t i = 0; i < count; ++i) {
    const bool last = i + 1 == parsed.components.size();
    std::uint32_t refusal = 0;
    const auto name = FindEntryIn(current.Get(), parsed.components[i], &refusal);
    if (refusal != 0) return fail(refusal);
    if (!name) return fail(last ? kFileNotFound : kPathNotFound);
    // Under the drive's folder, a folder with a case twin is two folders where Windows sees one:
    // whichever were walked, what the other holds would be left out unseen.
    if (!parsed.host && CaseTwinsIn(current.Get(), *name).size() > 1) {
      return fail(kDuplicateName);
    }
    UniqueDescriptor next(::openat(current.Get(), name->c_str(), kFolderFlags));
    if (!next) {
      const int cause = errno;
      struct stat entry {};
      if (cause == ELOOP ||
          (::fstatat(current.Get(), name->c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISLNK(entry.st_mode))) {
        return fail(kLinkNotFollowed);
      }
      return fail(cause == ENOTDIR ? kPathNotFound : WindowsErrorFromErrno(cause));
    }
    struct stat below {};
    if (::fstat(next.Get(), &below) != 0) return fail(WindowsErrorFromErrno(errno));
    if (parsed.host) {
      if (trusted && ChangeableByOthers(status, &below)) return fail(kAccessDenied);
    } else if (below.st_dev != rootDevice) {
      return fail(kLinkNotFollowed);  // a mount below the drive's folder leads elsewhere
    }
    folder += "/" + *name;
    if (spelled != nullptr) spelled->push_back(*name);
    current = std::move(next);
    status = below;
  }
  if (trusted && parsed.host && ChangeableByOthers(status, nullptr)) return fail(kAccessDenied);
  if (hostFolder != nullptr) *hostFolder = folder.empty() ? "/" : folder;
  return current;
}

std::optional<std::string> HostPathMap::ResolveHostPath(std::string_view windowsPath,
                                                        std::uint32_t* error) const {
  const auto parsed = Parse(windowsPath, true);
  if (!parsed) {
    if (error != nullptr) *error = kPathNotFound;
    return std::nullopt;
  }
  if (parsed->components.empty()) {
    std::string folder;
    if (!OpenFolder(windowsPath, error, &folder)) return std::nullopt;
    return folder;
  }
  auto entry = Walk(windowsPath, error);
  if (!entry) return std::nullopt;
  if (!entry->exists) {
    if (error != nullptr) *error = kFileNotFound;
    return std::nullopt;
  }
  return entry->hostFolder + "/" + entry->name;
}

std::optional<HostPathMap::WalkedEntry> HostPathMap::Walk(std::string_view windowsPath,
                                                          std::uint32_t* error,
                                                          bool trusted) const {
  const auto fail = [&](std::uint32_t code) -> std::optional<WalkedEntry> {
    if (error != nullptr) *error = code;
    return std::nullopt;
  };
  const auto parsed = Parse(windowsPath, true);
  if (!parsed) return fail(kPathNotFound);
  if (parsed->components.empty()) return fail(kInvalidName);
  WalkedEntry entry;
  std::uint32_t folderError = 0;
  entry.folder = WalkFolders(*parsed, parsed->components.size() - 1, &folderError,
                             &entry.hostFolder, &entry.spelled, trusted);
  if (!entry.folder) return fail(folderError == kFileNotFound ? kPathNotFound : folderError);
  const std::string& wanted = parsed->components.back();
  std::uint32_t refusal = 0;
  const auto existing = FindEntryIn(entry.folder.Get(), wanted, &refusal);
  if (refusal != 0) return fail(refusal);
  entry.name = existing.value_or(wanted);
  entry.exists = existing.has_value();
  return entry;
}

std::optional<std::string> HostPathMap::SpelledPath(std::string_view windowsPath) const {
  auto entry = Walk(windowsPath, nullptr);
  if (!entry || !entry->exists) return std::nullopt;
  std::string path = drive_;
  for (const std::string& part : entry->spelled) path += "\\" + part;
  return path + "\\" + entry->name;
}

UniqueDescriptor HostPathMap::OpenFolder(std::string_view windowsPath, std::uint32_t* error,
                                         std::string* hostFolder, bool trusted) const {
  const auto parsed = Parse(windowsPath, true);
  if (!parsed) {
    if (error != nullptr) *error = kPathNotFound;
    return UniqueDescriptor();
  }
  std::uint32_t walkError = 0;
  UniqueDescriptor folder =
      WalkFolders(*parsed, parsed->components.size(), &walkError, hostFolder, nullptr, trusted);
  if (!folder && error != nullptr) *error = walkError == kFileNotFound ? kPathNotFound : walkError;
  return folder;
}

}  // namespace lk
