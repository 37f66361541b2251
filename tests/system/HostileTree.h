#pragma once
// Helpers for tests that build hostile trees on the host: folders nested deeper than PATH_MAX
// (made and removed relative to descriptors, as no path reaches their bottom), and a scope in
// which the test runs without root's right to read everything, so a folder with mode 000 is
// really unreadable.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace lk::test {

// Makes depth nested folders named component below root and writes content into a file named
// fileName at the bottom. Returns false when the host refuses.
inline bool MakeDeepTree(const std::string& root, int depth, const std::string& component,
                         const std::string& fileName, const std::string& content) {
  int current = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (current < 0) return false;
  for (int level = 0; level < depth; ++level) {
    if (::mkdirat(current, component.c_str(), 0755) != 0 && errno != EEXIST) {
      ::close(current);
      return false;
    }
    const int next = ::openat(current, component.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(current);
    if (next < 0) return false;
    current = next;
  }
  const int file = ::openat(current, fileName.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ::close(current);
  if (file < 0) return false;
  const bool written =
      ::write(file, content.data(), content.size()) == static_cast<ssize_t>(content.size());
  ::close(file);
  return written;
}

// Removes everything below the folder open as descriptor, however deep.
inline void RemoveContents(int descriptor) {
  const int copy = ::dup(descriptor);
  if (copy < 0) return;
  DIR* handle = ::fdopendir(copy);
  if (handle == nullptr) {
    ::close(copy);
    return;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(handle)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.emplace_back(entry->d_name);
    }
  }
  ::closedir(handle);
  for (const std::string& name : names) {
    struct stat status {};
    if (::fstatat(descriptor, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(status.st_mode)) {
      ::fchmodat(descriptor, name.c_str(), 0755, 0);
      const int child = ::openat(descriptor, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (child >= 0) {
        RemoveContents(child);
        ::close(child);
      }
      ::unlinkat(descriptor, name.c_str(), AT_REMOVEDIR);
    } else {
      ::unlinkat(descriptor, name.c_str(), 0);
    }
  }
}

// Removes the folder root and everything in it, however deep.
inline void RemoveTree(const std::string& root) {
  const int descriptor = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return;
  RemoveContents(descriptor);
  ::close(descriptor);
  ::rmdir(root.c_str());
}

// While it lives, file access is checked as for the user nobody when the test runs as root
// (root reads folders whatever their mode); for any other user nothing changes.
class ScopedUnprivileged {
 public:
  ScopedUnprivileged() {
    if (::geteuid() == 0) dropped_ = ::seteuid(kNobody) == 0;
  }
  ~ScopedUnprivileged() {
    if (dropped_) static_cast<void>(::seteuid(0));
  }
  ScopedUnprivileged(const ScopedUnprivileged&) = delete;
  ScopedUnprivileged& operator=(const ScopedUnprivileged&) = delete;

  // Whether access checks now apply: false only if root could not give up its rights.
  [[nodiscard]] bool Applies() const { return dropped_ || ::geteuid() != 0; }

 private:
  static constexpr uid_t kNobody = 65534;
  bool dropped_ = false;
};

}  // namespace lk::test
