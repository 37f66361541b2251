#include "system/image/PrivateHiveFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "base/TextCase.h"
#include "base/WindowsPath.h"
#include "system/posix/UniqueDescriptor.h"

namespace lk {

namespace {

// No hive of a real installation comes near this; a forged one cannot fill the host's disk.
constexpr std::int64_t kMaxCopiedFile = std::int64_t{1} << 30;

bool IsHiveOrLog(std::string_view name) {
  for (const char* hive : {"SYSTEM", "SOFTWARE"}) {
    const std::string base = hive;
    for (const char* suffix : {"", ".LOG", ".LOG1", ".LOG2"}) {
      if (EqualsIgnoringAsciiCase(name, base + suffix)) return true;
    }
  }
  return false;
}

// Copies one file of the image into a new plain file at host; false with a message.
bool CopyOut(ReadableFile& file, const std::string& host, std::string* error) {
  const std::int64_t size = file.Size();
  if (size < 0 || size > kMaxCopiedFile) {
    *error = "größer als 1 GiB";
    return false;
  }
  UniqueDescriptor copy(
      ::open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  const int fd = copy.Get();
  if (!copy) {
    *error = "die Kopie " + host + " lässt sich nicht schreiben";
    return false;
  }
  std::vector<char> buffer(1 << 20);
  std::int64_t offset = 0;
  bool ok = true;
  while (ok && offset < size) {
    const ReadResult got = file.ReadAt(offset, buffer.data(), buffer.size());
    if (!got.Ok() || got.bytes == 0) {
      *error = "lässt sich nicht aus dem Abbild lesen (" +
               DescribeFileErrorInGerman(got.Ok() ? 30 : got.error) + ")";
      ok = false;
      break;
    }
    std::size_t done = 0;
    while (done < got.bytes) {
      const ssize_t wrote = ::write(fd, buffer.data() + done, got.bytes - done);
      if (wrote <= 0) {
        *error = "die Kopie " + host + " lässt sich nicht schreiben";
        ok = false;
        break;
      }
      done += static_cast<std::size_t>(wrote);
    }
    offset += static_cast<std::int64_t>(got.bytes);
  }
  if (CloseDescriptorNow(copy) != 0 && ok) {
    *error = "die Kopie " + host + " lässt sich nicht schreiben";
    ok = false;
  }
  return ok;
}

}  // namespace

PrivateHiveFolder::~PrivateHiveFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::unique_ptr<PrivateHiveFolder> PrivateHiveFolder::CopyFrom(TskFileSystem& files,
                                                               std::string* error) {
  const std::optional<std::string> config = files.SpelledPath("C:\\Windows\\System32\\config");
  if (!config) {
    *error = "kein Windows\\System32\\config auf dem Laufwerk";
    return nullptr;
  }
  const char* temp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(temp != nullptr && *temp != '\0' ? temp : "/tmp") + "/lk-image-hives-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    *error = "kein eigener Ordner für die Registrierungsdateien in " + pattern;
    return nullptr;
  }
  std::unique_ptr<PrivateHiveFolder> folder(new PrivateHiveFolder(pattern));
  // "C:\Windows\System32\config" as the volume spells it, below the private folder.
  std::string host = folder->root_;
  std::string windowsPath = "C:";
  const std::vector<std::string> parts = PathParts(*config);
  for (const std::string& part : parts) {
    if (part.size() == 2 && part[1] == ':') continue;
    host += "/" + part;
    windowsPath += "\\" + part;
    if (::mkdir(host.c_str(), 0700) != 0) {
      *error = "der Ordner " + host + " lässt sich nicht anlegen";
      return nullptr;
    }
  }
  std::unique_ptr<DirectoryEnumeration> entries = files.EnumerateDirectory(windowsPath, "*");
  DirectoryEntry entry;
  while (entries->Next(entry)) {
    if (entry.error != 0 || entry.IsDirectory() || !IsHiveOrLog(entry.name)) continue;
    std::uint32_t openError = 0;
    std::unique_ptr<ReadableFile> file =
        files.OpenForReading(windowsPath + "\\" + entry.name, FileShare::Read, &openError);
    if (!file) {
      *error = windowsPath + "\\" + entry.name + ": " + DescribeFileErrorInGerman(openError);
      return nullptr;
    }
    std::string why;
    if (!CopyOut(*file, host + "/" + entry.name, &why)) {
      *error = windowsPath + "\\" + entry.name + ": " + why;
      return nullptr;
    }
  }
  return folder;
}

}  // namespace lk
