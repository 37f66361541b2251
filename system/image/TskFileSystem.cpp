#include "system/image/TskFileSystem.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <mutex>
#include <vector>

#include "base/TextCase.h"
#include "base/Utf8.h"
#include "system/posix/PosixFileSystem.h"

namespace lk {

namespace {

using namespace file_error;

// The first inodes of an NTFS volume are its metadata files ($MFT ... $Extend and reserved).
constexpr TSK_INUM_T kFirstUserInode = 16;
constexpr std::uint32_t kReparseAttribute = file_attribute::kReparsePoint;
constexpr std::uint32_t kDosAttributes = file_attribute::kReadOnly | file_attribute::kHidden |
                                         file_attribute::kSystem | file_attribute::kArchive;
constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kEpochDifference = 11'644'473'600;  // seconds from 1601 to 1970

std::int64_t FileTimeTicks(std::int64_t seconds, std::uint32_t nanoseconds) {
  return (seconds + kEpochDifference) * kTicksPerSecond + nanoseconds / 100;
}

bool HasSeparator(std::string_view name) {
  return name.find('\\') != std::string_view::npos || name.find('/') != std::string_view::npos;
}

// One entry of a folder as the volume lists it.
struct Node {
  DirectoryEntry entry;
  TSK_INUM_T inode = 0;
  bool regular = false;
};

struct Listing {
  std::vector<Node> nodes;
  std::uint32_t error = 0;
};

// An enumeration of entries read before it was made.
class ListedEnumeration final : public DirectoryEnumeration {
 public:
  ListedEnumeration(std::vector<DirectoryEntry> entries, std::uint32_t error)
      : entries_(std::move(entries)), error_(error) {}
  bool Next(DirectoryEntry& entry) override {
    if (next_ >= entries_.size()) return false;
    entry = entries_[next_++];
    return true;
  }
  std::uint32_t Error() const override { return next_ >= entries_.size() ? error_ : 0; }

 private:
  std::vector<DirectoryEntry> entries_;
  std::uint32_t error_;
  std::size_t next_ = 0;
};

}  // namespace

struct TskFileSystem::State {
  std::shared_ptr<NtfsVolume> volume;
  std::map<TSK_INUM_T, std::shared_ptr<const Listing>> listings;  // under the volume's lock

  // A folder's entries, read once. Called with the volume's lock held.
  std::shared_ptr<const Listing> List(TSK_INUM_T inode) {
    if (auto known = listings.find(inode); known != listings.end()) return known->second;
    auto listing = std::make_shared<Listing>();
    TSK_FS_INFO* fs = volume->Tsk();
    tsk_error_reset();
    UniqueTskDirectory folder(tsk_fs_dir_open_meta(fs, inode));
    if (!folder) {
      listing->error = kReadFault;
    } else {
      const std::size_t count = tsk_fs_dir_getsize(folder.Get());
      for (std::size_t i = 0; i < count; ++i) {
        const TSK_FS_NAME* name = tsk_fs_dir_get_name(folder.Get(), i);
        if (name == nullptr || name->name == nullptr) {
          listing->error = kReadFault;
          continue;
        }
        const std::string_view text = name->name;
        if ((name->flags & TSK_FS_NAME_FLAG_UNALLOC) != 0 || text == "." || text == ".." ||
            name->meta_addr < kFirstUserInode || name->meta_addr == TSK_FS_ORPHANDIR_INUM(fs) ||
            name->meta_addr > fs->last_inum) {
          continue;
        }
        Node node;
        node.entry.name = std::string(text);
        node.inode = name->meta_addr;
        UniqueTskFile file(tsk_fs_dir_get(folder.Get(), i));
        if (!file || file->meta == nullptr) {
          node.entry.error = kReadFault;
          listing->nodes.push_back(std::move(node));
          continue;
        }
        const TSK_FS_META& meta = *file->meta;
        std::uint32_t attributes = 0;
        const TSK_FS_ATTR* standard =
            tsk_fs_file_attr_get_type(file.Get(), TSK_FS_ATTR_TYPE_NTFS_SI, 0, 0);
        unsigned char info[0x24] = {};
        if (standard != nullptr && standard->size >= static_cast<TSK_OFF_T>(sizeof(info)) &&
            tsk_fs_attr_read(standard, 0, reinterpret_cast<char*>(info), sizeof(info),
                             TSK_FS_FILE_READ_FLAG_NONE) == static_cast<ssize_t>(sizeof(info))) {
          attributes = static_cast<std::uint32_t>(info[0x20]) |
                       (static_cast<std::uint32_t>(info[0x21]) << 8U) |
                       (static_cast<std::uint32_t>(info[0x22]) << 16U) |
                       (static_cast<std::uint32_t>(info[0x23]) << 24U);
        }
        attributes &= kDosAttributes | kReparseAttribute;
        if (meta.type == TSK_FS_META_TYPE_DIR) {
          attributes |= file_attribute::kDirectory;
        } else {
          node.regular = meta.type == TSK_FS_META_TYPE_REG;
          node.entry.size = meta.size;
          if (attributes == 0) attributes = file_attribute::kNormal;
        }
        node.entry.attributes = attributes;
        node.entry.creationTime = FileTimeTicks(meta.crtime, meta.crtime_nano);
        node.entry.lastAccessTime = FileTimeTicks(meta.atime, meta.atime_nano);
        node.entry.lastWriteTime = FileTimeTicks(meta.mtime, meta.mtime_nano);
        if (HasSeparator(node.entry.name)) node.entry.error = kInvalidName;
        listing->nodes.push_back(std::move(node));
      }
    }
    tsk_error_reset();
    std::sort(listing->nodes.begin(), listing->nodes.end(), [](const Node& a, const Node& b) {
      const std::string la = FoldedAscii(a.entry.name);
      const std::string lb = FoldedAscii(b.entry.name);
      return la != lb ? la < lb : a.entry.name < b.entry.name;
    });
    listings.emplace(inode, listing);
    return listing;
  }

  [[nodiscard]] std::u16string Folded(std::string_view name) const {
    std::u16string units = Utf16FromUtf8(name);
    for (char16_t& unit : units) unit = static_cast<char16_t>(volume->Upcase(unit));
    return units;
  }

  // The entry of a listing named name: exactly so if there is one, else without regard to case.
  const Node* Find(const Listing& listing, std::string_view name, bool exactOnly) const {
    for (const Node& node : listing.nodes) {
      if (node.entry.name == name) return &node;
    }
    if (exactOnly) return nullptr;
    const std::u16string folded = Folded(name);
    for (const Node& node : listing.nodes) {
      if (Folded(node.entry.name) == folded) return &node;
    }
    return nullptr;
  }

  // Where a walk stands: a folder (node null: the root) or an entry of the last folder.
  struct Walked {
    std::vector<TSK_INUM_T> folders;  // the root first; the last one holds the entry
    std::string spelled = "C:";
    std::optional<Node> node;  // nullopt: the path is the root
  };

  // Resolves a Windows path of drive C:. Called with the volume's lock held.
  std::optional<Walked> Walk(std::string_view path, std::uint32_t* error) {
    if (path.size() >= 2 && path[1] == ':') {
      if (FoldAscii(path[0]) != 'c') {
        *error = kPathNotFound;
        return std::nullopt;
      }
      path.remove_prefix(2);
    }
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
      if (i == path.size() || path[i] == '\\' || path[i] == '/') {
        if (i > start) parts.push_back(path.substr(start, i - start));
        start = i + 1;
      }
    }
    Walked walked;
    walked.folders.push_back(volume->Tsk()->root_inum);
    for (std::size_t i = 0; i < parts.size(); ++i) {
      const bool last = i + 1 == parts.size();
      if (parts[i] == "." || parts[i] == "..") {
        *error = kInvalidName;
        return std::nullopt;
      }
      if (walked.node) {
        // The entry before this part must be a folder to go on.
        const Node& through = *walked.node;
        if ((through.entry.attributes & kReparseAttribute) != 0) {
          *error = kLinkNotFollowed;
          return std::nullopt;
        }
        if (!through.entry.IsDirectory()) {
          *error = kPathNotFound;
          return std::nullopt;
        }
        if (std::find(walked.folders.begin(), walked.folders.end(), through.inode) !=
            walked.folders.end()) {
          *error = kLinkNotFollowed;
          return std::nullopt;
        }
        walked.folders.push_back(through.inode);
      }
      const std::shared_ptr<const Listing> listing = List(walked.folders.back());
      const Node* found = Find(*listing, parts[i], false);
      if (found == nullptr) {
        *error = listing->error != 0 ? listing->error : last ? kFileNotFound : kPathNotFound;
        return std::nullopt;
      }
      if (found->entry.error != 0) {
        *error = found->entry.error;
        return std::nullopt;
      }
      walked.node = *found;
      walked.spelled += "\\" + found->entry.name;
    }
    return walked;
  }
};

namespace {

using State = TskFileSystem::State;

// One file's default data stream.
class TskReadableFile final : public ReadableFile {
 public:
  TskReadableFile(std::shared_ptr<State> state, UniqueTskFile file, std::int64_t size)
      : state_(std::move(state)), file_(std::move(file)), size_(size) {}
  ~TskReadableFile() override {
    const std::lock_guard<std::mutex> hold(state_->volume->Lock());
    file_.Reset();
  }

  std::int64_t Size() override { return size_; }

  ReadResult ReadAt(std::int64_t offset, void* buffer, std::size_t length) override {
    if (offset < 0) return {0, kInvalidParameter};
    if (offset >= size_ || length == 0) return {0, 0};
    const std::size_t wanted = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(length), size_ - offset));
    const std::lock_guard<std::mutex> hold(state_->volume->Lock());
    std::size_t done = 0;
    while (done < wanted) {
      const ssize_t got = tsk_fs_file_read(file_.Get(), offset + static_cast<std::int64_t>(done),
                                           static_cast<char*>(buffer) + done, wanted - done,
                                           TSK_FS_FILE_READ_FLAG_NONE);
      if (got <= 0) {
        tsk_error_reset();
        return {done, kReadFault};
      }
      done += static_cast<std::size_t>(got);
    }
    return {done, 0};
  }

 private:
  std::shared_ptr<State> state_;
  UniqueTskFile file_;
  std::int64_t size_;
};

// Opens a node of a listing as a file. Called with the volume's lock held.
std::unique_ptr<ReadableFile> OpenNode(const std::shared_ptr<State>& state, const Node& node,
                                       std::uint32_t* error) {
  const auto fail = [&](std::uint32_t code) -> std::unique_ptr<ReadableFile> {
    if (error != nullptr) *error = code;
    return nullptr;
  };
  if (node.entry.error != 0) return fail(node.entry.error);
  if ((node.entry.attributes & kReparseAttribute) != 0) return fail(kLinkNotFollowed);
  if (node.entry.IsDirectory()) return fail(kAccessDenied);
  if (!node.regular) return fail(kNotARegularFile);
  UniqueTskFile file(tsk_fs_file_open_meta(state->volume->Tsk(), nullptr, node.inode));
  if (!file || file->meta == nullptr) {
    tsk_error_reset();
    return fail(kReadFault);
  }
  const std::int64_t size = file->meta->size;
  return std::make_unique<TskReadableFile>(state, std::move(file), size);
}

std::unique_ptr<DirectoryEnumeration> EnumerateListing(const Listing& listing,
                                                       std::string_view pattern, bool isRoot) {
  std::vector<DirectoryEntry> entries;
  if (pattern.empty()) return std::make_unique<ListedEnumeration>(std::move(entries), 0);
  if (!isRoot) {
    for (const char* dots : {".", ".."}) {
      if (!FitsWindowsPattern(dots, pattern)) continue;
      DirectoryEntry entry;
      entry.name = dots;
      entry.attributes = file_attribute::kDirectory;
      entries.push_back(entry);
    }
  }
  for (const Node& node : listing.nodes) {
    if (FitsWindowsPattern(node.entry.name, pattern)) entries.push_back(node.entry);
  }
  return std::make_unique<ListedEnumeration>(std::move(entries), listing.error);
}

class TskDirectory final : public Directory {
 public:
  TskDirectory(std::shared_ptr<State> state, std::vector<TSK_INUM_T> folders)
      : state_(std::move(state)), folders_(std::move(folders)) {}

  std::unique_ptr<DirectoryEnumeration> Enumerate(std::string_view pattern) override {
    const std::lock_guard<std::mutex> hold(state_->volume->Lock());
    return EnumerateListing(*state_->List(folders_.back()), pattern, folders_.size() == 1);
  }

  std::unique_ptr<ReadableFile> OpenFile(std::string_view name, FileShare /*share*/,
                                         std::uint32_t* error) override {
    if (HasSeparator(name)) {
      if (error != nullptr) *error = kInvalidName;
      return nullptr;
    }
    const std::lock_guard<std::mutex> hold(state_->volume->Lock());
    const std::shared_ptr<const Listing> listing = state_->List(folders_.back());
    const Node* node = state_->Find(*listing, name, true);
    if (node == nullptr) {
      if (error != nullptr) *error = kFileNotFound;
      return nullptr;
    }
    return OpenNode(state_, *node, error);
  }

  std::unique_ptr<Directory> OpenSubdirectory(std::string_view name,
                                              std::uint32_t* error) override {
    const auto fail = [&](std::uint32_t code) -> std::unique_ptr<Directory> {
      if (error != nullptr) *error = code;
      return nullptr;
    };
    if (HasSeparator(name) || name == "." || name == "..") return fail(kInvalidName);
    const std::lock_guard<std::mutex> hold(state_->volume->Lock());
    const std::shared_ptr<const Listing> listing = state_->List(folders_.back());
    const Node* node = state_->Find(*listing, name, true);
    if (node == nullptr) return fail(kPathNotFound);
    if (node->entry.error != 0) return fail(node->entry.error);
    if ((node->entry.attributes & kReparseAttribute) != 0) return fail(kLinkNotFollowed);
    if (!node->entry.IsDirectory()) return fail(kNotADirectory);
    if (std::find(folders_.begin(), folders_.end(), node->inode) != folders_.end()) {
      return fail(kLinkNotFollowed);
    }
    std::vector<TSK_INUM_T> folders = folders_;
    folders.push_back(node->inode);
    return std::make_unique<TskDirectory>(state_, std::move(folders));
  }

 private:
  std::shared_ptr<State> state_;
  std::vector<TSK_INUM_T> folders_;  // the root first, this folder last
};

}  // namespace

TskFileSystem::TskFileSystem(std::shared_ptr<NtfsVolume> volume)
    : state_(std::make_shared<State>()) {
  state_->volume = std::move(volume);
}

TskFileSystem::~TskFileSystem() = default;

std::unique_ptr<ReadableFile> TskFileSystem::OpenForReading(std::string_view path,
                                                            FileShare /*share*/,
                                                            std::uint32_t* error) {
  const std::lock_guard<std::mutex> hold(state_->volume->Lock());
  std::uint32_t walkError = 0;
  const std::optional<State::Walked> walked = state_->Walk(path, &walkError);
  if (!walked) {
    if (error != nullptr) *error = walkError == kInvalidName ? kAccessDenied : walkError;
    return nullptr;
  }
  if (!walked->node) {
    if (error != nullptr) *error = kAccessDenied;
    return nullptr;
  }
  return OpenNode(state_, *walked->node, error);
}

std::unique_ptr<DirectoryEnumeration> TskFileSystem::EnumerateDirectory(std::string_view directory,
                                                                        std::string_view pattern) {
  std::uint32_t error = 0;
  std::unique_ptr<Directory> folder = OpenDirectory(directory, &error);
  if (!folder) {
    return std::make_unique<ListedEnumeration>(std::vector<DirectoryEntry>{},
                                               error == kFileNotFound ? kPathNotFound : error);
  }
  return folder->Enumerate(pattern);
}

std::unique_ptr<Directory> TskFileSystem::OpenDirectory(std::string_view path,
                                                        std::uint32_t* error) {
  const auto fail = [&](std::uint32_t code) -> std::unique_ptr<Directory> {
    if (error != nullptr) *error = code;
    return nullptr;
  };
  const std::lock_guard<std::mutex> hold(state_->volume->Lock());
  std::uint32_t walkError = 0;
  std::optional<State::Walked> walked = state_->Walk(path, &walkError);
  if (!walked) return fail(walkError == kFileNotFound ? kPathNotFound : walkError);
  std::vector<TSK_INUM_T> folders = std::move(walked->folders);
  if (walked->node) {
    const Node& node = *walked->node;
    if ((node.entry.attributes & kReparseAttribute) != 0) return fail(kLinkNotFollowed);
    if (!node.entry.IsDirectory()) return fail(kNotADirectory);
    if (std::find(folders.begin(), folders.end(), node.inode) != folders.end()) {
      return fail(kLinkNotFollowed);
    }
    folders.push_back(node.inode);
  }
  return std::make_unique<TskDirectory>(state_, std::move(folders));
}

bool TskFileSystem::IsRegularFile(std::string_view path, std::uint32_t* error) {
  const std::lock_guard<std::mutex> hold(state_->volume->Lock());
  std::uint32_t walkError = 0;
  const std::optional<State::Walked> walked = state_->Walk(path, &walkError);
  if (!walked) {
    *error = walkError;
    return false;
  }
  const bool regular = walked->node && walked->node->regular &&
                       (walked->node->entry.attributes & kReparseAttribute) == 0;
  if (!regular) *error = kFileNotFound;
  return regular;
}

std::optional<std::string> TskFileSystem::SpelledPath(std::string_view path) {
  const std::lock_guard<std::mutex> hold(state_->volume->Lock());
  std::uint32_t ignored = 0;
  const std::optional<State::Walked> walked = state_->Walk(path, &ignored);
  if (!walked) return std::nullopt;
  return walked->node ? walked->spelled : std::string("C:\\");
}

std::int64_t TskFileSystem::ToLocalFileTime(std::int64_t utcTicks) {
  std::int64_t seconds = utcTicks / kTicksPerSecond;
  if (utcTicks % kTicksPerSecond < 0) --seconds;
  const time_t unixSeconds = seconds - kEpochDifference;
  tm local{};
  if (::localtime_r(&unixSeconds, &local) == nullptr) return utcTicks;
  return utcTicks + local.tm_gmtoff * kTicksPerSecond;
}

}  // namespace lk
