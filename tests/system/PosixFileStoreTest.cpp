// The writing side of the POSIX file layer: private folders, new files, deletion and metadata,
// each acting on the entry itself and never through a link.
#include "system/posix/PosixFileStore.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "system/SystemAccess.h"
#include "tests/system/HostileTree.h"

namespace lk {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kUnixEpochTicks = 11644473600LL * kTicksPerSecond;
constexpr uid_t kNobody = 65534;

class PosixStore : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "lk-store-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    fs::create_directories(root_ / "ProgramData");
    fs::create_directories(root_ / "elsewhere");
    files = std::make_unique<PosixFileSystem>(root_.string());
    store = std::make_unique<PosixFileStore>(*files);
  }
  void TearDown() override { test::RemoveTree(root_.string()); }

  [[nodiscard]] mode_t Mode(const std::string& relative) const {
    struct stat status {};
    EXPECT_EQ(::lstat((root_ / relative).c_str(), &status), 0) << relative;
    return status.st_mode & 07777;
  }
  [[nodiscard]] std::string Content(const std::string& relative) const {
    std::ifstream in(root_ / relative, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
  }
  void Write(const std::string& relative, const std::string& content) const {
    std::ofstream(root_ / relative, std::ios::binary) << content;
  }

  fs::path root_;
  std::unique_ptr<PosixFileSystem> files;
  std::unique_ptr<PosixFileStore> store;
};

TEST_F(PosixStore, APrivateFolderIsMode0700TrustedAndNeverMadeTwice) {
  EXPECT_EQ(store->CheckPrivateDirectory("C:\\ProgramData\\Q"), FolderTrust::Missing);
  ASSERT_EQ(store->CreatePrivateDirectory("C:\\ProgramData\\Q"), 0u);
  EXPECT_EQ(Mode("ProgramData/Q"), 0700u);
  EXPECT_EQ(store->CheckPrivateDirectory("C:\\ProgramData\\Q"), FolderTrust::Private);
  EXPECT_EQ(store->CheckPrivateDirectory("c:/programdata/q"), FolderTrust::Private);
  EXPECT_EQ(store->CreatePrivateDirectory("C:\\ProgramData\\Q"), win_error::kFileExists);
  EXPECT_EQ(store->CreatePrivateDirectory("C:\\PROGRAMDATA\\q"), win_error::kFileExists);
  EXPECT_EQ(store->CreatePrivateDirectory("C:\\Missing\\Q"), 3u);
  EXPECT_FALSE(fs::exists(root_ / "Missing"));
}

TEST_F(PosixStore, UntrustedFoldersAreToldApart) {
  Write("ProgramData/file", "x");
  EXPECT_EQ(store->CheckPrivateDirectory("C:\\ProgramData\\file"), FolderTrust::NotADirectory);
  fs::create_directory_symlink(root_ / "elsewhere", root_ / "ProgramData/link");
  EXPECT_EQ(store->CheckPrivateDirectory("C:\\ProgramData\\link"), FolderTrust::ReparsePoint);
  fs::create_directory(root_ / "ProgramData/open");
  ASSERT_EQ(::chmod((root_ / "ProgramData/open").c_str(), 0777), 0);
  EXPECT_EQ(store->CheckPrivateDirectory("C:\\ProgramData\\open"), FolderTrust::WritableByOthers);
  ASSERT_EQ(::chmod((root_ / "ProgramData/open").c_str(), 0770), 0);
  EXPECT_EQ(store->CheckPrivateDirectory("C:\\ProgramData\\open"), FolderTrust::WritableByOthers);
  ASSERT_EQ(::chmod((root_ / "ProgramData/open").c_str(), 0755), 0);
  EXPECT_EQ(store->CheckPrivateDirectory("C:\\ProgramData\\open"), FolderTrust::Private);
  EXPECT_EQ(store->CheckPrivateDirectory("C:\\"), FolderTrust::NotADirectory);
}

TEST_F(PosixStore, AFolderOfAnotherUserIsForeignButTheCallersOwnIsPrivate) {
  if (::geteuid() != 0) GTEST_SKIP() << "changing a folder's owner needs root";
  fs::create_directory(root_ / "ProgramData/theirs");
  ASSERT_EQ(::chown((root_ / "ProgramData/theirs").c_str(), kNobody, kNobody), 0);
  EXPECT_EQ(store->CheckPrivateDirectory("C:\\ProgramData\\theirs"), FolderTrust::ForeignOwner);

  // As nobody, the folder nobody owns is the caller's own; a root-owned one is trusted too.
  ASSERT_EQ(::chmod(root_.c_str(), 0755), 0);
  ASSERT_EQ(::chmod((root_ / "ProgramData").c_str(), 0755), 0);
  const test::ScopedUnprivileged nobody;
  ASSERT_TRUE(nobody.Applies());
  EXPECT_EQ(store->CheckPrivateDirectory("C:\\ProgramData\\theirs"), FolderTrust::Private);
  EXPECT_EQ(store->CheckPrivateDirectory("C:\\ProgramData"), FolderTrust::Private);
}

TEST_F(PosixStore, NothingIsCreatedThroughALinkInTheFoldersPlace) {
  fs::create_directory_symlink(root_ / "elsewhere", root_ / "ProgramData/link");
  EXPECT_EQ(store->CreatePrivateDirectory("C:\\ProgramData\\link\\Q"), 1921u);
  std::uint32_t error = 0;
  EXPECT_EQ(store->CreateNewFile("C:\\ProgramData\\link\\f", &error), nullptr);
  EXPECT_EQ(error, 1921u);
  EXPECT_TRUE(fs::is_empty(root_ / "elsewhere"));

  // A link in the file's own place counts as an existing name: never written through.
  fs::create_symlink(root_ / "elsewhere/target", root_ / "ProgramData/f");
  error = 0;
  EXPECT_EQ(store->CreateNewFile("C:\\ProgramData\\f", &error), nullptr);
  EXPECT_EQ(error, win_error::kFileExists);
  EXPECT_FALSE(fs::exists(root_ / "elsewhere/target"));
}

TEST_F(PosixStore, ANewFileIsPrivateHoldsItsBytesAndNeverReplacesOne) {
  std::uint32_t error = 0;
  auto file = store->CreateNewFile("C:\\ProgramData\\new.bin", &error);
  ASSERT_NE(file, nullptr) << error;
  const std::string bytes("a\0b\xff", 4);
  EXPECT_EQ(file->Write(bytes.data(), bytes.size()), 0u);
  EXPECT_EQ(file->Write("tail", 4), 0u);
  EXPECT_EQ(file->Finish(), 0u);
  EXPECT_EQ(Content("ProgramData/new.bin"), bytes + "tail");
  EXPECT_EQ(Mode("ProgramData/new.bin"), 0600u);

  EXPECT_EQ(store->CreateNewFile("C:\\ProgramData\\NEW.BIN", &error), nullptr);
  EXPECT_EQ(error, win_error::kFileExists);
  EXPECT_EQ(Content("ProgramData/new.bin"), bytes + "tail");
}

TEST_F(PosixStore, DeletingRemovesFilesAndLinksButNotFoldersOrTargets) {
  Write("ProgramData/old.bin", "old");
  Write("elsewhere/kept", "kept");
  fs::create_symlink(root_ / "elsewhere/kept", root_ / "ProgramData/link");
  EXPECT_EQ(store->DeleteFile("C:\\ProgramData\\OLD.bin"), 0u);
  EXPECT_FALSE(fs::exists(root_ / "ProgramData/old.bin"));
  EXPECT_EQ(store->DeleteFile("C:\\ProgramData\\old.bin"), 2u);
  EXPECT_EQ(store->DeleteFile("C:\\ProgramData\\link"), 0u);
  EXPECT_EQ(Content("elsewhere/kept"), "kept");
  EXPECT_EQ(store->DeleteFile("C:\\elsewhere"), 5u);
  EXPECT_TRUE(fs::is_directory(root_ / "elsewhere"));
}

TEST_F(PosixStore, MetadataSetsTimesAndTheReadOnlyAttribute) {
  Write("ProgramData/f", "x");
  ASSERT_EQ(::chmod((root_ / "ProgramData/f").c_str(), 0644), 0);
  const std::int64_t access = kUnixEpochTicks + 1000000000LL * kTicksPerSecond + 1234500;
  const std::int64_t write = kUnixEpochTicks + 1200000000LL * kTicksPerSecond;
  EXPECT_EQ(
      store->SetFileMetadata("C:\\ProgramData\\f", file_attribute::kReadOnly, 1, access, write),
      0u);
  struct stat status {};
  ASSERT_EQ(::stat((root_ / "ProgramData/f").c_str(), &status), 0);
  EXPECT_EQ(status.st_atim.tv_sec, 1000000000);
  EXPECT_EQ(status.st_atim.tv_nsec, 123450000);
  EXPECT_EQ(status.st_mtim.tv_sec, 1200000000);
  EXPECT_EQ(status.st_mode & 07777, 0444u);

  // 0 leaves a time as it is; without read-only the owner may write again.
  EXPECT_EQ(store->SetFileMetadata("C:\\ProgramData\\f", file_attribute::kArchive, 0, 0, 0), 0u);
  ASSERT_EQ(::stat((root_ / "ProgramData/f").c_str(), &status), 0);
  EXPECT_EQ(status.st_mtim.tv_sec, 1200000000);
  EXPECT_EQ(status.st_mode & 07777, 0644u);

  fs::create_symlink(root_ / "ProgramData/f", root_ / "ProgramData/link");
  EXPECT_EQ(store->SetFileMetadata("C:\\ProgramData\\link", 0, 0, access, access), 1921u);
  EXPECT_EQ(store->SetFileMetadata("C:\\ProgramData\\none", 0, 0, access, access), 2u);
}

TEST(PosixStoreMounts, VolumesWithoutPosixModesAreKnownByTheirMountType) {
  EXPECT_FALSE(MountTypeKeepsModes("fuseblk"));  // ntfs-3g
  EXPECT_FALSE(MountTypeKeepsModes("ntfs3"));
  EXPECT_FALSE(MountTypeKeepsModes("ntfs"));
  EXPECT_TRUE(MountTypeKeepsModes("ext4"));
  EXPECT_TRUE(MountTypeKeepsModes("tmpfs"));
  EXPECT_TRUE(MountTypeKeepsModes("overlay"));
}

TEST_F(PosixStore, TheTemporaryFolderKeepsAccessRules) {
  EXPECT_TRUE(store->KeepsAccessRules("C:\\ProgramData"));
}

TEST_F(PosixStore, AHostFolderIsUsedOnlyThroughFoldersThatOthersCannotChange) {
  // root_ lies below the sticky temporary folder and is ours: a host path through it is trusted.
  const std::string host = (root_ / "elsewhere").string();
  EXPECT_EQ(store->CheckPrivateDirectory(host), FolderTrust::Private) << host;
  EXPECT_EQ(store->CreatePrivateDirectory(host + "/Q"), 0u);
  std::uint32_t error = 0;
  auto file = store->CreateNewFile(host + "/Q\\copy", &error);
  ASSERT_NE(file, nullptr) << error;
  EXPECT_EQ(file->Write("x", 1), 0u);
  EXPECT_EQ(file->Finish(), 0u);
  EXPECT_EQ(Content("elsewhere/Q/copy"), "x") << "a host path joined with '\\' is the same folder";

  // A folder on the way that others may change, or a link on the way, and nothing is made.
  fs::create_directories(root_ / "elsewhere/open/inner");
  ASSERT_EQ(::chmod((root_ / "elsewhere/open").c_str(), 0777), 0);
  EXPECT_EQ(store->CheckPrivateDirectory(host + "/open/inner"), FolderTrust::WritableByOthers);
  EXPECT_NE(store->CreatePrivateDirectory(host + "/open/inner/Q"), 0u);
  fs::create_directory_symlink(root_ / "elsewhere/Q", root_ / "ProgramData/to-q");
  EXPECT_EQ(store->CheckPrivateDirectory((root_ / "ProgramData/to-q/x").string()),
            FolderTrust::ReparsePoint);
  EXPECT_EQ(store->CreateNewFile((root_ / "ProgramData/to-q/new").string(), &error), nullptr);
  EXPECT_EQ(error, 1921u);
  EXPECT_FALSE(fs::exists(root_ / "elsewhere/Q/new"));
}

TEST_F(PosixStore, AHoleIsWrittenAsAHole) {
  std::uint32_t error = 0;
  auto file = store->CreateNewFile("C:\\ProgramData\\sparse", &error);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Write("MZ", 2), 0u);
  EXPECT_EQ(file->WriteHole(64LL << 20), 0u);
  EXPECT_EQ(file->Finish(), 0u);
  struct stat status {};
  ASSERT_EQ(::stat((root_ / "ProgramData/sparse").c_str(), &status), 0);
  EXPECT_EQ(status.st_size, 2 + (64LL << 20)) << "a hole at the end still counts in the size";
  EXPECT_LT(status.st_blocks * 512, 1 << 20);
}

}  // namespace
}  // namespace lk
