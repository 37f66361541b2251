// A sparse file of 5 GiB on the host's disk, searched through the POSIX file layer.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "search/EncodedText.h"
#include "streamsearch/StreamSearch.h"
#include "system/posix/PosixFileSystem.h"

namespace lk {
namespace {

constexpr EncodedText kDeviceEncoded("\\DosDevices\\KeyboardClassC");

std::string Utf16Le(const std::string& ascii) {
  std::string bytes;
  for (char c : ascii) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

TEST(SparseFile, FiveGibibyteFileOnDiskIsSearchedNearItsEnd) {
  namespace stdfs = std::filesystem;
  const stdfs::path dir = stdfs::temp_directory_path() / ("lk-sparse-" + std::to_string(getpid()));
  stdfs::create_directories(dir);
  const std::string path = (dir / "big.sys").string();
  constexpr std::int64_t kSize = std::int64_t{5} << 30;
  const std::string device = kDeviceEncoded.Decode();
  const std::u16string kDeviceText(device.begin(), device.end());
  const std::string text = Utf16Le(device);
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  const bool written =
      ::ftruncate(fd, kSize) == 0 &&
      ::pwrite(fd, text.data(), text.size(), kSize - 1000) == static_cast<ssize_t>(text.size());
  ::close(fd);
  ASSERT_TRUE(written);
  {
    PosixFileSystem files(dir.string());
    StreamSearch search(files);
    search.OpenStreamFile("C:\\BIG.SYS");
    EXPECT_TRUE(search.FindText(kDeviceText, kSize - 300'000, TextEncoding::Utf16Le));
    EXPECT_EQ(search.MatchOffset(), kSize - 1000);
  }
  stdfs::remove_all(dir);
}

}  // namespace
}  // namespace lk
