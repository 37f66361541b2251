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
    *why = "C:\\hiberfil.sys: " + DescribeFileError(error);
    return HibernationState::Unreadable;
  }
  std::array<char, kFirstPage> page{};
  std::size_t done = 0;
  while (done < page.size()) {
    const ReadResult got =
        file->ReadAt(static_cast<std::int64_t>(done), page.data() + done, page.size() - done);
    if (!got.Ok()) {
      *why = "C:\\hiberfil.sys: " + DescribeFileError(got.error);
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
  return "Windows is hibernated (hiberfil.sys holds a saved session; Fast Startup does this at "
         "every shutdown): what is on the volume is not what Windows will resume with, and a "
         "change made now is lost or corrupts the volume. Start Windows and shut it down fully "
         "(shutdown /s /t 0), or turn Fast Startup off, then scan again; never delete "
         "hiberfil.sys (ntfs-3g's remove_hiberfile throws the saved session away).";
}

}  // namespace lk
