// The read-only file layer over an NTFS volume of a disk image: the same answers the file layer
// gives on a host folder (names without regard to case, "." and "..", patterns, errors), the
// volume's metadata files never shown, and every byte read as the tree had it.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>

#include "system/image/ImageSurvey.h"
#include "system/image/TskFileSystem.h"
#include "tests/support/WindowsTree.h"
#include "tests/system/image/ImageFixture.h"

namespace lk {
namespace {

using namespace file_error;

std::vector<std::string> Names(DirectoryEnumeration& entries) {
  std::vector<std::string> names;
  for (DirectoryEntry entry; entries.Next(entry);) names.push_back(entry.name);
  return names;
}

std::string ReadAll(ReadableFile& file) {
  std::string bytes(static_cast<std::size_t>(file.Size()), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ReadResult got = file.ReadAt(static_cast<std::int64_t>(done), bytes.data() + done,
                                       std::min<std::size_t>(bytes.size() - done, 7000));
    if (!got.Ok() || got.bytes == 0) return "(read failed)";
    done += got.bytes;
  }
  return bytes;
}

class ImageFiles : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    tree_ = new test::WindowsTree();
    tree_->WriteFile("Windows/System32/MixedCase.Dll", Pattern(300000));
    tree_->WriteFile("Windows/System32/empty.dll", "");
    tree_->WriteFile("Windows/System32/drivers/Deep/deeper/x.sys", "deep");
    tree_->WriteFile("Data/report.txt", "text");
    folder_ = new test::ImageFolder();
    const std::string path = folder_->Make(tree_->Root(), "bare.raw", {"--table", "none"});
    std::string error;
    const std::shared_ptr<DiskImage> image = DiskImage::Open(path, &error);
    ASSERT_TRUE(image) << error;
    volume_ = NtfsVolume::Open(image, 0, &error);
    ASSERT_TRUE(volume_) << error;
  }
  static void TearDownTestSuite() {
    volume_.reset();
    delete folder_;
    delete tree_;
  }
  static std::string Pattern(std::size_t length) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
  }

  TskFileSystem Files() { return TskFileSystem(volume_); }

  static test::WindowsTree* tree_;
  static test::ImageFolder* folder_;
  static std::shared_ptr<NtfsVolume> volume_;
};

test::WindowsTree* ImageFiles::tree_ = nullptr;
test::ImageFolder* ImageFiles::folder_ = nullptr;
std::shared_ptr<NtfsVolume> ImageFiles::volume_;

TEST_F(ImageFiles, NamesAreFoundWithoutRegardToCaseAndReadAsTheTreeHadThem) {
  TskFileSystem files = Files();
  std::uint32_t error = 0;
  for (const char* path :
       {"C:\\Windows\\System32\\MixedCase.Dll", "c:\\WINDOWS\\system32\\mixedcase.dll",
        "C:/windows/System32/MIXEDCASE.DLL", "\\Windows\\System32\\MixedCase.Dll"}) {
    SCOPED_TRACE(path);
    std::unique_ptr<ReadableFile> file = files.OpenForReading(path, FileShare::Read, &error);
    ASSERT_TRUE(file) << error;
    EXPECT_EQ(file->Size(), 300000);
    EXPECT_EQ(ReadAll(*file), Pattern(300000));
  }
  EXPECT_EQ(files.SpelledPath("c:\\windows\\SYSTEM32\\mixedcase.dll"),
            "C:\\Windows\\System32\\MixedCase.Dll");
  std::unique_ptr<ReadableFile> empty =
      files.OpenForReading("C:\\Windows\\System32\\EMPTY.DLL", FileShare::Read, &error);
  ASSERT_TRUE(empty);
  char byte = 0;
  EXPECT_EQ(empty->ReadAt(0, &byte, 1).bytes, 0U);
  std::unique_ptr<ReadableFile> big =
      files.OpenForReading("C:\\Windows\\System32\\MixedCase.Dll", FileShare::Read, &error);
  char tail[10] = {};
  const ReadResult atEnd = big->ReadAt(299995, tail, sizeof(tail));
  EXPECT_TRUE(atEnd.Ok());
  EXPECT_EQ(atEnd.bytes, 5U);
}

TEST_F(ImageFiles, MissingPathsFoldersAndOtherDrivesFailWithTheWindowsCodes) {
  TskFileSystem files = Files();
  std::uint32_t error = 0;
  EXPECT_FALSE(files.OpenForReading("C:\\Windows\\System32\\nope.dll", FileShare::Read, &error));
  EXPECT_EQ(error, kFileNotFound);
  EXPECT_FALSE(files.OpenForReading("C:\\Windows\\Nope\\x.dll", FileShare::Read, &error));
  EXPECT_EQ(error, kPathNotFound);
  EXPECT_FALSE(files.OpenForReading("C:\\Windows\\System32", FileShare::Read, &error));
  EXPECT_EQ(error, kAccessDenied);
  EXPECT_FALSE(
      files.OpenForReading("D:\\Windows\\System32\\MixedCase.Dll", FileShare::Read, &error));
  EXPECT_EQ(error, kPathNotFound);
  EXPECT_FALSE(files.OpenDirectory("C:\\Data\\report.txt", &error));
  EXPECT_EQ(error, kNotADirectory);
  EXPECT_FALSE(files.OpenForReading("C:\\$MFT", FileShare::Read, &error));
  const std::unique_ptr<DirectoryEnumeration> missing =
      files.EnumerateDirectory("C:\\Nothing", "*");
  DirectoryEntry entry;
  EXPECT_FALSE(missing->Next(entry));
  EXPECT_EQ(missing->Error(), kPathNotFound);
}

TEST_F(ImageFiles, FoldersListDotsAndEntriesButNeverTheMetadataFiles) {
  TskFileSystem files = Files();
  const std::vector<std::string> root = Names(*files.EnumerateDirectory("C:\\", "*"));
  EXPECT_EQ(root, (std::vector<std::string>{"Data", "ProgramData", "Windows"}));
  const std::vector<std::string> data = Names(*files.EnumerateDirectory("C:\\Data", "*"));
  EXPECT_EQ(data, (std::vector<std::string>{".", "..", "report.txt"}));
  const std::vector<std::string> dlls =
      Names(*files.EnumerateDirectory("C:\\Windows\\System32\\", "*.dll"));
  EXPECT_NE(std::find(dlls.begin(), dlls.end(), "MixedCase.Dll"), dlls.end());
  EXPECT_NE(std::find(dlls.begin(), dlls.end(), "empty.dll"), dlls.end());
  for (const std::string& name : dlls) {
    EXPECT_TRUE(FitsWindowsPattern(name, "*.dll")) << name;
  }
  // The same entries, in the same order, as the file layer gives over the tree itself.
  PosixFileSystem host(tree_->Root());
  EXPECT_EQ(dlls, Names(*host.EnumerateDirectory("C:\\Windows\\System32", "*.dll")));
  DirectoryEntry entry;
  std::unique_ptr<DirectoryEnumeration> one =
      files.EnumerateDirectory("C:\\Windows\\System32", "mixedcase.dll");
  ASSERT_TRUE(one->Next(entry));
  EXPECT_EQ(entry.size, 300000);
  EXPECT_FALSE(entry.IsDirectory());
  EXPECT_GT(entry.lastWriteTime, 0);
}

TEST_F(ImageFiles, AWalkByDirectoryOpensEntriesByTheirExactNames) {
  TskFileSystem files = Files();
  std::uint32_t error = 0;
  std::unique_ptr<Directory> drivers =
      files.OpenDirectory("C:\\Windows\\System32\\drivers", &error);
  ASSERT_TRUE(drivers) << error;
  std::unique_ptr<Directory> deep = drivers->OpenSubdirectory("Deep", &error);
  ASSERT_TRUE(deep) << error;
  EXPECT_FALSE(drivers->OpenSubdirectory("deep", &error));  // names as enumerated, exactly
  EXPECT_FALSE(drivers->OpenSubdirectory("..", &error));
  EXPECT_EQ(error, kInvalidName);
  std::unique_ptr<Directory> deeper = deep->OpenSubdirectory("deeper", &error);
  ASSERT_TRUE(deeper);
  std::unique_ptr<ReadableFile> file = deeper->OpenFile("x.sys", FileShare::Read, &error);
  ASSERT_TRUE(file);
  EXPECT_EQ(ReadAll(*file), "deep");
  EXPECT_FALSE(deeper->OpenFile("a\\x.sys", FileShare::Read, &error));
  EXPECT_EQ(error, kInvalidName);
  EXPECT_FALSE(deep->OpenFile("deeper", FileShare::Read, &error));
  EXPECT_EQ(error, kAccessDenied);
  // Enumerations outlive their directory.
  std::unique_ptr<DirectoryEnumeration> entries = deeper->Enumerate("*");
  deeper.reset();
  EXPECT_EQ(Names(*entries), (std::vector<std::string>{".", "..", "x.sys"}));
}

TEST_F(ImageFiles, TheVolumeTellsItsLabelSerialAndCleanState) {
  EXPECT_EQ(volume_->Label(), "Windows");
  EXPECT_EQ(volume_->Serial().size(), 16U);
  EXPECT_FALSE(volume_->IsDirty());
  EXPECT_EQ(volume_->Upcase(u'a'), u'A');
  EXPECT_EQ(volume_->Upcase(0x00E4), 0x00C4);  // the volume's table knows more than ASCII
}

}  // namespace
}  // namespace lk
