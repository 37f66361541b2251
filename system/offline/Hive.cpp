#include "system/offline/Hive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "base/TextCase.h"

namespace lk {

namespace {

// hivex hands out strings and arrays from malloc.
struct FreeDeleter {
  void operator()(void* memory) const noexcept { std::free(memory); }
};
template <typename T>
using Owned = std::unique_ptr<T, FreeDeleter>;

std::string ErrnoText(int error) { return std::strerror(error); }

// The hive's two sequence numbers, read from the base block; none when it cannot be read.
std::optional<std::pair<std::uint32_t, std::uint32_t>> SequenceNumbers(int folder,
                                                                       const std::string& name) {
  const int fd = openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  unsigned char header[12] = {};
  const ssize_t got = pread(fd, header, sizeof(header), 0);
  close(fd);
  if (got != static_cast<ssize_t>(sizeof(header))) return std::nullopt;
  const auto dword = [&](std::size_t at) {
    return static_cast<std::uint32_t>(header[at]) |
           (static_cast<std::uint32_t>(header[at + 1]) << 8U) |
           (static_cast<std::uint32_t>(header[at + 2]) << 16U) |
           (static_cast<std::uint32_t>(header[at + 3]) << 24U);
  };
  return std::make_pair(dword(4), dword(8));
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DescriptorPath(int descriptor) { return "/proc/self/fd/" + std::to_string(descriptor); }

}  // namespace

Hive::Hive(std::string path, HostDescriptor folder, std::string name, HiveHandle handle, bool dirty)
    : path_(std::move(path)),
      folder_(std::move(folder)),
      name_(std::move(name)),
      handle_(std::move(handle)),
      dirty_(dirty) {}

HiveHandle Hive::OpenHandle(int flags) const {
  const HostDescriptor file(
      openat(folder_.Get(), name_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file) return HiveHandle();
  struct stat status {};
  if (fstat(file.Get(), &status) != 0) return HiveHandle();
  if (!S_ISREG(status.st_mode)) {
    errno = ENXIO;
    return HiveHandle();
  }
  return HiveHandle(hivex_open(DescriptorPath(file.Get()).c_str(), flags));
}

Hive::~Hive() = default;

std::unique_ptr<Hive> Hive::Open(const std::string& hostPath, std::string* error) {
  HostDescriptor folder(
      open(FolderOf(hostPath).c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
  if (!folder) {
    *error = "Registrierungsdatei " + hostPath + ": " + ErrnoText(errno);
    return nullptr;
  }
  return Open(std::move(folder), NameOf(hostPath), hostPath, error);
}

std::unique_ptr<Hive> Hive::Open(HostDescriptor folder, const std::string& name,
                                 const std::string& hostPath, std::string* error) {
  struct stat status {};
  if (fstatat(folder.Get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    *error = "Registrierungsdatei " + hostPath + ": " + ErrnoText(errno);
    return nullptr;
  }
  if (S_ISLNK(status.st_mode)) {
    *error = "Registrierungsdatei " + hostPath + ": eine Verknüpfung; ihr wird nicht gefolgt";
    return nullptr;
  }
  if (!S_ISREG(status.st_mode)) {
    *error = "Registrierungsdatei " + hostPath + ": keine gewöhnliche Datei";
    return nullptr;
  }
  const auto sequence = SequenceNumbers(folder.Get(), name);
  std::unique_ptr<Hive> hive(new Hive(hostPath, std::move(folder), name, HiveHandle(),
                                      sequence && sequence->first != sequence->second));
  errno = 0;
  hive->handle_ = hive->OpenHandle(0);
  if (!hive->handle_) {
    *error = "Registrierungsdatei " + hostPath + " ist beschädigt oder unlesbar (" +
             ErrnoText(errno) + ")";
    return nullptr;
  }
  // The root and its subkey list are where every lookup starts: damage there is damage to all.
  Node root = 0;
  std::vector<std::string> names;
  if (hive->Find({}, &root) != 0 || hive->SubKeyNames(root, &names) != 0) {
    *error = hive->DamageText();
    return nullptr;
  }
  return hive;
}

bool Hive::IsWritable() const {
  return faccessat(folder_.Get(), name_.c_str(), W_OK, 0) == 0 &&
         faccessat(folder_.Get(), ".", W_OK, 0) == 0;
}

std::uint32_t Hive::Damaged(std::string_view what) {
  damage_ = "Registrierungsdatei " + path_ + " ist beschädigt: " + std::string(what);
  return hive_error::kRegistryCorrupt;
}

std::uint32_t Hive::Child(Node parent, const std::string& name, Node* child) {
  errno = 0;
  const hive_node_h found = hivex_node_get_child(handle_.get(), parent, name.c_str());
  if (found == 0) {
    if (errno != 0) return Damaged("Unterschlüssel von \"" + name + "\": " + ErrnoText(errno));
    return hive_error::kFileNotFound;
  }
  *child = found;
  return 0;
}

std::uint32_t Hive::Find(const KeyPath& path, Node* node) {
  errno = 0;
  Node current = hivex_root(handle_.get());
  if (current == 0) return Damaged("kein Wurzelschlüssel (" + ErrnoText(errno) + ")");
  for (const std::string& name : path) {
    if (name.empty()) return hive_error::kFileNotFound;
    if (const std::uint32_t error = Child(current, name, &current)) return error;
  }
  *node = current;
  return 0;
}

std::uint32_t Hive::SubKeyNames(Node node, std::vector<std::string>* names) {
  errno = 0;
  const Owned<hive_node_h> children(hivex_node_children(handle_.get(), node));
  if (!children) return Damaged("Liste der Unterschlüssel: " + ErrnoText(errno));
  std::vector<std::string> result;
  for (const hive_node_h* child = children.get(); *child != 0; ++child) {
    errno = 0;
    const Owned<char> name(hivex_node_name(handle_.get(), *child));
    if (!name) return Damaged("Name eines Schlüssels: " + ErrnoText(errno));
    result.emplace_back(name.get());
  }
  *names = std::move(result);
  return 0;
}

std::uint32_t Hive::ValueNames(Node node, std::vector<std::string>* names) {
  errno = 0;
  const Owned<hive_value_h> values(hivex_node_values(handle_.get(), node));
  if (!values) return Damaged("Liste der Werte: " + ErrnoText(errno));
  std::vector<std::string> result;
  for (const hive_value_h* value = values.get(); *value != 0; ++value) {
    errno = 0;
    const Owned<char> name(hivex_value_key(handle_.get(), *value));
    if (!name) return Damaged("Name eines Werts: " + ErrnoText(errno));
    result.emplace_back(name.get());
  }
  *names = std::move(result);
  return 0;
}

std::uint32_t Hive::ReadValue(Node node, std::string_view name, HiveValue* value) {
  const std::string key(name);
  errno = 0;
  const hive_value_h handle = hivex_node_get_value(handle_.get(), node, key.c_str());
  if (handle == 0) {
    if (errno != 0) return Damaged("Wert \"" + key + "\": " + ErrnoText(errno));
    return hive_error::kFileNotFound;
  }
  hive_type type = hive_t_REG_NONE;
  std::size_t length = 0;
  errno = 0;
  const Owned<char> data(hivex_value_value(handle_.get(), handle, &type, &length));
  // A value without data comes back as null from some hivex versions; errno tells them apart.
  if (!data && (length != 0 || errno != 0)) {
    return Damaged("Daten des Werts \"" + key + "\": " + ErrnoText(errno));
  }
  value->type = static_cast<std::uint32_t>(type);
  value->data = data ? std::string(data.get(), length) : std::string();
  return 0;
}

void Hive::SetBeforeFirstWrite(std::function<bool(const std::string& hostPath)> hook) {
  beforeFirstWrite_ = std::move(hook);
}

std::uint32_t Hive::BeginWrite() {
  if (writing_) return 0;
  if (!IsWritable()) return hive_error::kAccessDenied;
  if (beforeFirstWrite_ && !beforeFirstWrite_(path_)) return hive_error::kAccessDenied;
  errno = 0;
  HiveHandle handle = OpenHandle(HIVEX_OPEN_WRITE);
  if (!handle) {
    if (errno == EACCES || errno == EROFS || errno == EPERM) return hive_error::kAccessDenied;
    return Damaged("zum Schreiben geöffnet: " + ErrnoText(errno));
  }
  handle_ = std::move(handle);
  writing_ = true;
  return 0;
}

std::uint32_t Hive::Reload() {
  errno = 0;
  HiveHandle handle = OpenHandle(writing_ ? HIVEX_OPEN_WRITE : 0);
  if (!handle) return Damaged("neu geladen: " + ErrnoText(errno));
  handle_ = std::move(handle);
  return 0;
}

std::uint32_t Hive::Commit() {
  struct stat original {};
  if (fstatat(folder_.Get(), name_.c_str(), &original, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(original.st_mode)) {
    static_cast<void>(Reload());
    return hive_error::kAccessDenied;
  }
  // The new hive is a file made here, in the hive's folder, and renamed over the original there:
  // whatever stands at either name, nothing is written through a link.
  const std::string fresh = name_ + ".lk-new";
  unlinkat(folder_.Get(), fresh.c_str(), 0);
  HostDescriptor file(openat(folder_.Get(), fresh.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  errno = 0;
  bool written = file && hivex_commit(handle_.get(), DescriptorPath(file.Get()).c_str(), 0) == 0;
  written = written && fchmod(file.Get(), original.st_mode & 07777U) == 0;
  written = written && fsync(file.Get()) == 0;
  written = written && renameat(folder_.Get(), fresh.c_str(), folder_.Get(), name_.c_str()) == 0;
  if (!written) {
    if (file) unlinkat(folder_.Get(), fresh.c_str(), 0);
    static_cast<void>(Reload());
    return hive_error::kAccessDenied;
  }
  // The rename is durable only once the folder is: a failure here leaves the new hive in place.
  static_cast<void>(fsync(folder_.Get()));
  return 0;
}

std::uint32_t Hive::CreateKey(const KeyPath& path) {
  Node node = 0;
  std::uint32_t error = Find({}, &node);
  if (error != 0) return error;
  bool created = false;
  for (const std::string& name : path) {
    if (name.empty()) return hive_error::kFileNotFound;
    Node child = 0;
    error = Child(node, name, &child);
    if (error == hive_error::kFileNotFound) {
      if ((error = BeginWrite()) != 0) return error;
      // The handle may have been reopened: the node offsets stay, the file is the same.
      errno = 0;
      child = hivex_node_add_child(handle_.get(), node, name.c_str());
      if (child == 0) {
        static_cast<void>(Reload());
        return hive_error::kAccessDenied;
      }
      created = true;
    } else if (error != 0) {
      return error;
    }
    node = child;
  }
  return created ? Commit() : 0;
}

std::uint32_t Hive::SetValue(const KeyPath& path, std::string_view name, const HiveValue& value) {
  Node node = 0;
  if (const std::uint32_t error = Find(path, &node)) return error;
  if (const std::uint32_t error = BeginWrite()) return error;
  std::string key(name);
  std::string data = value.data;
  const hive_set_value set{key.data(), static_cast<hive_type>(value.type), data.size(),
                           data.data()};
  if (hivex_node_set_value(handle_.get(), node, &set, 0) != 0) {
    static_cast<void>(Reload());
    return hive_error::kAccessDenied;
  }
  return Commit();
}

std::uint32_t Hive::DeleteValue(const KeyPath& path, std::string_view name) {
  Node node = 0;
  if (const std::uint32_t error = Find(path, &node)) return error;
  std::vector<std::string> names;
  if (const std::uint32_t error = ValueNames(node, &names)) return error;
  // hivex replaces a key's values as a whole: the others are written back as they are.
  std::vector<std::string> keys;
  std::vector<HiveValue> kept;
  bool found = false;
  for (const std::string& valueName : names) {
    if (EqualsIgnoringAsciiCase(valueName, name)) {
      found = true;
      continue;
    }
    HiveValue value;
    if (const std::uint32_t error = ReadValue(node, valueName, &value)) return error;
    keys.push_back(valueName);
    kept.push_back(std::move(value));
  }
  if (!found) return hive_error::kFileNotFound;
  if (const std::uint32_t error = BeginWrite()) return error;
  std::vector<hive_set_value> values;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    values.push_back({keys[i].data(), static_cast<hive_type>(kept[i].type), kept[i].data.size(),
                      kept[i].data.data()});
  }
  if (hivex_node_set_values(handle_.get(), node, values.size(), values.data(), 0) != 0) {
    static_cast<void>(Reload());
    return hive_error::kAccessDenied;
  }
  return Commit();
}

std::uint32_t Hive::DeleteKey(const KeyPath& path) {
  if (path.empty()) return hive_error::kAccessDenied;
  Node node = 0;
  if (const std::uint32_t error = Find(path, &node)) return error;
  if (const std::uint32_t error = BeginWrite()) return error;
  errno = 0;
  if (hivex_node_delete_child(handle_.get(), node) != 0) {
    const int failure = errno;
    static_cast<void>(Reload());
    return Damaged("Schlüssel nicht gelöscht: " + ErrnoText(failure));
  }
  return Commit();
}

}  // namespace lk
