#include "base/WindowsPath.h"

#include <algorithm>

namespace lk {

std::string AppendBackslash(std::string_view path) {
  std::string result(path);
  if (!result.empty() && result.back() != '\\') result.push_back('\\');
  return result;
}

std::string JoinPath(std::string_view dir, std::string_view name) {
  if (!dir.empty() && dir.front() == '/') {
    std::string result(dir);
    if (result.back() != '/') result += '/';
    result.append(name);
    return result;
  }
  std::string result = AppendBackslash(dir);
  result.append(name);
  return result;
}

std::string_view ParentPath(std::string_view path) {
  const std::size_t slash = path.rfind('\\');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

std::string_view ParentFolder(std::string_view folder) {
  if (folder.size() < 2) return {};
  // Start before the last byte: a trailing '\' belongs to the folder itself.
  const std::size_t slash = folder.find_last_of('\\', folder.size() - 2);
  return slash == std::string_view::npos ? std::string_view() : folder.substr(0, slash + 1);
}

std::string_view FileNamePart(std::string_view path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> PathParts(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

}  // namespace lk
