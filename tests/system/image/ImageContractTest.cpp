// The contract suites for the system over a disk image and its file layer: its registry (read from
// hive copies, so the suite's writes reach only the copies), its service manager and its files,
// read-only. One image is made for the whole program; each test opens it afresh, with hive copies
// of its own, and arranges its keys and values in those copies before the registry layer reads
// them.
#include "tests/system/contract/FileSystemContract.h"
#include "tests/system/contract/PlatformContract.h"
#include "tests/system/contract/RegistryContract.h"
#include "tests/system/contract/ServiceManagerContract.h"
#include "tests/system/contract/SystemFilesContract.h"

#include <memory>
#include <stdexcept>

#include "base/Utf8.h"
#include "system/image/DiskImage.h"
#include "system/image/ImageSystemAccess.h"
#include "system/image/NtfsVolume.h"
#include "system/image/PrivateHiveFolder.h"
#include "system/image/TskFileSystem.h"
#include "system/offline/OfflineSystemAccess.h"
#include "tests/support/WindowsTree.h"
#include "tests/system/image/ImageFixture.h"

namespace lk::contract {
namespace {

constexpr char kKey[] = "LkContract";
constexpr char kFolder[] = "C:\\LkContract";
constexpr char kFile[] = "C:\\LkContract\\mfc42ul.dll";
constexpr char kService[] = "LkContractService";

// The image every test opens: the contract's key, file and stopped service laid in beforehand,
// since nothing can be put into an image once it is made.
class ContractImage {
 public:
  static std::shared_ptr<NtfsVolume> Volume() {
    static ContractImage image;
    if (!image.volume_) throw std::runtime_error(image.error_);
    return image.volume_;
  }

 private:
  ContractImage() {
    tree_.AddKey(test::HiveName::Software, kKey);
    tree_.WriteFile("LkContract/mfc42ul.dll", "MZ");
    for (const auto& [path, bytes] : FileContractTree()) tree_.WriteFile(path, bytes);
    for (const char* set : {"ControlSet001", "ControlSet002"}) {
      const std::string key = std::string(set) + "\\Services\\" + kService;
      tree_.SetString(test::HiveName::System, key, "ImagePath", "system32\\lkcontract.exe", 2);
      tree_.SetDword(test::HiveName::System, key, "Type", 16);
      tree_.SetDword(test::HiveName::System, key, "Start", 3);
    }
    const std::string path = folder_.Make(tree_.Root(), "contract.raw", {"--table", "none"});
    const std::shared_ptr<DiskImage> disk = DiskImage::Open(path, &error_);
    if (disk) volume_ = NtfsVolume::Open(disk, 0, &error_);
  }

  test::WindowsTree tree_{test::WindowsTreeOptions{true, false}};
  test::ImageFolder folder_;
  std::string error_;
  std::shared_ptr<NtfsVolume> volume_;
};

class ImageSubject final : public Subject {
 public:
  ImageSubject() : files_(ContractImage::Volume()) {
    std::string error;
    hives_ = PrivateHiveFolder::CopyFrom(files_, &error);
    if (!hives_) throw std::runtime_error(error);
  }
  SystemAccess& System() override {
    if (!system_) {
      std::string error;
      std::unique_ptr<OfflineSystemAccess> registry =
          OfflineSystemAccess::Open(hives_->Root(), &error);
      if (!registry) throw std::runtime_error(error);
      system_ = std::make_unique<ImageSystemAccess>(std::move(registry), files_);
    }
    return *system_;
  }
  std::string Key() override { return std::string("SOFTWARE\\") + kKey; }
  void PutKey(std::string_view relative) override {
    Arranging();
    test::AddHiveFileKey(Software(), Below(relative));
  }
  void PutValue(std::string_view relative, std::string_view name,
                const RegistryValue& value) override {
    Arranging();
    test::SetHiveFileValue(Software(), Below(relative), name,
                           static_cast<std::uint32_t>(value.type),
                           HoldsText(value.type) ? Utf16(value.data) : value.data);
  }
  std::optional<RegistryValue> StoredValue(std::string_view relative,
                                           std::string_view name) override {
    const std::optional<HiveValue> stored =
        test::StoredHiveFileValue(Software(), Below(relative), name);
    if (!stored) return std::nullopt;
    RegistryValue value{static_cast<RegistryValueType>(stored->type), stored->data};
    if (HoldsText(value.type)) {
      std::u16string units;
      for (std::size_t i = 0; i + 1 < stored->data.size(); i += 2) {
        units.push_back(
            static_cast<char16_t>(static_cast<unsigned char>(stored->data[i]) |
                                  (static_cast<unsigned char>(stored->data[i + 1]) << 8U)));
      }
      value.data = Utf8FromUtf16(units);
    }
    return value;
  }
  bool KeyStored(std::string_view relative) override {
    return test::HiveFileKeyStored(Software(), Below(relative));
  }
  std::string Folder() override { return kFolder; }
  // Only what the image was made with can be "put".
  void PutFile(std::string_view path, std::string_view bytes) override {
    if (path != kFile || bytes != "MZ") ADD_FAILURE() << "the contract image holds no " << path;
  }
  bool FileStored(std::string_view path) override {
    std::uint32_t ignored = 0;
    return files_.IsRegularFile(path, &ignored);
  }
  std::string PutStoppedService() override { return kService; }

 private:
  static std::string Below(std::string_view relative) {
    return std::string(kKey) + (relative.empty() ? "" : "\\" + std::string(relative));
  }
  static std::string Utf16(std::string_view utf8) {
    std::string bytes;
    for (const char16_t unit : Utf16FromUtf8(utf8)) {
      bytes.push_back(static_cast<char>(unit & 0xFFU));
      bytes.push_back(static_cast<char>(unit >> 8U));
    }
    return bytes;
  }
  [[nodiscard]] std::string Software() const {
    return hives_->Root() + "/Windows/System32/config/SOFTWARE";
  }
  void Arranging() const {
    if (system_) ADD_FAILURE() << "arranged after the image's registry read the hives";
  }

  TskFileSystem files_;
  std::unique_ptr<PrivateHiveFolder> hives_;
  std::unique_ptr<ImageSystemAccess> system_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Image, RegistryContract, ImageSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Image, ServiceManagerContract, ImageSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Image, SystemFilesContract, ImageSubject);
INSTANTIATE_TYPED_TEST_SUITE_P(Image, PlatformContract, ImageSubject);
// The writing suites do not apply (see ImageSystemRefusal below), nor what only a running system
// does.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ServiceDeletionContract);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(SystemFileDeletionContract);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(LivePlatformContract);

// The image's read-only file layer, over the tree the host folder's layer is held to.
class TskFilesSubject {
 public:
  FileSystem& Files() { return files_; }
  static std::string Root() { return "C:"; }

 private:
  TskFileSystem files_{ContractImage::Volume()};
};

INSTANTIATE_TYPED_TEST_SUITE_P(Tsk, FileSystemContract, TskFilesSubject);

// What the writing suites ask of the other systems, the image refuses: its files and services
// stay as the image holds them.
TEST(ImageSystemRefusal, FilesAndServicesAreNeverDeleted) {
  ImageSubject subject;
  SystemAccess& system = subject.System();
  EXPECT_EQ(system.SystemFiles().DeleteFile(kFile), ReadOnlyFileStore::kWriteProtect);
  EXPECT_EQ(system.SystemFiles().FindFile(kFile), 0U);
  EXPECT_FALSE(system.PlatformQueries().HasAdministratorRights())
      << "so no removal is ever started on it";

  const std::unique_ptr<ServiceManager> manager = system.OpenServiceManager();
  ASSERT_TRUE(manager);
  {
    const std::unique_ptr<Service> service = manager->OpenServiceEntry(kService);
    ASSERT_TRUE(service);
    EXPECT_FALSE(service->Delete());
    EXPECT_EQ(system.LastSystemError(), win_error::kAccessDenied);
  }
  EXPECT_TRUE(manager->OpenServiceEntry(kService)) << "still registered";
}

}  // namespace
}  // namespace lk::contract
