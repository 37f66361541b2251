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

[[maybe_unused]] void PutFileBytes(const std::string& path, std::string_view bytes) {
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
  EXPECT_FALSE(system->DisableFsRedirection().has_value());

  EXPECT_FALSE(system->DeviceCanBeOpened("\\\\.\\KeyboardClassC"));
  EXPECT_EQ(system->LastSystemError(), win_error::kCallNotImplemented);
  EXPECT_THAT(system->SystemErrorText(win_error::kCallNotImplemented), HasSubstr("offline"));
  tree.WriteFile("Windows/System32/mfc42ul.dll", "MZ");
  EXPECT_FALSE(system->DeleteFileAtRestart("C:\\Windows\\System32\\mfc42ul.dll"));
  EXPECT_EQ(system->LastSystemError(), win_error::kCallNotImplemented);
  EXPECT_TRUE(system->FilePresent("c:\\WINDOWS\\system32\\MFC42UL.DLL")) << "any case";
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
  const ServiceHandle manager = system->OpenServiceManager();
  const ServiceHandle service = system->OpenServiceEntry(manager, "WINSYS32");
  ASSERT_TRUE(service);
  EXPECT_EQ(system->QueryServiceState(service), ServiceState::Stopped) << "nothing runs";
  EXPECT_TRUE(system->DeleteServiceEntry(service));
  for (const char* set : {"ControlSet001", "ControlSet002", "ControlSet003"}) {
    EXPECT_FALSE(tree.KeyStored(HiveName::System, std::string(set) + "\\Services\\winsys32"))
        << set;
    EXPECT_TRUE(tree.KeyStored(HiveName::System, std::string(set) + "\\Services\\Beep") ||
                std::string(set) == "ControlSet003");
  }
  EXPECT_EQ(system->QueryServiceState(service), std::nullopt);
  EXPECT_FALSE(system->DeleteServiceEntry(service));
  EXPECT_EQ(system->LastSystemError(), win_error::kServiceDoesNotExist);
  system->CloseServiceObject(service);
  system->CloseServiceObject(manager);
}

TEST(OfflineServices, ARegisteredServiceGoesIntoTheCurrentControlSet) {
  test::WindowsTree tree;
  tree.SetDword(HiveName::System, "Select", "Current", 2);
  auto system = OpenTree(tree);
  const ServiceHandle manager = system->OpenServiceManager();
  ServiceDefinition definition;
  definition.name = "winsys32";
  definition.displayName = "winsys32";
  definition.start = 1;
  definition.imagePath = "system32\\drivers\\winsys32.sys";
  const ServiceHandle created = system->CreateServiceEntry(manager, definition);
  ASSERT_TRUE(created) << system->LastSystemError();
  EXPECT_FALSE(tree.KeyStored(HiveName::System, "ControlSet001\\Services\\winsys32"));
  const std::optional<HiveValue> start =
      tree.StoredValue(HiveName::System, "ControlSet002\\Services\\winsys32", "Start");
  ASSERT_TRUE(start.has_value());
  EXPECT_EQ(start->data, RegistryValue::Dword(1).data);
  EXPECT_EQ(
      tree.StoredValue(HiveName::System, "ControlSet002\\Services\\winsys32", "ImagePath")->type,
      2U);
  EXPECT_FALSE(system->CreateServiceEntry(manager, definition));
  EXPECT_EQ(system->LastSystemError(), win_error::kServiceExists);
  system->CloseServiceObject(created);
  system->CloseServiceObject(manager);
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
    EXPECT_TRUE(system->FilePresent("C:\\Windows\\System32\\mfc42ul.dll"));
    const ServiceHandle manager = system->OpenServiceManager();
    system->CloseServiceObject(system->OpenServiceEntry(manager, "winsys32"));
    system->CloseServiceObject(manager);
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
  const ServiceHandle manager = system->OpenServiceManager();
  const ServiceHandle service = system->OpenServiceEntry(manager, "winsys32");
  EXPECT_FALSE(system->DeleteServiceEntry(service));
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(tree.Fingerprint(), before);
  EXPECT_EQ(ReadString(*system, RegistryView::Native, kWindowsKey, "AppInit_DLLs"), "mfc42ul.dll");
  system->CloseServiceObject(service);
  system->CloseServiceObject(manager);
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

}  // namespace
}  // namespace lk
