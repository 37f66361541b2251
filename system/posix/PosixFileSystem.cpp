#include "system/posix/PosixFileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <utility>
#include <vector>

#include "base/TextCase.h"
#include "base/Utf8.h"
#include "system/posix/HostPathMap.h"

namespace lk {
namespace {

using namespace file_error;

// Seconds from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
constexpr std::int64_t kEpochDifference = 11644473600;
constexpr std::int64_t kTicksPerSecond = 10000000;

std::int64_t FileTimeTicks(const timespec& time) {
  return (static_cast<std::int64_t>(time.tv_sec) + kEpochDifference) * kTicksPerSecond +
         static_cast<std::int64_t>(time.tv_nsec) / 100;
}

// The length of the character that starts at name[i]: its UTF-8 sequence, or 1 for a byte that
// does not start a valid one, so a name in another encoding ("caf\xE9.txt") is taken byte by
// byte and its dot is never jumped over.
std::size_t CharLength(std::string_view name, std::size_t i) {
  const std::size_t length = Utf8SequenceLength(name, i);
  return length == 0 ? 1 : length;
}

// Opening never waits (a pipe without a writer would block open) and never makes the file the
// process's terminal; whether it is a regular file is checked on the open descriptor.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

bool HasBackslash(std::string_view name) { return name.find('\\') != std::string_view::npos; }

// A file open for reading; pread keeps no position, so reads never disturb each other.
class PosixReadableFile final : public ReadableFile {
 public:
  explicit PosixReadableFile(int descriptor) : owner_(descriptor), descriptor_(descriptor) {}

  std::int64_t Size() override {
    struct stat status {};
    if (::fstat(descriptor_, &status) != 0) return -1;
    const std::int64_t size = status.st_size;
    return size;
  }

  ReadResult ReadAt(std::int64_t offset, void* buffer, std::size_t length) override {
    if (offset < 0) return ReadResult{0, kInvalidParameter};
    auto* bytes = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
      const off_t position = offset + static_cast<std::int64_t>(done);
      const ssize_t got = ::pread(descriptor_, bytes + done, length - done, position);
      if (got < 0) {
        if (errno == EINTR) continue;
        return ReadResult{done, WindowsErrorFromErrno(errno)};
      }
      if (got == 0) break;  // end of file
      done += static_cast<std::size_t>(got);
    }
    return ReadResult{done, 0};
  }

  std::int64_t DataFrom(std::int64_t offset) override {
    const off_t data = ::lseek(descriptor_, offset, SEEK_DATA);
    if (data >= 0) return data;
    // ENXIO: nothing but a hole from offset on; any other error: the layer tells no holes.
    return errno == ENXIO ? std::max(Size(), offset) : offset;
  }

  std::int64_t HoleFrom(std::int64_t offset) override {
    const off_t hole = ::lseek(descriptor_, offset, SEEK_HOLE);
    return hole >= 0 ? hole : Size();
  }

 private:
  UniqueDescriptor owner_;
  int descriptor_;
};

// Checks the open descriptor and hands it on as a readable file: only a regular file is read.
std::unique_ptr<ReadableFile> ReadableRegularFile(int descriptor, std::uint32_t* error) {
  auto file = std::make_unique<PosixReadableFile>(descriptor);
  struct stat status {};
  std::uint32_t code = 0;
  if (::fstat(descriptor, &status) != 0) {
    code = WindowsErrorFromErrno(errno);
  } else if (S_ISDIR(status.st_mode)) {
    // CreateFile opens a directory only with backup semantics, which readers never ask for.
    code = kAccessDenied;
  } else if (!S_ISREG(status.st_mode)) {
    code = kNotARegularFile;
  }
  if (code == 0) return file;
  if (error != nullptr) *error = code;
  return nullptr;
}

// An enumeration that could not even start.
class FailedEnumeration final : public DirectoryEnumeration {
 public:
  explicit FailedEnumeration(std::uint32_t error) : error_(error) {}
  bool Next(DirectoryEntry& /*entry*/) override { return false; }
  std::uint32_t Error() const override { return error_; }

 private:
  std::uint32_t error_;
};

// The pattern in FindFirstFile's form: "*.*" is plain '*'; otherwise '?' becomes DOS_QM, a '.'
// before a wildcard DOS_DOT, a '*' before a '.' DOS_STAR, and trailing dots are dropped ("*."
// fits the names without a dot). These carry the DOS rules ("a?.txt" fits "a.txt").
enum class PatternToken : unsigned char { Literal, Star, DosStar, DosQm, DosDot };

struct PatternItem {
  PatternToken token;
  char literal;
};

std::vector<PatternItem> CompilePattern(std::string_view pattern) {
  if (pattern == "*.*") return {{PatternToken::Star, '*'}};
  std::size_t kept = pattern.find_last_not_of('.');
  kept = kept == std::string_view::npos ? pattern.size() : kept + 1;
  std::vector<PatternItem> items;
  for (std::size_t i = 0; i < kept; ++i) {
    const char c = pattern[i];
    const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    if (c == '?') {
      items.push_back({PatternToken::DosQm, c});
    } else if (c == '*') {
      items.push_back({next == '.' ? PatternToken::DosStar : PatternToken::Star, c});
    } else if (c == '.' && (next == '?' || next == '*')) {
      items.push_back({PatternToken::DosDot, c});
    } else {
      items.push_back({PatternToken::Literal, FoldAscii(c)});
    }
  }
  return items;
}

class PatternMatcher {
 public:
  PatternMatcher(std::string_view name, const std::vector<PatternItem>& items)
      : name_(name),
        items_(items),
        lastDot_(name.rfind('.')),
        failed_((items.size() + 1) * (name.size() + 1), false) {}

  bool Match(std::size_t p, std::size_t n) {
    if (p == items_.size()) return n == name_.size();
    const std::size_t memo = p * (name_.size() + 1) + n;
    if (failed_[memo]) return false;
    const bool result = Step(p, n);
    if (!result) failed_[memo] = true;
    return result;
  }

 private:
  bool Step(std::size_t p, std::size_t n) {
    const bool atEnd = n == name_.size();
    switch (items_[p].token) {
      case PatternToken::Literal:
        return !atEnd && FoldAscii(name_[n]) == items_[p].literal && Match(p + 1, n + 1);
      case PatternToken::Star:
        for (std::size_t k = n;; k += CharLength(name_, k)) {
          if (Match(p + 1, k)) return true;
          if (k == name_.size()) return false;
        }
      case PatternToken::DosStar:
        // Any characters, but never the name's last dot.
        for (std::size_t k = n;; k += CharLength(name_, k)) {
          if (Match(p + 1, k)) return true;
          if (k == name_.size() || k == lastDot_) return false;
        }
      case PatternToken::DosQm: {
        if (atEnd || name_[n] == '.') {
          // At a dot or the end, the whole run of DOS_QMs fits nothing.
          std::size_t q = p;
          while (q < items_.size() && items_[q].token == PatternToken::DosQm) ++q;
          return Match(q, n);
        }
        return Match(p + 1, n + CharLength(name_, n));
      }
      case PatternToken::DosDot:
        if (atEnd) return Match(p + 1, n);
        return name_[n] == '.' && Match(p + 1, n + 1);
    }
    return false;
  }

  std::string_view name_;
  const std::vector<PatternItem>& items_;
  std::size_t lastDot_;
  std::vector<bool> failed_;
};

}  // namespace

bool FitsWindowsPattern(std::string_view name, std::string_view pattern) {
  if (pattern.empty()) return false;
  const auto items = CompilePattern(pattern);
  return PatternMatcher(name, items).Match(0, 0);
}

PosixFileSystem::PosixFileSystem(std::string hostRoot, std::string drive)
    : paths_(std::move(hostRoot), std::move(drive)) {}

void PosixFileSystem::SetPathMapping(std::function<std::string(std::string_view)> mapping) {
  paths_.SetPathMapping(std::move(mapping));
}

void PosixFileSystem::SetLocked(std::string_view windowsPath, bool locked) {
  const auto parsed = paths_.Parse(windowsPath, false);
  if (!parsed) return;
  if (locked) {
    locked_.insert(HostPathMap::Key(*parsed));
  } else {
    locked_.erase(HostPathMap::Key(*parsed));
  }
}

void PosixFileSystem::SetHidden(std::string_view windowsPath, bool hidden) {
  const auto parsed = paths_.Parse(windowsPath, false);
  if (!parsed) return;
  if (hidden) {
    hidden_.insert(HostPathMap::Key(*parsed));
  } else {
    hidden_.erase(HostPathMap::Key(*parsed));
  }
}

std::optional<std::string> PosixFileSystem::ResolveHostPath(std::string_view windowsPath,
                                                            std::uint32_t* error) const {
  return paths_.ResolveHostPath(windowsPath, error);
}

std::unique_ptr<ReadableFile> PosixFileSystem::OpenForReading(std::string_view path,
                                                              FileShare /*share*/,
                                                              std::uint32_t* error) {
  const auto fail = [&](std::uint32_t code) -> std::unique_ptr<ReadableFile> {
    if (error != nullptr) *error = code;
    return nullptr;
  };
  std::uint32_t walkError = 0;
  auto entry = paths_.Walk(path, &walkError);
  if (!entry) return fail(walkError == kInvalidName ? kAccessDenied : walkError);
  if (!entry->exists) return fail(kFileNotFound);
  if (locked_.count(HostPathMap::Key(*paths_.Parse(path, true))) != 0)
    return fail(kSharingViolation);
  // Opening a device can already act on it: refuse what is not a regular file before opening.
  struct stat status {};
  if (::fstatat(entry->folder.Get(), entry->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return fail(WindowsErrorFromErrno(errno));
  }
  if (S_ISLNK(status.st_mode)) return fail(kLinkNotFollowed);
  if (S_ISDIR(status.st_mode)) return fail(kAccessDenied);
  if (!S_ISREG(status.st_mode)) return fail(kNotARegularFile);
  // O_NOFOLLOW: the entry may have been swapped for a link since it was examined.
  const int descriptor =
      ::openat(entry->folder.Get(), entry->name.c_str(), kReadFlags | O_NOFOLLOW);
  if (descriptor < 0) return fail(WindowsErrorFromErrno(errno));
  return ReadableRegularFile(descriptor, error);
}

// One host directory held open. Enumerations share its descriptor and read the names at once;
// each entry is examined when it is yielded, relative to the descriptor.
class PosixDirectory final : public Directory {
 public:
  // key: the lower-cased Windows path of the directory below the drive, as PosixFileSystem::Key.
  PosixDirectory(const PosixFileSystem& owner, int descriptor, std::string key, bool isRoot)
      : owner_(owner),
        descriptor_(std::make_shared<UniqueDescriptor>(descriptor)),
        key_(std::move(key)),
        isRoot_(isRoot) {}

  std::unique_ptr<DirectoryEnumeration> Enumerate(std::string_view pattern) override {
    if (pattern.empty()) return std::make_unique<FailedEnumeration>(0);
    std::vector<std::string> names;
    // The drive's root has no "." and ".." on Windows.
    if (!isRoot_) {
      for (const char* dots : {".", ".."}) {
        if (FitsWindowsPattern(dots, pattern)) names.emplace_back(dots);
      }
    }
    const std::size_t dotCount = names.size();
    // fdopendir takes the descriptor it is given: hand it a duplicate to keep ours.
    UniqueDescriptor copy(::fcntl(descriptor_->Get(), F_DUPFD_CLOEXEC, 0));
    if (!copy) return std::make_unique<FailedEnumeration>(WindowsErrorFromErrno(errno));
    const UniqueDirectoryStream handle = OpenDirectoryStream(std::move(copy));
    if (!handle) return std::make_unique<FailedEnumeration>(WindowsErrorFromErrno(errno));
    ::rewinddir(handle.Get());
    std::uint32_t error = 0;
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(handle.Get());
      if (entry == nullptr) {
        if (errno != 0) error = WindowsErrorFromErrno(errno);
        break;
      }
      const std::string_view name = entry->d_name;
      if (name != "." && name != ".." && FitsWindowsPattern(name, pattern)) {
        names.emplace_back(name);
      }
    }
    std::sort(names.begin() + static_cast<std::ptrdiff_t>(dotCount), names.end(),
              [](const std::string& a, const std::string& b) {
                const std::string la = FoldedAscii(a);
                const std::string lb = FoldedAscii(b);
                return la != lb ? la < lb : a < b;
              });
    return std::make_unique<Enumeration>(*this, std::move(names), error);
  }

  std::unique_ptr<ReadableFile> OpenFile(std::string_view name, FileShare /*share*/,
                                         std::uint32_t* error) override {
    const auto fail = [&](std::uint32_t code) -> std::unique_ptr<ReadableFile> {
      if (error != nullptr) *error = code;
      return nullptr;
    };
    if (HasBackslash(name)) return fail(kInvalidName);
    const std::string exact(name);
    if (owner_.locked_.count(EntryKey(exact)) != 0) return fail(kSharingViolation);
    struct stat status {};
    if (::fstatat(descriptor_->Get(), exact.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      return fail(WindowsErrorFromErrno(errno));
    }
    if (S_ISLNK(status.st_mode)) return fail(kLinkNotFollowed);
    if (S_ISDIR(status.st_mode)) return fail(kAccessDenied);
    if (!S_ISREG(status.st_mode)) return fail(kNotARegularFile);
    // O_NOFOLLOW: the entry may have been swapped for a link since it was examined.
    const int descriptor = ::openat(descriptor_->Get(), exact.c_str(), kReadFlags | O_NOFOLLOW);
    if (descriptor < 0) return fail(WindowsErrorFromErrno(errno));
    return ReadableRegularFile(descriptor, error);
  }

  std::unique_ptr<Directory> OpenSubdirectory(std::string_view name,
                                              std::uint32_t* error) override {
    const auto fail = [&](std::uint32_t code) -> std::unique_ptr<Directory> {
      if (error != nullptr) *error = code;
      return nullptr;
    };
    if (HasBackslash(name)) return fail(kInvalidName);
    const std::string exact(name);
    if (exact == "." || exact == "..") return fail(kInvalidName);
    const int descriptor =
        ::openat(descriptor_->Get(), exact.c_str(), kReadFlags | O_DIRECTORY | O_NOFOLLOW);
    if (descriptor < 0) {
      if (errno != ENOTDIR) return fail(WindowsErrorFromErrno(errno));
      // O_DIRECTORY answers a link with ENOTDIR too: tell the two apart.
      struct stat status {};
      const bool link =
          ::fstatat(descriptor_->Get(), exact.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(status.st_mode);
      return fail(link ? kLinkNotFollowed : kNotADirectory);
    }
    return std::make_unique<PosixDirectory>(owner_, descriptor, EntryKey(exact), false);
  }

 private:
  class Enumeration final : public DirectoryEnumeration {
   public:
    Enumeration(const PosixDirectory& directory, std::vector<std::string> names,
                std::uint32_t error)
        : owner_(directory.owner_),
          descriptor_(directory.descriptor_),
          key_(directory.key_),
          names_(std::move(names)),
          error_(error) {}

    bool Next(DirectoryEntry& entry) override {
      if (next_ >= names_.size()) return false;
      entry = Describe(names_[next_++]);
      return true;
    }

    std::uint32_t Error() const override { return next_ >= names_.size() ? error_ : 0; }

   private:
    DirectoryEntry Describe(const std::string& name) const {
      DirectoryEntry entry;
      entry.name = name;
      const int directory = descriptor_->Get();
      const bool dots = name == "." || name == "..";
      struct stat status {};
      if (::fstatat(directory, name.c_str(), &status, dots ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
        // Listed a moment ago, gone now (or unreadable): say so rather than leave it out.
        entry.error = WindowsErrorFromErrno(errno);
        return entry;
      }
      if (S_ISLNK(status.st_mode)) {
        struct stat target {};
        const bool toDirectory =
            ::fstatat(directory, name.c_str(), &target, 0) == 0 && S_ISDIR(target.st_mode);
        entry.attributes = file_attribute::kReparsePoint |
                           (toDirectory ? file_attribute::kDirectory : file_attribute::kArchive);
      } else if (S_ISDIR(status.st_mode)) {
        entry.attributes = file_attribute::kDirectory;
      } else {
        entry.attributes = file_attribute::kArchive;
        entry.size = status.st_size;
        if ((status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
          entry.attributes |= file_attribute::kReadOnly;
        }
      }
      if (owner_.hidden_.count(key_ + "\\" + FoldedAscii(name)) != 0) {
        entry.attributes |= file_attribute::kHidden;
      }
      entry.creationTime = FileTimeTicks(status.st_ctim);
      entry.lastAccessTime = FileTimeTicks(status.st_atim);
      entry.lastWriteTime = FileTimeTicks(status.st_mtim);
      // Such a name would read as two components in every Windows path built from it.
      if (HasBackslash(name)) entry.error = kInvalidName;
      return entry;
    }

    const PosixFileSystem& owner_;
    std::shared_ptr<const UniqueDescriptor> descriptor_;
    std::string key_;
    std::vector<std::string> names_;
    std::uint32_t error_;
    std::size_t next_ = 0;
  };

  [[nodiscard]] std::string EntryKey(const std::string& name) const {
    return key_ + "\\" + FoldedAscii(name);
  }

  const PosixFileSystem& owner_;
  std::shared_ptr<const UniqueDescriptor> descriptor_;
  std::string key_;
  bool isRoot_;
};

std::unique_ptr<Directory> PosixFileSystem::OpenDirectory(std::string_view path,
                                                          std::uint32_t* error) {
  const auto fail = [&](std::uint32_t code) -> std::unique_ptr<Directory> {
    if (error != nullptr) *error = code;
    return nullptr;
  };
  const auto parsed = paths_.Parse(path, true);
  if (!parsed) return fail(kPathNotFound);
  std::uint32_t walkError = 0;
  UniqueDescriptor folder = paths_.OpenFolder(path, &walkError);
  if (!folder) {
    if (walkError == kPathNotFound && !parsed->components.empty()) {
      // A file where the folder should be is no missing path.
      std::uint32_t entryError = 0;
      if (auto entry = paths_.Walk(path, &entryError); entry && entry->exists) {
        return fail(kNotADirectory);
      }
    }
    return fail(walkError);
  }
  return std::make_unique<PosixDirectory>(*this, folder.Release(), HostPathMap::Key(*parsed),
                                          parsed->components.empty() && !parsed->host);
}

std::unique_ptr<DirectoryEnumeration> PosixFileSystem::EnumerateDirectory(
    std::string_view directory, std::string_view pattern) {
  std::uint32_t error = 0;
  const auto opened = OpenDirectory(directory, &error);
  if (!opened) return std::make_unique<FailedEnumeration>(error);
  return opened->Enumerate(pattern);
}

std::int64_t PosixFileSystem::ToLocalFileTime(std::int64_t utcTicks) {
  std::int64_t seconds = utcTicks / kTicksPerSecond;
  if (utcTicks % kTicksPerSecond < 0) --seconds;  // floor for times before 1601
  const time_t unixSeconds = seconds - kEpochDifference;
  tm local{};
  if (::localtime_r(&unixSeconds, &local) == nullptr) return utcTicks;
  const std::int64_t offset = local.tm_gmtoff;
  return utcTicks + offset * kTicksPerSecond;
}

}  // namespace lk
