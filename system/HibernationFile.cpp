#include "system/HibernationFile.h"

#include <algorithm>
#include <array>

namespace lk {

namespace {
constexpr std::size_t kFirstPage = 4096;
}  // namespace

HibernationState ReadHibernationState(FileSystem& files, std::string* why) {
  std::uint32_t error = 0;
  std::unique_ptr<ReadableFile> file =
      files.OpenForReading("C:\\hiberfil.sys", FileShare::ReadWrite, &error);
  if (!file) {
    if (error == file_error::kFileNotFound || error == file_error::kPathNotFound) {
      return HibernationState::NotHibernated;
    }
    *why = "C:\\hiberfil.sys: " + DescribeFileErrorInGerman(error);
    return HibernationState::Unreadable;
  }
  std::array<char, kFirstPage> page{};
  std::size_t done = 0;
  while (done < page.size()) {
    const ReadResult got =
        file->ReadAt(static_cast<std::int64_t>(done), page.data() + done, page.size() - done);
    if (!got.Ok()) {
      *why = "C:\\hiberfil.sys: " + DescribeFileErrorInGerman(got.error);
      return HibernationState::Unreadable;
    }
    if (got.bytes == 0) break;
    done += got.bytes;
  }
  const bool zero = std::all_of(page.begin(), page.begin() + static_cast<std::ptrdiff_t>(done),
                                [](char byte) { return byte == 0; });
  return zero ? HibernationState::NotHibernated : HibernationState::Hibernated;
}

std::string HibernationRemedy() {
  return "Windows ist im Ruhezustand (hiberfil.sys enthält eine gesicherte Sitzung; der "
         "Schnellstart macht das bei jedem Herunterfahren): was auf dem Laufwerk steht, ist nicht "
         "der Stand, mit dem Windows weiterläuft, und eine Änderung jetzt geht verloren oder "
         "beschädigt das Laufwerk. Starten Sie Windows und fahren Sie es vollständig herunter "
         "(shutdown /s /t 0) oder schalten Sie den Schnellstart aus, dann untersuchen Sie erneut; "
         "löschen Sie hiberfil.sys nie (remove_hiberfile von ntfs-3g wirft die gesicherte Sitzung "
         "weg).";
}

}  // namespace lk
