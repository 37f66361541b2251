// The platform's SHA-256 and the digests of files read through the file layer.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "system/Sha256.h"
#include "system/posix/PosixFileSystem.h"

namespace lk {
namespace {

std::string Hex(std::string_view bytes) {
  Sha256 hash;
  hash.Update(bytes.data(), bytes.size());
  return Sha256::Hex(hash.Finish());
}

TEST(Sha256Digest, KnownValuesAndAFreshStartAfterEachFinish) {
  EXPECT_EQ(Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  Sha256 hash;
  hash.Update("ab", 2);
  hash.Update("c", 1);
  EXPECT_EQ(Sha256::Hex(hash.Finish()), Hex("abc"));
  EXPECT_EQ(Sha256::Hex(hash.Finish()), Hex("")) << "the object starts anew";
}

class FileDigests : public ::testing::Test {
 protected:
  FileDigests()
      : root_(std::filesystem::temp_directory_path() /
              ("lk-digest-" + std::to_string(::getpid()))) {
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "d");
  }
  ~FileDigests() override {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  void Write(const std::string& relative, const std::string& bytes) {
    std::ofstream(root_ / relative, std::ios::binary) << bytes;
  }

  std::filesystem::path root_;
  PosixFileSystem files_{"/"};
};

TEST_F(FileDigests, AFileLargerThanOneReadIsHashedWhole) {
  Write("d/big.bin", std::string(3000000, 'a'));
  const FileDigest digest = DigestFile(files_, (root_ / "d/big.bin").string());
  ASSERT_TRUE(digest.Ok());
  EXPECT_EQ(digest.size, 3000000);
  EXPECT_EQ(digest.sha256, "2a152c894398719c0570f83fac34ac03a0f6e8e474b995c2403aa5434f7b9dd4");
  EXPECT_EQ(DigestEntry(files_, (root_ / "d").string(), "big.bin").sha256, digest.sha256);
}

TEST_F(FileDigests, AnEnumeratedNameIsNeverFollowedElsewhere) {
  Write("secret.txt", "not for the scan");
  std::filesystem::create_symlink(root_ / "secret.txt", root_ / "d" / "hit.dll");
  // Neither a path the caller names nor an entry of a walked folder is followed.
  EXPECT_FALSE(DigestFile(files_, (root_ / "d/hit.dll").string()).Ok());
  const FileDigest entry = DigestEntry(files_, (root_ / "d").string(), "hit.dll");
  EXPECT_FALSE(entry.Ok());
  EXPECT_TRUE(entry.sha256.empty());
  EXPECT_FALSE(DigestEntry(files_, (root_ / "d").string(), "..\\secret.txt").Ok());
  EXPECT_FALSE(DigestEntry(files_, (root_ / "missing").string(), "x").Ok());
}

TEST_F(FileDigests, ASparseFileIsDigestedAsTheWholeFileItStandsFor) {
  const std::filesystem::path sparse = root_ / "d/sparse.dll";
  constexpr std::int64_t kSize = 64LL * 1024 * 1024 + 5;
  { std::ofstream(sparse, std::ios::binary) << "MZ"; }
  std::filesystem::resize_file(sparse, kSize);
  {
    std::fstream tail(sparse, std::ios::binary | std::ios::in | std::ios::out);
    tail.seekp(40LL * 1024 * 1024);
    tail << "mark";
  }
  std::string whole(static_cast<std::size_t>(kSize), '\0');
  whole.replace(0, 2, "MZ");
  whole.replace(40U * 1024 * 1024, 4, "mark");
  const FileDigest digest = DigestFile(files_, sparse.string());
  ASSERT_TRUE(digest.Ok());
  EXPECT_EQ(digest.size, kSize);
  EXPECT_EQ(digest.sha256, Hex(whole)) << "the holes count as the zeros they hold";
}

}  // namespace
}  // namespace lk
