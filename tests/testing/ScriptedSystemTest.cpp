// The scripted system behaves like the parts of Windows the analysis touches.
#include "testing/scripted/ScriptedSystem.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace lk {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr char kWindowsKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
constexpr char kServicesKey[] = "SYSTEM\\CurrentControlSet\\services";

std::uint32_t ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const SystemError& error) {
    return error.Code();
  }
  return 0;
}

bool LogMentions(const ScriptedSystem& system, const std::string& text) {
  return std::any_of(system.Log().begin(), system.Log().end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

// --- Registry -----------------------------------------------------------------------------------

TEST(ScriptedRegistryReading, StringTypesReadAsStoredAndOthersRaise) {
  ScriptedSystem system;
  system.SetValue(kWindowsKey, "AppInit_DLLs", RegistryValue::String("a.dll b.dll"));
  system.SetValue(kWindowsKey, "Empty", RegistryValue::String(""));
  system.SetValue(kWindowsKey, "NoData", RegistryValue{RegistryValueType::Sz, ""});
  system.SetValue(kWindowsKey, "Expand", RegistryValue::ExpandString("%SystemRoot%\\x"));
  system.SetValue(kWindowsKey, "Number", RegistryValue::Dword(7));
  system.SetValue(kWindowsKey, "Multi", RegistryValue::MultiString({"a", "b"}));
  system.SetValue(kWindowsKey, "Bytes", RegistryValue::Binary(std::string("ab\0c", 4)));
  system.SetValue(kWindowsKey, "NoBytes", RegistryValue::Binary(""));
  auto registry = system.ConnectRegistry(RegistryView::Default);
  ASSERT_TRUE(registry->OpenMachineKeyReadOnly(kWindowsKey));

  EXPECT_EQ(registry->ReadStringValue("appinit_dlls"), "a.dll b.dll");
  EXPECT_EQ(registry->ReadStringValue("Empty"), "");
  EXPECT_EQ(registry->ReadStringValue("NoData"), "");
  EXPECT_EQ(registry->ReadStringValue("Expand"), "%SystemRoot%\\x");
  EXPECT_EQ(ErrorOf([&] { (void)registry->ReadStringValue("Number"); }), 1630U);
  EXPECT_EQ(ErrorOf([&] { (void)registry->ReadStringValue("Multi"); }), 1630U);
  EXPECT_EQ(ErrorOf([&] { (void)registry->ReadStringValue("Bytes"); }), 1630U);
  EXPECT_EQ(registry->ReadStringValue("NoBytes"), "");  // a size of 0 is read before the type
  // A size query that fails gives the empty text, as on Windows.
  EXPECT_EQ(registry->ReadStringValue("Missing"), "");
  EXPECT_EQ(system.LastSystemError(), 2U);
  EXPECT_TRUE(registry->ValuePresent("NUMBER"));
  EXPECT_FALSE(registry->ValuePresent("Missing"));
}

TEST(ScriptedRegistryReading, ValuesKeepTheirWindowsLayout) {
  EXPECT_EQ(RegistryValue::String("").data, std::string(1, '\0'));
  EXPECT_EQ(RegistryValue::Dword(0x01020304).data, std::string("\x04\x03\x02\x01", 4));
  EXPECT_EQ(RegistryValue::MultiString({"a", "bc"}).data, std::string("a\0bc\0\0", 6));
}

TEST(ScriptedRegistryConnection, AFailedOpenKeepsTheOpenKey) {
  ScriptedSystem system;
  system.SetValue(kWindowsKey, "AppInit_DLLs", RegistryValue::String("x"));
  system.DenyKeyRead("SYSTEM\\Secret");
  system.DenyKeyWrite("SYSTEM\\ReadOnly");
  auto registry = system.ConnectRegistry(RegistryView::Default);
  ASSERT_TRUE(registry->OpenMachineKeyReadOnly(kWindowsKey));

  EXPECT_FALSE(registry->OpenMachineKeyReadOnly("SOFTWARE\\Missing"));
  EXPECT_EQ(system.LastSystemError(), 2U);
  EXPECT_FALSE(registry->OpenMachineKeyReadOnly("system\\secret"));
  EXPECT_EQ(system.LastSystemError(), 5U);
  EXPECT_FALSE(registry->OpenMachineKeyReadWrite("SYSTEM\\ReadOnly"));
  EXPECT_EQ(system.LastSystemError(), 5U);
  EXPECT_EQ(registry->ReadStringValue("AppInit_DLLs"), "x");
  EXPECT_EQ(system.OpenRegistryKeyCount(), 1);

  EXPECT_TRUE(registry->OpenMachineKeyReadOnly("SYSTEM\\ReadOnly"));
  EXPECT_EQ(system.OpenRegistryKeyCount(), 1);
  EXPECT_FALSE(registry->OpenMachineKeyReadWrite("SOFTWARE\\Missing"));
  EXPECT_EQ(system.OpenRegistryKeyCount(), 1);
}

TEST(ScriptedRegistryConnection, EndingTheConnectionClosesItsKey) {
  ScriptedSystem system;
  system.AddKey(kWindowsKey);
  {
    auto first = system.ConnectRegistry(RegistryView::Default);
    auto second = system.ConnectRegistry(RegistryView::Default);
    ASSERT_TRUE(first->OpenMachineKeyReadOnly(kWindowsKey));
    ASSERT_TRUE(second->OpenMachineKeyReadWrite(kWindowsKey));
    EXPECT_EQ(system.OpenRegistryKeyCount(), 2);
    second->CloseMachineKey();
    second->CloseMachineKey();
    EXPECT_EQ(system.OpenRegistryKeyCount(), 1);
    EXPECT_FALSE(second->ValuePresent("x"));
    EXPECT_EQ(system.LastSystemError(), 6U);
  }
  EXPECT_EQ(system.OpenRegistryKeyCount(), 0);
}

TEST(ScriptedRegistryConnection, AConnectionMayOutliveItsSystem) {
  std::unique_ptr<RegistryConnection> registry;
  {
    ScriptedSystem system;
    system.SetValue("A", "V", RegistryValue::String("x"));
    registry = system.ConnectRegistry(RegistryView::Default);
    ASSERT_TRUE(registry->OpenMachineKeyReadOnly("A"));
  }
  EXPECT_EQ(registry->ReadStringValue("V"), "x");
  registry.reset();
}

TEST(ScriptedRegistryWriting, WritesStoreTextWithItsNul) {
  ScriptedSystem system;
  system.SetValue(kWindowsKey, "AppInit_DLLs", RegistryValue::Dword(1));
  auto registry = system.ConnectRegistry(RegistryView::Default);
  ASSERT_TRUE(registry->OpenMachineKeyReadWrite(kWindowsKey));

  registry->WriteStringValue("AppInit_DLLs", "");
  EXPECT_EQ(system.Value(kWindowsKey, "appinit_dlls"), RegistryValue::String(""));
  EXPECT_EQ(system.Value(kWindowsKey, "AppInit_DLLs")->data.size(), 1U);
  registry->WriteStringValue("New", "abc");
  EXPECT_EQ(system.Value(kWindowsKey, "New"), RegistryValue::String("abc"));
  EXPECT_TRUE(LogMentions(
      system, "WriteStringValue " + std::string(kWindowsKey) + "\\AppInit_DLLs = \"\" ok"));
}

TEST(ScriptedRegistryWriting, AReadOnlyKeyRefusesWritesWithFive) {
  ScriptedSystem system;
  system.SetValue(kWindowsKey, "AppInit_DLLs", RegistryValue::String("keep"));
  auto registry = system.ConnectRegistry(RegistryView::Default);
  EXPECT_EQ(ErrorOf([&] { registry->WriteStringValue("AppInit_DLLs", ""); }), 6U);
  ASSERT_TRUE(registry->OpenMachineKeyReadOnly(kWindowsKey));
  EXPECT_EQ(ErrorOf([&] { registry->WriteStringValue("AppInit_DLLs", ""); }), 5U);
  EXPECT_EQ(system.Value(kWindowsKey, "AppInit_DLLs"), RegistryValue::String("keep"));
}

TEST(ScriptedRegistryDeletion, DeletesNestedTreesAndReportsMissingOnes) {
  ScriptedSystem system;
  const std::string service = std::string(kServicesKey) + "\\winsys32";
  system.SetValue(service, "ImagePath", RegistryValue::ExpandString("x.sys"));
  system.AddKey(service + "\\Enum\\Deep");
  system.AddKey(service + "\\Security");
  system.AddKey(std::string(kServicesKey) + "\\winsys32x");
  auto registry = system.ConnectRegistry(RegistryView::Default);
  ASSERT_TRUE(registry->OpenMachineKeyReadWrite(kServicesKey));

  EXPECT_TRUE(registry->SubKeyPresent("WINSYS32"));
  EXPECT_TRUE(registry->DeleteSubKeyTree("WinSys32"));
  EXPECT_FALSE(system.KeyExists(service));
  EXPECT_FALSE(system.KeyExists(service + "\\Enum\\Deep"));
  EXPECT_TRUE(system.KeyExists(std::string(kServicesKey) + "\\winsys32x"));
  EXPECT_TRUE(LogMentions(system, "DeleteKey " + service + "\\Enum\\Deep ok"));

  EXPECT_FALSE(registry->SubKeyPresent("winsys32"));
  EXPECT_FALSE(registry->DeleteSubKeyTree("winsys32"));
  EXPECT_EQ(system.LastSystemError(), 2U);
  EXPECT_FALSE(registry->DeleteSubKeyTree(""));
  EXPECT_EQ(system.LastSystemError(), 87U);
  EXPECT_TRUE(system.KeyExists(kServicesKey));
}

TEST(ScriptedRegistryDeletion, ARefusedSubkeyKeepsItsParents) {
  ScriptedSystem system;
  const std::string service = std::string(kServicesKey) + "\\winsys32";
  system.AddKey(service + "\\Open");
  system.DenyKeyWrite(service + "\\Locked");
  system.DenyKeyRead(std::string(kServicesKey) + "\\Hidden");
  auto registry = system.ConnectRegistry(RegistryView::Default);
  ASSERT_TRUE(registry->OpenMachineKeyReadWrite(kServicesKey));

  EXPECT_FALSE(registry->DeleteSubKeyTree("winsys32"));
  EXPECT_EQ(system.LastSystemError(), 5U);
  EXPECT_FALSE(system.KeyExists(service + "\\Open"));
  EXPECT_TRUE(system.KeyExists(service + "\\Locked"));
  EXPECT_TRUE(system.KeyExists(service));
  EXPECT_FALSE(registry->SubKeyPresent("Hidden"));
  EXPECT_EQ(system.LastSystemError(), 5U);
}

TEST(ScriptedRegistryDeletion, TheOpenKeyOfADeletedTreeFailsWithKeyDeleted) {
  ScriptedSystem system;
  const std::string service = std::string(kServicesKey) + "\\winsys32";
  system.SetValue(service, "ImagePath", RegistryValue::String("x"));
  auto reader = system.ConnectRegistry(RegistryView::Default);
  auto deleter = system.ConnectRegistry(RegistryView::Default);
  ASSERT_TRUE(reader->OpenMachineKeyReadOnly(service));
  ASSERT_TRUE(deleter->OpenMachineKeyReadWrite(kServicesKey));
  ASSERT_TRUE(deleter->DeleteSubKeyTree("winsys32"));
  EXPECT_FALSE(reader->ValuePresent("ImagePath"));
  EXPECT_EQ(system.LastSystemError(), 1018U);
}

TEST(ScriptedRegistryTypedAccess, ValuesOfEveryTypeRoundTripAndAreListedByName) {
  ScriptedSystem system;
  system.AddKey(kWindowsKey);
  auto registry = system.ConnectRegistry(RegistryView::Default);
  ASSERT_TRUE(registry->OpenMachineKeyReadWrite(kWindowsKey));
  const RegistryValue qword{RegistryValueType::Qword, std::string("\x01\0\0\0\0\0\0\x80", 8)};
  const RegistryValue odd{static_cast<RegistryValueType>(0x2A), "raw"};
  ASSERT_TRUE(registry->WriteValue("Q", qword));
  ASSERT_TRUE(registry->WriteValue("Odd", odd));
  ASSERT_TRUE(registry->WriteValue("", RegistryValue::MultiString({"a", "b"})));
  EXPECT_EQ(registry->ReadValue("q"), qword);
  EXPECT_EQ(registry->ReadValue("ODD"), odd);
  EXPECT_EQ(registry->ReadValue(""), RegistryValue::MultiString({"a", "b"}));
  EXPECT_THAT(*registry->ValueNames(), ElementsAre("", "Odd", "Q"));

  EXPECT_TRUE(registry->DeleteValue("odd"));
  EXPECT_FALSE(registry->ReadValue("Odd").has_value());
  EXPECT_EQ(system.LastSystemError(), 2U);
  EXPECT_FALSE(registry->DeleteValue("Odd"));
  EXPECT_EQ(system.LastSystemError(), 2U);
}

TEST(ScriptedRegistryTypedAccess, ChangesNeedAKeyOpenedForWriting) {
  ScriptedSystem system;
  system.SetValue(kWindowsKey, "AppInit_DLLs", RegistryValue::String("x"));
  auto registry = system.ConnectRegistry(RegistryView::Default);
  EXPECT_FALSE(registry->WriteValue("A", RegistryValue::Dword(1)));
  EXPECT_EQ(system.LastSystemError(), 6U);
  ASSERT_TRUE(registry->OpenMachineKeyReadOnly(kWindowsKey));
  EXPECT_FALSE(registry->WriteValue("A", RegistryValue::Dword(1)));
  EXPECT_EQ(system.LastSystemError(), 5U);
  EXPECT_FALSE(registry->DeleteValue("AppInit_DLLs"));
  EXPECT_EQ(system.Value(kWindowsKey, "AppInit_DLLs"), RegistryValue::String("x"));
  EXPECT_TRUE(
      LogMentions(system, "DeleteValue " + std::string(kWindowsKey) + "\\AppInit_DLLs failed 5"));
}

TEST(ScriptedRegistryTypedAccess, CreatingAKeyAddsItsParentsUnlessARefusedKeyIsOnTheWay) {
  ScriptedSystem system;
  system.AddKey("SYSTEM");
  system.DenyKeyWrite("SYSTEM\\Locked");
  auto registry = system.ConnectRegistry(RegistryView::Default);
  ASSERT_TRUE(registry->CreateMachineKey("SYSTEM\\New\\Deep\\Key"));
  ASSERT_TRUE(registry->WriteValue("V", RegistryValue::String("t")));
  EXPECT_TRUE(system.KeyExists("SYSTEM\\New\\Deep"));
  EXPECT_EQ(system.Value("system\\new\\deep\\key", "v"), RegistryValue::String("t"));
  EXPECT_FALSE(registry->CreateMachineKey("SYSTEM\\Locked\\Child"));
  EXPECT_EQ(system.LastSystemError(), 5U);
  EXPECT_FALSE(system.KeyExists("SYSTEM\\Locked\\Child"));

  ASSERT_TRUE(registry->OpenMachineKeyReadOnly("SYSTEM"));
  EXPECT_THAT(*registry->SubKeyNames(), ElementsAre("Locked", "New"));
}

TEST(ScriptedRegistryTypedAccess, The32BitViewCreatesUnderWow6432Node) {
  ScriptedSystem system;
  system.SetRunningUnderWow64(true);
  auto wow = system.ConnectRegistry(RegistryView::Wow32);
  ASSERT_TRUE(wow->CreateMachineKey("SOFTWARE\\Vendor"));
  EXPECT_TRUE(system.KeyExists("SOFTWARE\\Wow6432Node\\Vendor"));
  EXPECT_FALSE(system.KeyExists("SOFTWARE\\Vendor"));
}

TEST(ScriptedRegistrySnapshot, ListsKeysInCaseInsensitiveOrder) {
  ScriptedSystem system;
  system.SetValue("b\\Key", "V", RegistryValue::Dword(1));
  system.AddKey("A");
  const auto snapshot = system.RegistrySnapshot();
  std::vector<std::string> names;
  for (const auto& entry : snapshot) names.push_back(entry.first);
  EXPECT_THAT(names, ElementsAre("A", "b", "b\\Key"));
  EXPECT_EQ(snapshot[2].second.at("V"), RegistryValue::Dword(1));
}

// --- Files and devices --------------------------------------------------------------------------

TEST(ScriptedFiles, DirectoriesAreNoFilesAndMissingPathsGiveTwoOrThree) {
  ScriptedSystem system;
  system.AddFile("C:\\WINDOWS\\system32\\mfc42ul.dll");
  EXPECT_EQ(system.SystemFiles().FindFile("c:\\windows\\SYSTEM32\\MFC42UL.DLL"), 0U);
  EXPECT_EQ(system.SystemFiles().FindFile("C:/WINDOWS/system32/mfc42ul.dll"), 0U);
  EXPECT_NE(system.SystemFiles().FindFile("C:\\WINDOWS\\system32"), 0U);
  EXPECT_NE(system.SystemFiles().FindFile("C:\\WINDOWS\\system32\\Drivers"), 0U);
  EXPECT_EQ(system.SystemFiles().FindFile("C:\\WINDOWS\\system32\\Drivers\\winsys32.sys"), 2U);
  EXPECT_EQ(system.SystemFiles().FindFile("C:\\Missing\\x.dll"), 3U);
  EXPECT_EQ(system.QuerySystemDirectory(), "C:\\WINDOWS\\system32");
}

TEST(ScriptedFiles, FilesInUseCannotBeDeletedNow) {
  ScriptedSystem system;
  std::vector<std::string> deleted;
  system.OnFileDeleted([&](const std::string& path) { deleted.push_back(path); });
  system.AddFile("C:\\WINDOWS\\system32\\Drivers\\winsys32.sys", true);
  system.AddFile("C:\\WINDOWS\\system32\\mfc42ul.dll");

  EXPECT_EQ(system.SystemFiles().DeleteFile("C:\\WINDOWS\\system32\\drivers\\winsys32.sys"), 32U);
  EXPECT_TRUE(system.FileExists("C:\\WINDOWS\\system32\\Drivers\\winsys32.sys"));
  EXPECT_EQ(system.SystemFiles().DeleteFile("C:\\WINDOWS\\system32"), 5U);

  EXPECT_EQ(system.SystemFiles().DeleteFile("c:\\windows\\system32\\MFC42UL.DLL"), 0U);
  EXPECT_FALSE(system.FileExists("C:\\WINDOWS\\system32\\mfc42ul.dll"));
  EXPECT_THAT(deleted, ElementsAre("C:\\WINDOWS\\system32\\mfc42ul.dll"));
  EXPECT_EQ(system.SystemFiles().DeleteFile("C:\\WINDOWS\\system32\\mfc42ul.dll"), 2U);
  EXPECT_THAT(system.Files(), ElementsAre("C:\\WINDOWS\\system32\\Drivers\\winsys32.sys"));
  EXPECT_TRUE(LogMentions(system, "DeleteFileNow C:\\WINDOWS\\system32\\mfc42ul.dll ok"));
  EXPECT_TRUE(LogMentions(system, "winsys32.sys failed 32"));
}

TEST(ScriptedFiles, RestartDeletionsAreRecordedInRequestOrder) {
  ScriptedSystem system;
  system.AddFile("C:\\WINDOWS\\system32\\b.dll", true);
  EXPECT_EQ(system.SystemFiles().DeleteFileAtRestart("C:\\WINDOWS\\system32\\b.dll"), 0U);
  EXPECT_EQ(system.SystemFiles().DeleteFileAtRestart("C:\\WINDOWS\\system32\\missing.dll"), 0U);
  EXPECT_THAT(system.PendingDeletions(),
              ElementsAre("C:\\WINDOWS\\system32\\b.dll", "C:\\WINDOWS\\system32\\missing.dll"));
  EXPECT_TRUE(system.FileExists("C:\\WINDOWS\\system32\\b.dll"));
}

TEST(ScriptedFiles, ARestartDeletionCanBeWithdrawnOnce) {
  ScriptedSystem system;
  ASSERT_EQ(system.SystemFiles().DeleteFileAtRestart("C:\\WINDOWS\\system32\\a.dll"), 0U);
  ASSERT_EQ(system.SystemFiles().DeleteFileAtRestart("C:\\WINDOWS\\system32\\b.dll"), 0U);
  EXPECT_EQ(system.SystemFiles().CancelDeleteAtRestart("c:\\windows\\SYSTEM32\\A.DLL"), 0U);
  EXPECT_THAT(system.PendingDeletions(), ElementsAre("C:\\WINDOWS\\system32\\b.dll"));
  EXPECT_EQ(system.SystemFiles().CancelDeleteAtRestart("C:\\WINDOWS\\system32\\a.dll"), 2U);
}

TEST(ScriptedDevices, OpenWhenScriptedOrWhenAFreeFileIsThere) {
  ScriptedSystem system;
  system.AddDevice("\\\\.\\KeyboardClassC");
  system.AddFile("C:\\free.txt");
  system.AddFile("C:\\busy.txt", true);
  EXPECT_TRUE(system.DeviceCanBeOpened("\\\\.\\keyboardclassc"));
  EXPECT_TRUE(system.DeviceCanBeOpened("C:\\free.txt"));
  EXPECT_FALSE(system.DeviceCanBeOpened("C:\\busy.txt"));
  EXPECT_EQ(system.LastSystemError(), 32U);
  system.RemoveDevice("\\\\.\\KeyboardClassC");
  EXPECT_FALSE(system.DeviceCanBeOpened("\\\\.\\KeyboardClassC"));
}

// --- Services -----------------------------------------------------------------------------------

class ScriptedServices : public ::testing::Test {
 protected:
  ServiceHandle Open(const char* name) {
    manager_ = system_.OpenServiceManagerHandle();
    return system_.OpenServiceEntry(manager_, name);
  }
  void CloseAll(ServiceHandle service) {
    system_.CloseServiceObject(service);
    system_.CloseServiceObject(manager_);
  }
  ScriptedSystem system_;
  ServiceHandle manager_;
};

TEST_F(ScriptedServices, AMissingServiceGives1060) {
  const ServiceHandle service = Open("winsys32");
  EXPECT_FALSE(service);
  EXPECT_EQ(system_.LastSystemError(), 1060U);
  EXPECT_EQ(system_.SystemErrorText(1060),
            "The specified service does not exist as an installed service");
  CloseAll(service);
  EXPECT_EQ(system_.OpenServiceHandleCount(), 0);
  EXPECT_EQ(system_.HandleFaultCount(), 0);
}

TEST_F(ScriptedServices, AcceptedStopReportsTheScriptedStatesOnePerQuery) {
  ServiceScript script;
  script.statesAfterStop = {ServiceState::StopPending, ServiceState::Stopped};
  system_.AddService("winsys32", script);
  const ServiceHandle service = Open("WINSYS32");
  ASSERT_TRUE(service);
  EXPECT_EQ(system_.QueryServiceState(service), ServiceState::Running);
  EXPECT_EQ(system_.SendServiceStop(service), ServiceState::StopPending);
  EXPECT_EQ(system_.QueryServiceState(service), ServiceState::StopPending);
  EXPECT_EQ(system_.QueryServiceState(service), ServiceState::Stopped);
  EXPECT_EQ(system_.QueryServiceState(service), ServiceState::Stopped);
  EXPECT_FALSE(system_.SendServiceStop(service));
  EXPECT_EQ(system_.LastSystemError(), 1062U);
  EXPECT_TRUE(LogMentions(system_, "SendServiceStop winsys32 accepted"));
  CloseAll(service);
}

TEST_F(ScriptedServices, WithoutScriptedStatesAStopEndsAtOnce) {
  system_.AddService("winsys32", {});
  const ServiceHandle service = Open("winsys32");
  EXPECT_EQ(system_.SendServiceStop(service), ServiceState::Stopped);
  EXPECT_EQ(system_.CurrentServiceState("winsys32"), ServiceState::Stopped);
  CloseAll(service);
}

TEST_F(ScriptedServices, ARefusedStopFailsWith1052AndKeepsTheState) {
  ServiceScript script;
  script.acceptsStop = false;
  system_.AddService("winsys32", script);
  const ServiceHandle service = Open("winsys32");
  EXPECT_FALSE(system_.SendServiceStop(service));
  EXPECT_EQ(system_.LastSystemError(), 1052U);
  EXPECT_EQ(system_.QueryServiceState(service), ServiceState::Running);
  CloseAll(service);
}

TEST_F(ScriptedServices, StartPendingLastsTheScriptedNumberOfQueries) {
  ServiceScript script;
  script.state = ServiceState::StartPending;
  script.startPendingQueries = 2;
  system_.AddService("winsys32", script);
  const ServiceHandle service = Open("winsys32");
  EXPECT_EQ(system_.QueryServiceState(service), ServiceState::StartPending);
  EXPECT_FALSE(system_.SendServiceStop(service));  // a starting service takes no controls
  EXPECT_EQ(system_.LastSystemError(), 1061U);
  EXPECT_EQ(system_.QueryServiceState(service), ServiceState::StartPending);
  EXPECT_EQ(system_.QueryServiceState(service), ServiceState::Running);
  CloseAll(service);
}

TEST_F(ScriptedServices, ADeletedServiceLivesOnUntilStoppedAndClosed) {
  system_.AddService("winsys32", {});
  const ServiceHandle first = Open("winsys32");
  const ServiceHandle second = system_.OpenServiceEntry(manager_, "winsys32");
  EXPECT_TRUE(system_.DeleteServiceEntry(first));
  EXPECT_TRUE(system_.ServiceMarkedForDeletion("winsys32"));
  EXPECT_FALSE(system_.DeleteServiceEntry(second));
  EXPECT_EQ(system_.LastSystemError(), 1072U);
  EXPECT_EQ(system_.QueryServiceState(first), ServiceState::Running);

  system_.CloseServiceObject(first);
  system_.CloseServiceObject(second);
  EXPECT_TRUE(system_.ServiceExists("winsys32"));  // still running
  const ServiceHandle third = system_.OpenServiceEntry(manager_, "winsys32");
  ASSERT_TRUE(third);
  EXPECT_EQ(system_.SendServiceStop(third), ServiceState::Stopped);
  EXPECT_TRUE(system_.ServiceExists("winsys32"));  // a handle is still open
  CloseAll(third);
  EXPECT_FALSE(system_.ServiceExists("winsys32"));
  EXPECT_TRUE(LogMentions(system_, "ServiceRemoved winsys32"));

  EXPECT_FALSE(Open("winsys32"));
  EXPECT_EQ(system_.LastSystemError(), 1060U);
  system_.CloseServiceObject(manager_);
  EXPECT_EQ(system_.OpenServiceHandleCount(), 0);
}

TEST_F(ScriptedServices, AScriptedDeleteErrorLeavesTheServiceUnmarked) {
  ServiceScript script;
  script.deleteError = 5;
  system_.AddService("winsys32", script);
  const ServiceHandle service = Open("winsys32");
  EXPECT_FALSE(system_.DeleteServiceEntry(service));
  EXPECT_EQ(system_.LastSystemError(), 5U);
  EXPECT_FALSE(system_.ServiceMarkedForDeletion("winsys32"));
  EXPECT_TRUE(LogMentions(system_, "DeleteServiceEntry winsys32 failed 5"));
  CloseAll(service);
}

TEST_F(ScriptedServices, EveryHandleIsCountedAndADoubleCloseIsAFault) {
  system_.AddService("winsys32", {});
  const ServiceHandle service = Open("winsys32");
  EXPECT_EQ(system_.OpenServiceHandleCount(), 2);
  system_.CloseServiceObject(ServiceHandle{});
  EXPECT_EQ(system_.OpenServiceHandleCount(), 2);
  CloseAll(service);
  EXPECT_EQ(system_.OpenServiceHandleCount(), 0);
  EXPECT_EQ(system_.HandleFaultCount(), 0);

  system_.CloseServiceObject(service);
  EXPECT_EQ(system_.HandleFaultCount(), 1);
  EXPECT_EQ(system_.LastSystemError(), 6U);
  EXPECT_TRUE(LogMentions(system_,
                          "CloseServiceObject " + std::to_string(service.value) + " double-close"));
  EXPECT_FALSE(system_.QueryServiceState(service));
  EXPECT_FALSE(system_.OpenServiceEntry(service, "winsys32"));  // not a manager handle
}

TEST_F(ScriptedServices, ACreatedServiceIsStoppedAndRegisteredInItsKey) {
  ServiceDefinition definition;
  definition.name = "fresh";
  definition.imagePath = "system32\\drivers\\fresh.sys";
  definition.start = 1;
  manager_ = system_.OpenServiceManagerHandle();
  const ServiceHandle created = system_.CreateServiceEntry(manager_, definition);
  ASSERT_TRUE(created);
  EXPECT_EQ(system_.QueryServiceState(created), ServiceState::Stopped);
  const std::string key = std::string(kServicesKey) + "\\fresh";
  EXPECT_EQ(system_.Value(key, "ImagePath"), RegistryValue::ExpandString(definition.imagePath));
  EXPECT_EQ(system_.Value(key, "Start"), RegistryValue::Dword(1));

  EXPECT_FALSE(system_.CreateServiceEntry(manager_, definition));
  EXPECT_EQ(system_.LastSystemError(), 1073U);
  ASSERT_TRUE(system_.DeleteServiceEntry(created));
  EXPECT_FALSE(system_.CreateServiceEntry(manager_, definition));
  EXPECT_EQ(system_.LastSystemError(), 1072U);
  CloseAll(created);
}

TEST_F(ScriptedServices, AnUnavailableManagerRefusesWithFive) {
  system_.SetServiceManagerAvailable(false);
  EXPECT_EQ(system_.OpenServiceManager(), nullptr);
  EXPECT_EQ(system_.LastSystemError(), 5U);
}

// --- Redirection --------------------------------------------------------------------------------

TEST(ScriptedRedirection, TheSystemDirectoryStandsForSysWow64WhileOn) {
  ScriptedSystem system;
  EXPECT_EQ(system.RedirectedPath("C:\\WINDOWS\\system32\\x.dll"), "C:\\WINDOWS\\system32\\x.dll");
  system.SetRunningUnderWow64(true);
  EXPECT_EQ(system.RedirectedPath("C:\\WINDOWS\\system32\\x.dll"), "C:\\WINDOWS\\SysWOW64\\x.dll");
  EXPECT_EQ(system.RedirectedPath("c:\\windows\\SYSTEM32"), "C:\\WINDOWS\\SysWOW64");
  EXPECT_EQ(system.RedirectedPath("C:\\WINDOWS\\system32\\Drivers\\w.sys"),
            "C:\\WINDOWS\\SysWOW64\\Drivers\\w.sys");
  EXPECT_EQ(system.RedirectedPath("C:\\WINDOWS\\system32x\\a"), "C:\\WINDOWS\\system32x\\a");
  for (const char* exempt :
       {"drivers\\etc\\hosts", "catroot\\a", "catroot2", "LogFiles\\x", "spool\\drivers"}) {
    const std::string path = std::string("C:\\WINDOWS\\system32\\") + exempt;
    EXPECT_EQ(system.RedirectedPath(path), path);
  }
  EXPECT_EQ(system.RedirectedPath("C:\\WINDOWS\\Sysnative\\x.dll"), "C:\\WINDOWS\\system32\\x.dll");

  {
    const std::unique_ptr<FsRedirectionScope> off = system.DisableFsRedirection();
    ASSERT_TRUE(off);
    EXPECT_EQ(system.RedirectedPath("C:\\WINDOWS\\system32\\x.dll"),
              "C:\\WINDOWS\\system32\\x.dll");
  }
  EXPECT_FALSE(system.RedirectionDisabled());
}

TEST(ScriptedRedirection, FileOperationsFollowTheRedirection) {
  ScriptedSystem system;
  system.SetRunningUnderWow64(true);
  system.AddFile("C:\\WINDOWS\\system32\\drivers\\winsys32.sys");
  EXPECT_EQ(system.SystemFiles().FindFile("C:\\WINDOWS\\system32\\drivers\\winsys32.sys"),
            3U);  // SysWOW64 has no drivers folder
  {
    const std::unique_ptr<FsRedirectionScope> off = system.DisableFsRedirection();
    ASSERT_TRUE(off);
    EXPECT_EQ(system.SystemFiles().FindFile("C:\\WINDOWS\\system32\\drivers\\winsys32.sys"), 0U);
  }
  EXPECT_NE(system.SystemFiles().DeleteFile("C:\\WINDOWS\\system32\\drivers\\winsys32.sys"), 0U);
  EXPECT_TRUE(system.FileExists("C:\\WINDOWS\\system32\\drivers\\winsys32.sys"));
}

TEST(ScriptedRedirection, TokensRestoreThePreviousState) {
  ScriptedSystem system;
  system.SetRunningUnderWow64(true);
  const auto outer = system.DisableRedirectionToken();
  const auto inner = system.DisableRedirectionToken();
  ASSERT_TRUE(outer && inner);
  EXPECT_TRUE(system.RevertRedirectionToken(*inner));
  EXPECT_TRUE(system.RedirectionDisabled());
  EXPECT_FALSE(system.RevertRedirectionToken(*inner));
  EXPECT_EQ(system.LastSystemError(), 87U);
  EXPECT_TRUE(system.RevertRedirectionToken(*outer));
  EXPECT_FALSE(system.RedirectionDisabled());
  EXPECT_TRUE(LogMentions(system, "DisableFsRedirection ok"));
}

TEST(ScriptedRedirection, FailsOnA32BitSystemAndWhereNotOffered) {
  ScriptedSystem system;
  EXPECT_EQ(system.DisableFsRedirection(), nullptr);
  EXPECT_EQ(system.LastSystemError(), 1U);
  EXPECT_FALSE(system.RevertRedirectionToken(RedirectionToken{}));
  EXPECT_EQ(system.LastSystemError(), 1U);
  system.SetRunningUnderWow64(true);
  system.SetRedirectionAvailable(false);
  EXPECT_EQ(system.DisableFsRedirection(), nullptr);
  EXPECT_EQ(system.LastSystemError(), 127U);
  EXPECT_FALSE(system.RedirectionDisabled());
}

// The owner the seam hands out for the redirection switch, as the sweep and the scan use it.
std::ptrdiff_t RevertCalls(const ScriptedSystem& system) {
  return std::count_if(system.Log().begin(), system.Log().end(), [](const std::string& line) {
    return line.rfind("RevertFsRedirection", 0) == 0;
  });
}

TEST(FsRedirectionScope, SwitchesBackOnOnceWhenItEnds) {
  ScriptedSystem system;
  system.SetRunningUnderWow64(true);
  {
    const std::unique_ptr<FsRedirectionScope> redirection = system.DisableFsRedirection();
    EXPECT_TRUE(redirection);
    EXPECT_TRUE(system.RedirectionDisabled());
  }
  EXPECT_FALSE(system.RedirectionDisabled());
  EXPECT_EQ(RevertCalls(system), 1);
  EXPECT_FALSE(LogMentions(system, "RevertFsRedirection failed"));
}

TEST(FsRedirectionScope, NestedScopesRestoreTheStateEachFound) {
  ScriptedSystem system;
  system.SetRunningUnderWow64(true);
  std::unique_ptr<FsRedirectionScope> outer = system.DisableFsRedirection();
  {
    const std::unique_ptr<FsRedirectionScope> inner = system.DisableFsRedirection();
    ASSERT_TRUE(inner);
  }
  EXPECT_TRUE(system.RedirectionDisabled()) << "the outer scope still holds it off";
  outer.reset();
  EXPECT_FALSE(system.RedirectionDisabled());
  EXPECT_EQ(RevertCalls(system), 2);
}

TEST(FsRedirectionScope, ARefusalHandsOutNoOwnerAndRevertsNothing) {
  ScriptedSystem system;
  system.SetRunningUnderWow64(true);
  system.SetRedirectionAvailable(false);
  EXPECT_EQ(system.DisableFsRedirection(), nullptr);
  EXPECT_EQ(RevertCalls(system), 0);
  EXPECT_FALSE(system.RedirectionDisabled());
}

TEST(FsRedirectionScope, RevertsOnTheWayOutOfAFailure) {
  ScriptedSystem system;
  system.SetRunningUnderWow64(true);
  EXPECT_THROW(
      {
        const std::unique_ptr<FsRedirectionScope> redirection = system.DisableFsRedirection();
        throw std::runtime_error("failure inside the scope");
      },
      std::runtime_error);
  EXPECT_FALSE(system.RedirectionDisabled());
}

TEST(ScriptedLog, ReadingTheMachineLeavesNoTrace) {
  ScriptedSystem system;
  system.SetValue(kWindowsKey, "AppInit_DLLs", RegistryValue::String("x"));
  system.AddFile("C:\\WINDOWS\\system32\\mfc42ul.dll");
  system.AddService("winsys32", {});
  {
    auto registry = system.ConnectRegistry(RegistryView::Default);
    EXPECT_TRUE(registry->OpenMachineKeyReadWrite(kWindowsKey));
    EXPECT_EQ(registry->ReadStringValue("AppInit_DLLs"), "x");
    EXPECT_FALSE(registry->SubKeyPresent("Missing"));
  }
  EXPECT_EQ(system.SystemFiles().FindFile("C:\\WINDOWS\\system32\\mfc42ul.dll"), 0U);
  EXPECT_FALSE(system.DeviceCanBeOpened("\\\\.\\KeyboardClassC"));
  {
    const std::unique_ptr<ServiceManager> manager = system.OpenServiceManager();
    ASSERT_TRUE(manager);
    const std::unique_ptr<Service> service = manager->OpenServiceEntry("winsys32");
    ASSERT_TRUE(service);
    EXPECT_EQ(service->QueryState(), ServiceState::Running);
  }
  system.PumpWindowMessages();
  system.PauseSeconds(1);
  EXPECT_THAT(system.Log(), ElementsAre());
}

// --- Platform, clipboard, shutdown, messages ----------------------------------------------------

TEST(ScriptedPlatform, ShutdownAndClipboardAreRecorded) {
  ScriptedSystem system;
  EXPECT_TRUE(system.IsNtFamily());
  system.ShutdownWindows(ShutdownMode::Restart, true);
  system.ShutdownWindows(ShutdownMode::MonitorOff, false);
  system.SetClipboardText("C:\\a.sys\r\n");
  EXPECT_THAT(system.ShutdownRequests(),
              ElementsAre(ShutdownRequest{ShutdownMode::Restart, true},
                          ShutdownRequest{ShutdownMode::MonitorOff, false}));
  EXPECT_EQ(system.Clipboard(), "C:\\a.sys\r\n");
  EXPECT_TRUE(LogMentions(system, "ShutdownWindows 2 force: ExitWindowsEx 6"));
  EXPECT_TRUE(LogMentions(system, "ShutdownWindows 4: nothing"));
  system.SetNtFamily(false);
  system.ShutdownWindows(ShutdownMode::Restart, true);
  EXPECT_TRUE(LogMentions(system, "ShutdownWindows 2 force: nothing"));
}

TEST(ScriptedPlatform, ErrorTextsAreTrimmedAndUnknownCodesGeneric) {
  ScriptedSystem system;
  EXPECT_EQ(system.SystemErrorText(1072), "The specified service has been marked for deletion");
  EXPECT_EQ(system.SystemErrorText(5), "Access is denied");
  EXPECT_EQ(system.SystemErrorText(4242), "Error 4242");
}

TEST(ScriptedMessageLoop, HooksRunDuringTheirPumpOrPause) {
  ScriptedSystem system;
  std::vector<std::string> events;
  system.AtPump(2, [&] { events.push_back("pump2 at " + std::to_string(system.PumpCount())); });
  system.AtPause(1, [&] { events.push_back("pause1 at " + std::to_string(system.PauseCount())); });
  system.OnEveryPump([&] { events.push_back("every"); });
  system.PumpWindowMessages();
  system.PauseSeconds(0);
  system.PauseSeconds(-3);
  system.PauseSeconds(2);
  system.PumpWindowMessages();
  system.PauseSeconds(1);
  EXPECT_THAT(events, ElementsAre("every", "pause1 at 1", "pump2 at 2", "every"));
  EXPECT_EQ(system.PumpCount(), 2);
  EXPECT_EQ(system.PauseCount(), 2);
  EXPECT_EQ(system.PausedSeconds(), 3);
}

TEST(ScriptedMessageLoop, AHookMayAddHooks) {
  ScriptedSystem system;
  int runs = 0;
  system.AtPump(1, [&] { system.AtPump(2, [&] { ++runs; }); });
  system.PumpWindowMessages();
  system.PumpWindowMessages();
  EXPECT_EQ(runs, 1);
}

TEST(ScriptedRegistryViews, The32BitViewOf64BitWindowsSeesSoftwareUnderWow6432Node) {
  ScriptedSystem system;
  system.SetRunningUnderWow64(true);
  system.SetValue("SOFTWARE\\Wow6432Node\\Vendor", "Where", RegistryValue::String("32"));
  system.SetValue("SOFTWARE\\Vendor", "Where", RegistryValue::String("64"));
  system.SetValue("SYSTEM\\Shared", "Where", RegistryValue::String("both"));
  const auto read = [&](RegistryView view, std::string_view key) {
    auto registry = system.ConnectRegistry(view);
    if (!registry->OpenMachineKeyReadOnly(key)) return std::string("<none>");
    return registry->ReadStringValue("Where");
  };
  EXPECT_EQ(read(RegistryView::Native, "SOFTWARE\\Vendor"), "64");
  EXPECT_EQ(read(RegistryView::Wow32, "SOFTWARE\\Vendor"), "32");
  EXPECT_EQ(read(RegistryView::Default, "software\\vendor"), "32") << "a 32-bit process";
  EXPECT_EQ(read(RegistryView::Wow32, "SOFTWARE\\Wow6432Node\\Vendor"), "32");
  EXPECT_EQ(read(RegistryView::Wow32, "SYSTEM\\Shared"), "both");
  EXPECT_EQ(read(RegistryView::Wow32, "SOFTWAREX"), "<none>");

  // Deleting in a view deletes that view's key only.
  auto registry = system.ConnectRegistry(RegistryView::Wow32);
  ASSERT_TRUE(registry->OpenMachineKeyReadWrite("SOFTWARE"));
  EXPECT_TRUE(registry->DeleteSubKeyTree("Vendor"));
  EXPECT_FALSE(system.KeyExists("SOFTWARE\\Wow6432Node\\Vendor"));
  EXPECT_TRUE(system.KeyExists("SOFTWARE\\Vendor"));
}

TEST(ScriptedRegistryViews, On32BitWindowsEveryViewIsTheOne) {
  ScriptedSystem system;
  system.SetValue("SOFTWARE\\Vendor", "Where", RegistryValue::String("only"));
  for (RegistryView view : {RegistryView::Default, RegistryView::Native, RegistryView::Wow32}) {
    auto registry = system.ConnectRegistry(view);
    ASSERT_TRUE(registry->OpenMachineKeyReadOnly("SOFTWARE\\Vendor"));
    EXPECT_EQ(registry->ReadStringValue("Where"), "only");
  }
}

}  // namespace
}  // namespace lk
