#include "system/posix/HostPathMap.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "base/TextCase.h"
#include "system/FileSystem.h"

namespace lk {
namespace {

using namespace file_error;

// Finds the entry of directory named name without regard to case; the exact spelling wins, then
// the first in byte order, so the choice does not depend on the host's directory order. When the
// host refuses to look (the path is too long, the directory cannot be searched) *refusal receives
// the Windows error.
std::optional<std::string> FindEntry(const std::string& directory, const std::string& name,
                                     std::uint32_t* refusal) {
  struct stat status {};
  if (::lstat((directory + "/" + name).c_str(), &status) == 0) return name;
  if (errno == ENAMETOOLONG || errno == EACCES) {
    *refusal = WindowsErrorFromErrno(errno);
    return std::nullopt;
  }
  DIR* handle = ::opendir(directory.c_str());
  if (handle == nullptr) return std::nullopt;
  std::optional<std::string> found;
  const std::string wanted = FoldedAscii(name);
  while (const dirent* entry = ::readdir(handle)) {
    const std::string candidate = entry->d_name;
    if (FoldedAscii(candidate) == wanted && (!found || candidate < *found)) found = candidate;
  }
  ::closedir(handle);
  return found;
}

bool IsHostDirectory(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

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
  while (hostRoot_.size() > 1 && hostRoot_.back() == '/') hostRoot_.pop_back();
}

void HostPathMap::SetPathMapping(std::function<std::string(std::string_view)> mapping) {
  mapping_ = std::move(mapping);
}

std::optional<HostPathMap::ParsedPath> HostPathMap::Parse(std::string_view windowsPath,
                                                          bool mapped) const {
  std::string path = mapped && mapping_ ? mapping_(windowsPath) : std::string(windowsPath);
  std::replace(path.begin(), path.end(), '/', '\\');
  std::string_view rest = path;
  if (rest.size() >= 2 && rest[1] == ':') {
    if (drive_.empty() || FoldAscii(rest[0]) != FoldAscii(drive_[0])) return std::nullopt;
    rest.remove_prefix(2);
  } else if (rest.substr(0, 2) == "\\\\") {
    return std::nullopt;  // device and network paths do not live on the drive
  }
  ParsedPath parsed;
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
  std::string key;
  for (const auto& component : path.components) {
    key += '\\';
    key += FoldedAscii(component);
  }
  return key;
}

std::optional<std::string> HostPathMap::ResolveComponents(const ParsedPath& parsed,
                                                          std::size_t count,
                                                          std::uint32_t* error) const {
  const auto fail = [&](std::uint32_t code) -> std::optional<std::string> {
    if (error != nullptr) *error = code;
    return std::nullopt;
  };
  std::string host = hostRoot_;
  for (std::size_t i = 0; i < count; ++i) {
    const bool last = i + 1 == parsed.components.size();
    if (!IsHostDirectory(host)) return fail(kPathNotFound);
    std::uint32_t refusal = 0;
    const auto name = FindEntry(host, parsed.components[i], &refusal);
    if (refusal != 0) return fail(refusal);
    if (!name) return fail(last ? kFileNotFound : kPathNotFound);
    host += "/" + *name;
  }
  return host;
}

std::optional<std::string> HostPathMap::ResolveHostPath(std::string_view windowsPath,
                                                        std::uint32_t* error) const {
  const auto parsed = Parse(windowsPath, true);
  if (!parsed) {
    if (error != nullptr) *error = kPathNotFound;
    return std::nullopt;
  }
  return ResolveComponents(*parsed, parsed->components.size(), error);
}

std::optional<HostPathMap::HostEntry> HostPathMap::ResolveHostEntry(std::string_view windowsPath,
                                                                    std::uint32_t* error) const {
  const auto fail = [&](std::uint32_t code) -> std::optional<HostEntry> {
    if (error != nullptr) *error = code;
    return std::nullopt;
  };
  const auto parsed = Parse(windowsPath, true);
  if (!parsed) return fail(kPathNotFound);
  if (parsed->components.empty()) return fail(kInvalidName);
  std::uint32_t folderError = 0;
  const auto folder = ResolveComponents(*parsed, parsed->components.size() - 1, &folderError);
  if (!folder) return fail(folderError == kFileNotFound ? kPathNotFound : folderError);
  if (!IsHostDirectory(*folder)) return fail(kPathNotFound);
  const std::string& wanted = parsed->components.back();
  std::uint32_t refusal = 0;
  const auto existing = FindEntry(*folder, wanted, &refusal);
  if (refusal != 0) return fail(refusal);
  return HostEntry{*folder, existing.value_or(wanted), existing.has_value()};
}

}  // namespace lk
