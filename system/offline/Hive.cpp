#include "system/offline/Hive.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "base/TextCase.h"
#include "system/FileSystem.h"
#include "system/offline/HiveBaseBlock.h"
#include "system/offline/HiveCells.h"

namespace lk {

namespace {

// hivex hands out strings and arrays from malloc.
struct FreeDeleter {
  void operator()(void* memory) const noexcept { std::free(memory); }
};
template <typename T>
using Owned = std::unique_ptr<T, FreeDeleter>;

std::string ErrnoText(int error) { return DescribeErrnoInGerman(error); }

// The whole content of a regular file reached without following a link; none when it cannot be
// read or is larger than limit.
std::optional<std::string> ReadRegularFile(int fd, std::size_t limit) {
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0 ||
      static_cast<std::uint64_t>(status.st_size) > limit) {
    return std::nullopt;
  }
  std::string bytes(static_cast<std::size_t>(status.st_size), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got =
        pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    done += static_cast<std::size_t>(got);
  }
  return bytes;
}

// A hive file or log holds at most the base block, the hive bins and a little slack.
constexpr std::size_t kMaxHiveFile = HiveBaseBlock::kSize + HiveLogReplay::kMaxHiveBinsSize + 65536;

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A value for hivex to write, with any type number: hive_type cannot hold most of them, so
// the number is copied into the field's storage rather than converted.
hive_set_value SetOf(std::string& name, std::uint32_t type, std::string& data) {
  hive_set_value set{};
  set.key = name.data();
  static_assert(sizeof(set.t) == sizeof(type));
  std::memcpy(&set.t, &type, sizeof(type));
  set.len = data.size();
  set.value = data.data();
  return set;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string DescriptorPath(int descriptor) { return "/proc/self/fd/" + std::to_string(descriptor); }

}  // namespace

Hive::Hive(std::string path, UniqueDescriptor folder, std::string name, HiveHandle handle,
           bool dirty)
    : path_(std::move(path)),
      folder_(std::move(folder)),
      name_(std::move(name)),
      handle_(std::move(handle)),
      dirty_(dirty) {}

Hive::~Hive() = default;

UniqueDescriptor Hive::OpenPrimary() const {
  UniqueDescriptor file(
      openat(folder_.Get(), name_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file) return file;
  struct stat status {};
  if (fstat(file.Get(), &status) != 0) return UniqueDescriptor();
  if (!S_ISREG(status.st_mode)) {
    errno = ENXIO;
    return UniqueDescriptor();
  }
  return file;
}

HiveHandle Hive::OpenHandle(int flags) const {
  // The replayed copy is ours; the primary is given to hivex as the file opened here without
  // following a link, since hivex opens by name.
  if (replayed_.Valid()) return HiveHandle(hivex_open(replayed_.Path().c_str(), flags));
  const UniqueDescriptor file = OpenPrimary();
  if (!file) return HiveHandle();
  return HiveHandle(hivex_open(DescriptorPath(file.Get()).c_str(), flags));
}

std::unique_ptr<Hive> Hive::Open(const std::string& hostPath, std::string* error) {
  UniqueDescriptor folder(
      open(FolderOf(hostPath).c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
  if (!folder) {
    *error = "Registrierungsdatei " + hostPath + ": " + ErrnoText(errno);
    return nullptr;
  }
  return Open(std::move(folder), BaseName(hostPath), hostPath, error);
}

std::unique_ptr<Hive> Hive::Open(UniqueDescriptor folder, const std::string& name,
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
  std::unique_ptr<Hive> hive(new Hive(hostPath, std::move(folder), name, HiveHandle(), false));
  if (!hive->Load(error)) return nullptr;
  // The root and its subkey list are where every lookup starts: damage there is damage to all.
  Node root = 0;
  std::vector<std::string> names;
  if (hive->Find({}, &root) != 0 || hive->SubKeyNames(root, &names) != 0) {
    *error = hive->DamageText();
    return nullptr;
  }
  return hive;
}

std::vector<HiveLogFile> Hive::ReadLogs(std::string* ambiguity) {
  std::vector<HiveLogFile> logs;
  const std::string folder = FolderOf(path_);
  const std::string& name = name_;
  // The listing reads the hive's own folder, reached without following a link.
  const UniqueDirectoryStream listing = OpenDirectoryStream(
      UniqueDescriptor(openat(folder_.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
  if (!listing) return logs;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(listing.Get())) {
    for (const char* suffix : {".LOG", ".LOG1", ".LOG2"}) {
      if (EqualsIgnoringAsciiCase(entry->d_name, name + suffix)) names.emplace_back(entry->d_name);
    }
  }
  // Windows sees one file per name; two that differ only in case leave open which one it reads.
  for (std::size_t i = 0; i < names.size(); ++i) {
    for (std::size_t j = i + 1; j < names.size(); ++j) {
      if (EqualsIgnoringAsciiCase(names[i], names[j])) {
        *ambiguity = "zwei Protokolle heißen " + names[i] + " und " + names[j];
        return {};
      }
    }
  }
  // Together the logs hold no more than one hive could: a hostile disk cannot make this read
  // gigabytes.
  std::size_t budget = kMaxHiveFile;
  for (const std::string& entryName : names) {
    const UniqueDescriptor file(openat(dirfd(listing.Get()), entryName.c_str(),
                                       O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!file) continue;
    std::optional<std::string> bytes = ReadRegularFile(file.Get(), budget);
    if (!bytes) continue;
    budget -= bytes->size();
    logPaths_.push_back(folder + "/" + entryName);
    logs.push_back({entryName, std::move(*bytes)});
  }
  return logs;
}

bool Hive::Load(std::string* error) {
  const UniqueDescriptor primaryFile = OpenPrimary();
  if (!primaryFile) {
    *error = "Registrierungsdatei " + path_ + ": " + ErrnoText(errno);
    return false;
  }
  const int fd = primaryFile.Get();
  // A clean hive is read by hivex alone; only a dirty one is read here whole, to be replayed.
  struct stat status {};
  std::string header(HiveBaseBlock::kChecked, '\0');
  const bool readable = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                        pread(fd, header.data(), header.size(), 0) >= 0;
  const std::optional<HiveBaseBlock> block = HiveBaseBlock::Parse(header);
  dirty_ = !block || block->Dirty();
  std::optional<std::string> primary;
  if (readable && dirty_) primary = ReadRegularFile(fd, kMaxHiveFile);
  if (!readable || (dirty_ && !primary)) {
    *error = "Registrierungsdatei " + path_ + " ist unlesbar oder zu groß";
    return false;
  }
  std::optional<HiveBaseBlock> declared = block;
  auto length = static_cast<std::uint64_t>(status.st_size);
  if (dirty_) {
    std::string ambiguity;
    const std::vector<HiveLogFile> logs = ReadLogs(&ambiguity);
    const HiveReplay replay = ambiguity.empty() ? HiveLogReplay::Run(*primary, logs) : HiveReplay{};
    if (!ambiguity.empty()) {
      logFailure_ = ambiguity;
    } else if (replay.outcome == HiveReplay::Outcome::Replayed) {
      replayed_ = PrivateHiveCopy::Of(replay.hive);
      if (replayed_.Valid()) {
        declared = HiveBaseBlock::Parse(replay.hive);
        length = replay.hive.size();
        logsApplied_ = replay.applied;
      } else {
        logFailure_ = "die eingespielte Kopie ließ sich nicht anlegen";
      }
    } else {
      logFailure_ = replay.failure;
    }
  }
  // hivex reads what is there and says nothing about the rest: a hive cut short at a bin
  // boundary would read as a complete, smaller one.
  if (declared && length < HiveBaseBlock::kSize + std::uint64_t{declared->hiveBinsSize}) {
    *error = "Registrierungsdatei " + path_ + " ist beschädigt: " + std::to_string(length) +
             " Bytes, der Kopfblock gibt " +
             std::to_string(HiveBaseBlock::kSize + std::uint64_t{declared->hiveBinsSize}) +
             " an (die Datei ist abgeschnitten)";
    return false;
  }
  errno = 0;
  handle_ = OpenHandle(0);
  if (!handle_) {
    *error =
        "Registrierungsdatei " + path_ + " ist beschädigt oder unlesbar (" + ErrnoText(errno) + ")";
    return false;
  }
  return true;
}

bool Hive::IsWritable() const {
  return faccessat(folder_.Get(), name_.c_str(), W_OK, 0) == 0 &&
         faccessat(folder_.Get(), ".", W_OK, 0) == 0;
}

std::uint32_t Hive::Refused(std::string why) {
  damage_ = std::move(why);
  return hive_error::kRegistryCorrupt;
}

std::uint32_t Hive::Damaged(std::string_view what) {
  damage_ = "Registrierungsdatei " + path_ + " ist beschädigt: " + std::string(what);
  return hive_error::kRegistryCorrupt;
}

std::uint32_t Hive::Child(Node parent, const std::string& name, Node* child) {
  errno = 0;
  const hive_node_h found = hivex_node_get_child(handle_.Get(), parent, name.c_str());
  if (found == 0) {
    if (errno != 0) return Damaged("Unterschlüssel von \"" + name + "\": " + ErrnoText(errno));
    return hive_error::kFileNotFound;
  }
  *child = found;
  return 0;
}

std::uint32_t Hive::Find(const KeyPath& path, Node* node) {
  errno = 0;
  Node current = hivex_root(handle_.Get());
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
  const Owned<hive_node_h> children(hivex_node_children(handle_.Get(), node));
  if (!children) return Damaged("Liste der Unterschlüssel: " + ErrnoText(errno));
  std::vector<std::string> result;
  for (const hive_node_h* child = children.get(); *child != 0; ++child) {
    errno = 0;
    const Owned<char> name(hivex_node_name(handle_.Get(), *child));
    if (!name) return Damaged("Name eines Schlüssels: " + ErrnoText(errno));
    result.emplace_back(name.get());
  }
  *names = std::move(result);
  return 0;
}

std::uint32_t Hive::ValueNames(Node node, std::vector<std::string>* names) {
  errno = 0;
  const Owned<hive_value_h> values(hivex_node_values(handle_.Get(), node));
  if (!values) return Damaged("Liste der Werte: " + ErrnoText(errno));
  std::vector<std::string> result;
  for (const hive_value_h* value = values.get(); *value != 0; ++value) {
    errno = 0;
    const Owned<char> name(hivex_value_key(handle_.Get(), *value));
    if (!name) return Damaged("Name eines Werts: " + ErrnoText(errno));
    result.emplace_back(name.get());
  }
  *names = std::move(result);
  return 0;
}

std::uint32_t Hive::ReadValue(Node node, std::string_view name, HiveValue* value) {
  const std::string key(name);
  errno = 0;
  const hive_value_h handle = hivex_node_get_value(handle_.Get(), node, key.c_str());
  if (handle == 0) {
    if (errno != 0) return Damaged("Wert \"" + key + "\": " + ErrnoText(errno));
    return hive_error::kFileNotFound;
  }
  // A hive may store any 32-bit type number, and hive_type cannot hold most of them: hivex
  // writes the number into plain storage, which is read as the number it is.
  static_assert(sizeof(hive_type) == sizeof(std::uint32_t));
  std::uint32_t type = 0;
  std::size_t length = 0;
  errno = 0;
  const Owned<char> data(
      hivex_value_value(handle_.Get(), handle, reinterpret_cast<hive_type*>(&type), &length));
  // A value without data comes back as null from some hivex versions; errno tells them apart.
  if (!data && (length != 0 || errno != 0)) {
    return Damaged("Daten des Werts \"" + key + "\": " + ErrnoText(errno));
  }
  value->type = type;
  value->data = data ? std::string(data.get(), length) : std::string();
  return 0;
}

std::string Hive::CheckCells(const KeyPath& path, bool wholeTree) {
  Node node = 0;
  const std::uint32_t error = Find(path, &node);
  if (error == hive_error::kFileNotFound) return {};
  if (error != 0) return DamageText();
  UniqueDescriptor source =
      replayed_.Valid() ? UniqueDescriptor(open(replayed_.Path().c_str(), O_RDONLY | O_CLOEXEC))
                        : OpenPrimary();
  if (!source) return "Registrierungsdatei " + path_ + ": " + ErrnoText(errno);
  const std::optional<std::string> bytes = ReadRegularFile(source.Get(), kMaxHiveFile);
  if (!bytes) return "Registrierungsdatei " + path_ + " ist unlesbar";
  const HiveCells cells(*bytes);
  std::string why = wholeTree ? cells.CheckDeleteTree(node) : cells.CheckRewriteValues(node);
  if (why.empty()) return {};
  return "Registrierungsdatei " + path_ + " kann nicht sicher geändert werden: " + why;
}

std::string Hive::CheckDeleteKey(const KeyPath& path) { return CheckCells(path, true); }

std::string Hive::CheckValuesChange(const KeyPath& path) { return CheckCells(path, false); }

void Hive::SetBeforeFirstWrite(std::function<bool(const std::string& hostPath)> hook) {
  beforeFirstWrite_ = std::move(hook);
}

std::uint32_t Hive::BeginWrite() {
  if (writing_) return 0;
  // Writing the primary alone would mark it clean: Windows would then ignore the newer data in
  // the logs that could not be replayed here.
  if (!logFailure_.empty()) {
    return Damaged(
        "nicht sauber geschlossen, und die Transaktionsprotokolle lassen sich nicht "
        "einspielen (" +
        logFailure_ + "); eine Änderung ginge zu Lasten neuerer Daten");
  }
  if (!IsWritable()) return hive_error::kAccessDenied;
  if (beforeFirstWrite_) {
    if (!beforeFirstWrite_(path_)) return hive_error::kAccessDenied;
    for (const std::string& log : logPaths_) {
      if (!beforeFirstWrite_(log)) return hive_error::kAccessDenied;
    }
  }
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
  UniqueDescriptor file(openat(folder_.Get(), fresh.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  errno = 0;
  bool written = file && hivex_commit(handle_.Get(), DescriptorPath(file.Get()).c_str(), 0) == 0;
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
  // The primary now holds the replayed hive with a clean base block: it is the source from here.
  replayed_ = PrivateHiveCopy();
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
      child = hivex_node_add_child(handle_.Get(), node, name.c_str());
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
  if (const std::string why = CheckValuesChange(path); !why.empty()) return Refused(why);
  if (const std::uint32_t error = BeginWrite()) return error;
  std::string key(name);
  std::string data = value.data;
  const hive_set_value set = SetOf(key, value.type, data);
  if (hivex_node_set_value(handle_.Get(), node, &set, 0) != 0) {
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
  if (const std::string why = CheckValuesChange(path); !why.empty()) return Refused(why);
  if (const std::uint32_t error = BeginWrite()) return error;
  std::vector<hive_set_value> values;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    values.push_back(SetOf(keys[i], kept[i].type, kept[i].data));
  }
  if (hivex_node_set_values(handle_.Get(), node, values.size(), values.data(), 0) != 0) {
    static_cast<void>(Reload());
    return hive_error::kAccessDenied;
  }
  return Commit();
}

std::uint32_t Hive::DeleteKey(const KeyPath& path) {
  if (path.empty()) return hive_error::kAccessDenied;
  Node node = 0;
  if (const std::uint32_t error = Find(path, &node)) return error;
  if (const std::string why = CheckDeleteKey(path); !why.empty()) return Refused(why);
  if (const std::uint32_t error = BeginWrite()) return error;
  errno = 0;
  if (hivex_node_delete_child(handle_.Get(), node) != 0) {
    const int failure = errno;
    static_cast<void>(Reload());
    return Damaged("Schlüssel nicht gelöscht: " + ErrnoText(failure));
  }
  return Commit();
}

}  // namespace lk
