// The offline system over the hive files and the folder of a Windows installation that is not
// running: what it maps where, what does not apply offline, what it writes and when, and how it
// meets damaged or hostile hives. What every SystemAccess does is in the contract suite.
#include "system/offline/OfflineSystemAccess.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "system/offline/HiveText.h"
#include "tests/support/BlankHive.h"
#include "tests/support/WindowsTree.h"

namespace lk {
namespace {

using test::HiveName;
using ::testing::HasSubstr;

constexpr char kWindowsKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
constexpr char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\winsys32";

std::unique_ptr<OfflineSystemAccess> OpenTree(const test::WindowsTree& tree) {
  std::string error;
  auto system = OfflineSystemAccess::Open(tree.Root(), &error);
  EXPECT_TRUE(system) << error;
  return system;
}

std::string ReadString(SystemAccess& system, RegistryView view, std::string_view key,
                       std::string_view name) {
  auto registry = system.ConnectRegistry(view);
  if (!registry->OpenMachineKeyReadOnly(key)) return "<no key>";
  return registry->ReadStringValue(name);
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void PutFileBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// --- Where things are ---------------------------------------------------------------------------

TEST(OfflineRegistryLayout, CurrentControlSetIsTheSetThatSelectNames) {
  test::WindowsTree tree;
  tree.SetString(HiveName::System, "ControlSet001\\Services\\winsys32", "ImagePath", "one");
  tree.SetString(HiveName::System, "ControlSet002\\Services\\winsys32", "ImagePath", "two");
  EXPECT_EQ(ReadString(*OpenTree(tree), RegistryView::Native, kServiceKey, "ImagePath"), "one");
  tree.SetDword(HiveName::System, "Select", "Current", 2);
  EXPECT_EQ(ReadString(*OpenTree(tree), RegistryView::Native, kServiceKey, "ImagePath"), "two");
  EXPECT_EQ(ReadString(*OpenTree(tree), RegistryView::Native,
                       "system\\controlset001\\services\\WINSYS32", "ImagePath"),
            "one");
  tree.SetDword(HiveName::System, "Select", "Current", 7);
  EXPECT_EQ(ReadString(*OpenTree(tree), RegistryView::Native, kServiceKey, "ImagePath"),
            "<no key>");
}

TEST(OfflineRegistryLayout, The32BitViewOfA64BitInstallationIsWow6432Node) {
  test::WindowsTree tree;
  tree.SetString(HiveName::Software, "Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Windows",
                 "AppInit_DLLs", "thirty-two.dll");
  tree.SetString(HiveName::Software, "Microsoft\\Windows NT\\CurrentVersion\\Windows",
                 "AppInit_DLLs", "native.dll");
  auto system = OpenTree(tree);
  EXPECT_TRUE(system->Is64BitWindows());
  EXPECT_EQ(ReadString(*system, RegistryView::Native, kWindowsKey, "AppInit_DLLs"), "native.dll");
  EXPECT_EQ(ReadString(*system, RegistryView::Default, kWindowsKey, "AppInit_DLLs"), "native.dll");
  EXPECT_EQ(ReadString(*system, RegistryView::Wow32, kWindowsKey, "AppInit_DLLs"),
            "thirty-two.dll");
  EXPECT_EQ(ReadString(*system, RegistryView::Wow32,
                       "SOFTWARE\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Windows",
                       "AppInit_DLLs"),
            "thirty-two.dll");
  // Only the two hives exist offline.
  EXPECT_EQ(ReadString(*system, RegistryView::Native, "HARDWARE\\DESCRIPTION", "x"), "<no key>");
  EXPECT_EQ(system->LastSystemError(), win_error::kFileNotFound);
}

TEST(OfflineRegistryLayout, A32BitInstallationHasOneView) {
  test::WindowsTree tree(test::WindowsTreeOptions{false, false});
  tree.SetString(HiveName::Software, "Microsoft\\Windows NT\\CurrentVersion\\Windows",
                 "AppInit_DLLs", "only.dll");
  auto system = OpenTree(tree);
  EXPECT_FALSE(system->Is64BitWindows());
  EXPECT_EQ(ReadString(*system, RegistryView::Wow32, kWindowsKey, "AppInit_DLLs"), "only.dll");
}

TEST(OfflinePlatform, AnswersForAnInstallationThatDoesNotRun) {
  test::WindowsTree tree;
  auto system = OpenTree(tree);
  EXPECT_TRUE(system->IsNtFamily());
  EXPECT_FALSE(system->RunningUnderWow64());
  EXPECT_EQ(system->QuerySystemDirectory(), "C:\\Windows\\System32");
  EXPECT_EQ(system->QueryProgramDataDirectory(), "C:\\ProgramData");
  EXPECT_TRUE(system->HasAdministratorRights()) << "the tree is writable";
  EXPECT_EQ(system->DisableFsRedirection(), nullptr);

  EXPECT_FALSE(system->DeviceCanBeOpened("\\\\.\\KeyboardClassC"));
  EXPECT_EQ(system->LastSystemError(), win_error::kCallNotImplemented);
  EXPECT_THAT(system->SystemErrorText(win_error::kCallNotImplemented), HasSubstr("offline"));
  tree.WriteFile("Windows/System32/mfc42ul.dll", "MZ");
  EXPECT_EQ(system->SystemFiles().DeleteFileAtRestart("C:\\Windows\\System32\\mfc42ul.dll"),
            win_error::kCallNotImplemented);
  EXPECT_EQ(system->SystemFiles().FindFile("c:\\WINDOWS\\system32\\MFC42UL.DLL"), 0U) << "any case";
}

TEST(OfflinePlatform, TheSystemFolderIsSpelledAsOnTheDisk) {
  test::WindowsTree tree;
  std::filesystem::rename(tree.Host("Windows"), tree.Host("WINDOWS"));
  std::filesystem::rename(tree.Host("WINDOWS/System32"), tree.Host("WINDOWS/system32"));
  auto system = OpenTree(tree);
  EXPECT_EQ(system->QuerySystemDirectory(), "C:\\WINDOWS\\system32");
}

// --- Services -----------------------------------------------------------------------------------

TEST(OfflineServices, ADeletedServiceLeavesEveryControlSet) {
  test::WindowsTree tree;
  tree.InstallKnownVersion();
  tree.AddKey(HiveName::System, "ControlSet003\\Services\\winsys32");
  auto system = OpenTree(tree);
  const std::unique_ptr<ServiceManager> manager = system->OpenServiceManager();
  ASSERT_TRUE(manager);
  const std::unique_ptr<Service> service = manager->OpenServiceEntry("WINSYS32");
  ASSERT_TRUE(service);
  EXPECT_EQ(service->QueryState(), ServiceState::Stopped) << "nothing runs";
  EXPECT_TRUE(service->Delete());
  for (const char* set : {"ControlSet001", "ControlSet002", "ControlSet003"}) {
    EXPECT_FALSE(tree.KeyStored(HiveName::System, std::string(set) + "\\Services\\winsys32"))
        << set;
    EXPECT_TRUE(tree.KeyStored(HiveName::System, std::string(set) + "\\Services\\Beep") ||
                std::string(set) == "ControlSet003");
  }
  EXPECT_EQ(service->QueryState(), std::nullopt);
  EXPECT_FALSE(service->Delete());
  EXPECT_EQ(system->LastSystemError(), win_error::kServiceDoesNotExist);
}

TEST(OfflineServices, ARegisteredServiceGoesIntoTheCurrentControlSet) {
  test::WindowsTree tree;
  tree.SetDword(HiveName::System, "Select", "Current", 2);
  auto system = OpenTree(tree);
  const std::unique_ptr<ServiceManager> manager = system->OpenServiceManager();
  ASSERT_TRUE(manager);
  ServiceDefinition definition;
  definition.name = "winsys32";
  definition.displayName = "winsys32";
  definition.start = 1;
  definition.imagePath = "system32\\drivers\\winsys32.sys";
  const std::unique_ptr<Service> created = manager->CreateServiceEntry(definition);
  ASSERT_TRUE(created) << system->LastSystemError();
  EXPECT_FALSE(tree.KeyStored(HiveName::System, "ControlSet001\\Services\\winsys32"));
  const std::optional<HiveValue> start =
      tree.StoredValue(HiveName::System, "ControlSet002\\Services\\winsys32", "Start");
  ASSERT_TRUE(start.has_value());
  EXPECT_EQ(start->data, RegistryValue::Dword(1).data);
  EXPECT_EQ(
      tree.StoredValue(HiveName::System, "ControlSet002\\Services\\winsys32", "ImagePath")->type,
      2U);
  EXPECT_FALSE(manager->CreateServiceEntry(definition));
  EXPECT_EQ(system->LastSystemError(), win_error::kServiceExists);
}

// --- Writing ------------------------------------------------------------------------------------

TEST(OfflineWriting, ReadingWritesNothing) {
  test::WindowsTree tree;
  tree.InstallKnownVersion();
  const auto before = tree.Fingerprint();
  {
    auto system = OpenTree(tree);
    auto registry = system->ConnectRegistry(RegistryView::Native);
    ASSERT_TRUE(registry->OpenMachineKeyReadWrite(kServiceKey));
    EXPECT_EQ(registry->ReadStringValue("ImagePath"), "system32\\drivers\\winsys32.sys");
    EXPECT_TRUE(registry->ValueNames().has_value());
    EXPECT_TRUE(registry->CreateMachineKey(kServiceKey)) << "it exists: nothing to create";
    EXPECT_EQ(system->SystemFiles().FindFile("C:\\Windows\\System32\\mfc42ul.dll"), 0U);
    const std::unique_ptr<ServiceManager> manager = system->OpenServiceManager();
    ASSERT_TRUE(manager);
    EXPECT_TRUE(manager->OpenServiceEntry("winsys32"));
  }
  EXPECT_EQ(tree.Fingerprint(), before);
}

TEST(OfflineWriting, TheHookKeepsEachHiveOnceBeforeItsFirstChange) {
  test::WindowsTree tree;
  tree.InstallKnownVersion();
  const std::string original = FileBytes(tree.HivePath(HiveName::Software));
  auto system = OpenTree(tree);
  std::vector<std::string> kept;
  std::vector<std::string> keptBytes;
  system->SetBeforeFirstHiveWrite([&](const std::string& hostPath) {
    kept.push_back(hostPath);
    keptBytes.push_back(FileBytes(hostPath));
    return true;
  });
  auto registry = system->ConnectRegistry(RegistryView::Native);
  ASSERT_TRUE(registry->OpenMachineKeyReadWrite(kWindowsKey));
  registry->WriteStringValue("AppInit_DLLs", "");
  registry->WriteStringValue("AppInit_DLLs", "other.dll");
  ASSERT_EQ(kept.size(), 1U);
  EXPECT_EQ(kept[0], tree.HivePath(HiveName::Software));
  EXPECT_EQ(keptBytes[0], original) << "the untouched hive";
  EXPECT_EQ(tree.StoredValue(HiveName::Software, kWindowsKey + 9, "AppInit_DLLs")->data,
            test::HiveString("other.dll"));
  EXPECT_FALSE(std::filesystem::exists(tree.HivePath(HiveName::Software) + ".lk-new"));

  ASSERT_TRUE(registry->OpenMachineKeyReadWrite("SYSTEM\\CurrentControlSet\\Services"));
  EXPECT_TRUE(registry->DeleteSubKeyTree("winsys32"));
  EXPECT_EQ(kept.size(), 2U);
  EXPECT_FALSE(tree.KeyStored(HiveName::System, "ControlSet001\\Services\\winsys32"));
  EXPECT_TRUE(tree.KeyStored(HiveName::System, "ControlSet002\\Services\\winsys32"));
}

TEST(OfflineWriting, ADecliningHookRefusesTheChangeWithFive) {
  test::WindowsTree tree;
  tree.InstallKnownVersion();
  const auto before = tree.Fingerprint();
  auto system = OpenTree(tree);
  int asked = 0;
  system->SetBeforeFirstHiveWrite([&](const std::string&) {
    ++asked;
    return false;
  });
  auto registry = system->ConnectRegistry(RegistryView::Native);
  ASSERT_TRUE(registry->OpenMachineKeyReadWrite(kWindowsKey));
  try {
    registry->WriteStringValue("AppInit_DLLs", "");
    ADD_FAILURE() << "the write went through";
  } catch (const SystemError& error) {
    EXPECT_EQ(error.Code(), win_error::kAccessDenied);
  }
  EXPECT_FALSE(registry->DeleteValue("AppInit_DLLs"));
  EXPECT_EQ(system->LastSystemError(), win_error::kAccessDenied);
  const std::unique_ptr<ServiceManager> manager = system->OpenServiceManager();
  ASSERT_TRUE(manager);
  const std::unique_ptr<Service> service = manager->OpenServiceEntry("winsys32");
  ASSERT_TRUE(service);
  EXPECT_FALSE(service->Delete());
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(tree.Fingerprint(), before);
  EXPECT_EQ(ReadString(*system, RegistryView::Native, kWindowsKey, "AppInit_DLLs"), "mfc42ul.dll");
}

// --- Hostile and damaged hives ------------------------------------------------------------------

TEST(OfflineHostileText, StringsWithoutNulOddLengthOrLoneSurrogatesAreRead) {
  test::WindowsTree tree;
  const std::string key = "Microsoft\\Windows NT\\CurrentVersion\\Windows";
  tree.SetValue(HiveName::Software, key, "Bare", 1, std::string("a\0b\0c\0", 6));
  tree.SetValue(HiveName::Software, key, "Odd", 1, std::string("a\0b\0c", 5));
  tree.SetValue(HiveName::Software, key, "Lone", 1, std::string("a\0\x00\xD8z\0\0\0", 8));
  tree.SetValue(HiveName::Software, key, "Two", 1, std::string("a\0\0\0b\0\0\0", 8));
  auto system = OpenTree(tree);
  EXPECT_EQ(ReadString(*system, RegistryView::Native, kWindowsKey, "Bare"), "abc");
  EXPECT_EQ(ReadString(*system, RegistryView::Native, kWindowsKey, "Odd"), "ab");
  EXPECT_EQ(ReadString(*system, RegistryView::Native, kWindowsKey, "Lone"), "a\xEF\xBF\xBDz");
  EXPECT_EQ(ReadString(*system, RegistryView::Native, kWindowsKey, "Two"), "a");
  EXPECT_EQ(TextFromHiveString(""), "");
  EXPECT_EQ(HiveDataFromUtf8(std::string("\xD0\x96\0", 3)), std::string("\x16\x04\0\0", 4));
}

// Damaged hives: each gives an error that names the file, never a crash or a hang.
class OfflineDamagedHive : public ::testing::Test {
 protected:
  OfflineDamagedHive() { tree.InstallKnownVersion(); }

  // The error of opening the tree, or "" when it opened.
  std::string OpenError() {
    std::string error;
    const auto system = OfflineSystemAccess::Open(tree.Root(), &error);
    return system ? std::string() : error;
  }
  std::string Software() { return FileBytes(tree.HivePath(HiveName::Software)); }
  void SetSoftware(const std::string& bytes) {
    PutFileBytes(tree.HivePath(HiveName::Software), bytes);
  }
  // Where the first cell after the hive bin header that holds text is.
  static std::size_t Find(const std::string& bytes, std::string_view text) {
    const std::size_t at = bytes.find(text);
    EXPECT_NE(at, std::string::npos) << text;
    return at;
  }

  test::WindowsTree tree{test::WindowsTreeOptions{true, false}};
};

TEST_F(OfflineDamagedHive, AMissingHiveIsNamed) {
  std::filesystem::remove(tree.HivePath(HiveName::System));
  EXPECT_THAT(OpenError(), HasSubstr("Windows/System32/config/SYSTEM"));
}

TEST_F(OfflineDamagedHive, ATruncatedHiveIsNamed) {
  SetSoftware(Software().substr(0, test::kBaseBlockSize + 100));
  EXPECT_THAT(OpenError(), HasSubstr(tree.HivePath(HiveName::Software)));
  SetSoftware(Software().substr(0, 100));
  EXPECT_THAT(OpenError(), HasSubstr(tree.HivePath(HiveName::Software)));
}

TEST_F(OfflineDamagedHive, AWrongSignatureIsNamed) {
  std::string bytes = Software();
  bytes.replace(0, 4, "regx");
  SetSoftware(bytes);
  EXPECT_THAT(OpenError(), HasSubstr(tree.HivePath(HiveName::Software)));
}

TEST_F(OfflineDamagedHive, ARootCellOutsideTheFileIsNamed) {
  std::string bytes = Software();
  test::WriteDword(bytes, test::kRootCellOffsetField, 0x7FFFFF00U);
  test::WriteDword(bytes, test::kChecksumField, test::BaseBlockChecksum(bytes));
  SetSoftware(bytes);
  EXPECT_THAT(OpenError(), HasSubstr(tree.HivePath(HiveName::Software)));
}

TEST_F(OfflineDamagedHive, ASubkeyListOutsideTheFileIsNamed) {
  std::string bytes = Software();
  const std::size_t root =
      test::kBaseBlockSize + test::ReadDword(bytes, test::kRootCellOffsetField);
  test::WriteDword(bytes, root + 4 + 0x1C, 0x7FFFFF00U);
  SetSoftware(bytes);
  EXPECT_THAT(OpenError(), HasSubstr(tree.HivePath(HiveName::Software)));
}

TEST_F(OfflineDamagedHive, ASubkeyListThatContainsItselfIsNamed) {
  std::string bytes = Software();
  const std::size_t root =
      test::kBaseBlockSize + test::ReadDword(bytes, test::kRootCellOffsetField);
  const std::uint32_t list = test::ReadDword(bytes, root + 4 + 0x1C);
  // An index of lists ("ri") whose one entry is the index itself.
  const std::size_t cell = test::kBaseBlockSize + list;
  bytes.replace(cell + 4, 2, "ri");
  bytes[cell + 6] = 1;
  bytes[cell + 7] = 0;
  test::WriteDword(bytes, cell + 8, list);
  SetSoftware(bytes);
  EXPECT_THAT(OpenError(), HasSubstr(tree.HivePath(HiveName::Software)));
}

TEST_F(OfflineDamagedHive, AHugeValueLengthIsNamedWhenTheValueIsRead) {
  tree.SetString(HiveName::Software, "Microsoft\\Windows NT\\CurrentVersion\\Windows",
                 "LkHugeValue", "a long enough text");
  std::string bytes = Software();
  // The value cell ("vk"): its name follows 20 bytes after the signature, its length 4 after it.
  const std::size_t name = Find(bytes, "LkHugeValue");
  ASSERT_EQ(bytes.substr(name - 20, 2), "vk");
  test::WriteDword(bytes, name - 16, 0x7FFFFFF0U);
  SetSoftware(bytes);
  ASSERT_EQ(OpenError(), "") << "the damage is below the root";
  std::string error;
  auto system = OfflineSystemAccess::Open(tree.Root(), &error);
  auto registry = system->ConnectRegistry(RegistryView::Native);
  ASSERT_TRUE(registry->OpenMachineKeyReadOnly(kWindowsKey));
  try {
    static_cast<void>(registry->ReadStringValue("LkHugeValue"));
    ADD_FAILURE() << "a value longer than its hive was read";
  } catch (const SystemError& failure) {
    EXPECT_EQ(failure.Code(), 1015U);
    EXPECT_THAT(failure.what(), HasSubstr(tree.HivePath(HiveName::Software)));
  }
  EXPECT_EQ(registry->ReadValue("LkHugeValue"), std::nullopt);
  EXPECT_THAT(system->SystemErrorText(system->LastSystemError()),
              HasSubstr(tree.HivePath(HiveName::Software)));
  EXPECT_EQ(ReadString(*system, RegistryView::Native, kWindowsKey, "AppInit_DLLs"), "mfc42ul.dll")
      << "the other values are still there";
}

TEST_F(OfflineDamagedHive, ADirtyHiveIsReported) {
  std::string bytes = FileBytes(tree.HivePath(HiveName::System));
  test::WriteDword(bytes, 4, test::ReadDword(bytes, 8) + 1);
  test::WriteDword(bytes, test::kChecksumField, test::BaseBlockChecksum(bytes));
  PutFileBytes(tree.HivePath(HiveName::System), bytes);
  std::string error;
  auto system = OfflineSystemAccess::Open(tree.Root(), &error);
  ASSERT_TRUE(system) << error;
  EXPECT_THAT(system->DirtyHives(), ::testing::ElementsAre(tree.HivePath(HiveName::System)));
}

}  // namespace
}  // namespace lk
