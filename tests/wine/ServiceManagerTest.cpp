// The service-manager operations of WindowsSystemAccess against the real service manager, with
// a service executable of our own (fixtures/TestService.cpp) that each test registers itself.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "system/win/UniqueHandle.h"
#include "system/win/WindowsSystemAccess.h"
#include "tests/wine/WineTestSupport.h"
#include "win32/Utf.h"

namespace lk {
namespace {

constexpr std::uint32_t kInvalidServiceControl = 1052;  // the service does not accept it

class ServiceManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    manager_ = system_.OpenServiceManager();
    ASSERT_TRUE(manager_) << "error " << system_.LastSystemError();
  }

  void TearDown() override {
    // Whatever a test left behind: stopped, released and deleted.
    services_.RemoveAll(Manager());
    system_.CloseServiceObject(manager_);
  }

  SC_HANDLE Manager() const { return WindowsSystemAccess::ToScHandle(manager_); }

  // Registers our test service under a new name; mode "accept" or "refuse" (the STOP control).
  std::string CreateTestService(const std::wstring& mode) {
    const std::string name = services_.Register(Manager(), "LkTestService", mode);
    EXPECT_FALSE(name.empty()) << "CreateServiceW failed with " << GetLastError();
    return name;
  }

  // Starts the service and waits until it runs.
  void Start(ServiceHandle service) {
    ASSERT_TRUE(StartServiceW(WindowsSystemAccess::ToScHandle(service), 0, nullptr))
        << "StartServiceW failed with " << GetLastError();
    ASSERT_EQ(WaitForState(service, ServiceState::Running), ServiceState::Running);
  }

  // Polls the state until it is the one wanted or a minute has passed (a service starts slowly
  // under emulation); the last state seen.
  std::optional<ServiceState> WaitForState(ServiceHandle service, ServiceState wanted) {
    std::optional<ServiceState> state;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    do {
      state = system_.QueryServiceState(service);
      if (state == wanted) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < end);
    return state;
  }

  WindowsSystemAccess system_;
  ServiceHandle manager_;
  test::TestServices services_;
};

using ServiceLookup = ServiceManagerTest;

TEST_F(ServiceLookup, MissingServiceGivesNoneWith1060) {
  const ServiceHandle service =
      system_.OpenServiceEntry(manager_, test::UniqueName("LkNoSuchService"));
  EXPECT_FALSE(service);
  EXPECT_EQ(system_.LastSystemError(), win_error::kServiceDoesNotExist);
}

TEST_F(ServiceLookup, ClosingNoneChangesNothing) {
  SetLastError(1234);
  system_.CloseServiceObject(ServiceHandle{});
  EXPECT_EQ(system_.LastSystemError(), 1234u);
}

TEST_F(ServiceLookup, RegisteredServiceIsFoundStopped) {
  const std::string name = CreateTestService(L"accept");
  ScopedServiceObject service(system_, system_.OpenServiceEntry(manager_, name));
  ASSERT_TRUE(service);
  EXPECT_EQ(system_.QueryServiceState(service.Get()), ServiceState::Stopped);
  EXPECT_FALSE(system_.SendServiceStop(service.Get()));
  EXPECT_EQ(system_.LastSystemError(), win_error::kServiceNotActive);
}

using ServiceRemoval = ServiceManagerTest;

TEST_F(ServiceRemoval, RunningServiceIsStoppedThenDeleted) {
  const std::string name = CreateTestService(L"accept");
  {
    ScopedServiceObject service(system_, system_.OpenServiceEntry(manager_, name));
    ASSERT_TRUE(service);
    Start(service.Get());
    const std::optional<ServiceState> afterStop = system_.SendServiceStop(service.Get());
    ASSERT_TRUE(afterStop) << "error " << system_.LastSystemError();
    EXPECT_TRUE(afterStop == ServiceState::StopPending || afterStop == ServiceState::Stopped);
    EXPECT_EQ(WaitForState(service.Get(), ServiceState::Stopped), ServiceState::Stopped);

    EXPECT_TRUE(system_.DeleteServiceEntry(service.Get()));
    // Still open here, so the service is only marked; a second deletion says so.
    EXPECT_FALSE(system_.DeleteServiceEntry(service.Get()));
    EXPECT_EQ(system_.LastSystemError(), win_error::kServiceMarkedForDelete);
  }
  // With the last handle closed the service goes.
  ServiceHandle reopened{};
  for (int attempt = 0; attempt < 100; ++attempt) {
    reopened = system_.OpenServiceEntry(manager_, name);
    if (!reopened) break;
    system_.CloseServiceObject(reopened);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_FALSE(reopened);
  EXPECT_EQ(system_.LastSystemError(), win_error::kServiceDoesNotExist);
}

TEST_F(ServiceRemoval, ServiceThatRefusesStopKeepsRunning) {
  const std::string name = CreateTestService(L"refuse");
  ScopedServiceObject service(system_, system_.OpenServiceEntry(manager_, name));
  ASSERT_TRUE(service);
  Start(service.Get());
  EXPECT_FALSE(system_.SendServiceStop(service.Get()));
  EXPECT_EQ(system_.LastSystemError(), kInvalidServiceControl);
  EXPECT_EQ(system_.QueryServiceState(service.Get()), ServiceState::Running);

  services_.QuitLast();
  EXPECT_EQ(WaitForState(service.Get(), ServiceState::Stopped), ServiceState::Stopped);
}

TEST_F(ServiceRemoval, ClosedHandleAnswersNothing) {
  const std::string name = CreateTestService(L"accept");
  const ServiceHandle service = system_.OpenServiceEntry(manager_, name);
  ASSERT_TRUE(service);
  system_.CloseServiceObject(service);
  const ServiceHandle none{};
  EXPECT_FALSE(system_.QueryServiceState(none));
  EXPECT_FALSE(system_.DeleteServiceEntry(none));
  EXPECT_EQ(system_.LastSystemError(), win_error::kInvalidHandle);
}

using ServiceRegistration = ServiceManagerTest;

// The service's key as the service manager wrote it, read through the registry.
std::optional<RegistryValue> ServiceKeyValue(const std::string& service, const std::string& name) {
  WindowsSystemAccess system;
  auto registry = system.ConnectRegistry(RegistryView::Native);
  if (!registry->OpenMachineKeyReadOnly("SYSTEM\\CurrentControlSet\\Services\\" + service)) {
    return std::nullopt;
  }
  return registry->ReadValue(name);
}

TEST_F(ServiceRegistration, KernelDriverIsRegisteredAsDefinedAndFound) {
  ServiceDefinition definition;
  definition.name = test::UniqueName("LkCreatedDriver");
  definition.displayName = "Lk Ж driver";
  definition.imagePath = "\\SystemRoot\\system32\\drivers\\" + definition.name + ".sys";
  ScopedServiceObject created(system_, system_.CreateServiceEntry(manager_, definition));
  ASSERT_TRUE(created) << "error " << system_.LastSystemError();
  services_.Track(WideFromUtf8(definition.name));
  EXPECT_EQ(system_.QueryServiceState(created.Get()), ServiceState::Stopped);

  ScopedServiceObject found(system_, system_.OpenServiceEntry(manager_, definition.name));
  EXPECT_TRUE(found);
  EXPECT_EQ(ServiceKeyValue(definition.name, "Type"), RegistryValue::Dword(1));
  EXPECT_EQ(ServiceKeyValue(definition.name, "Start"), RegistryValue::Dword(3));
  EXPECT_EQ(ServiceKeyValue(definition.name, "ErrorControl"), RegistryValue::Dword(1));
  const std::optional<RegistryValue> displayName = ServiceKeyValue(definition.name, "DisplayName");
  ASSERT_TRUE(displayName);
  EXPECT_EQ(displayName->data, std::string("Lk Ж driver") + '\0');
  // Wine writes the image path as REG_SZ, Windows as REG_EXPAND_SZ: compare the text only.
  const std::optional<RegistryValue> imagePath = ServiceKeyValue(definition.name, "ImagePath");
  ASSERT_TRUE(imagePath);
  EXPECT_EQ(imagePath->data, definition.imagePath + '\0');
}

TEST_F(ServiceRegistration, CreatedServiceRunsItsImage) {
  ServiceDefinition definition;
  definition.name = test::UniqueName("LkCreatedService");
  definition.displayName = definition.name;
  definition.type = SERVICE_WIN32_OWN_PROCESS;
  definition.errorControl = SERVICE_ERROR_IGNORE;
  definition.imagePath = Utf8FromWide(test::TestServices::Command(L"accept"));
  services_.Track(WideFromUtf8(definition.name));
  ScopedServiceObject created(system_, system_.CreateServiceEntry(manager_, definition));
  ASSERT_TRUE(created) << "error " << system_.LastSystemError();
  Start(created.Get());
  ASSERT_TRUE(system_.SendServiceStop(created.Get()));
  EXPECT_EQ(WaitForState(created.Get(), ServiceState::Stopped), ServiceState::Stopped);
}

TEST_F(ServiceRegistration, ExistingServiceIsNotCreatedAgain) {
  const std::string name = CreateTestService(L"accept");
  ServiceDefinition definition;
  definition.name = name;
  definition.displayName = "another";
  definition.imagePath = "C:\\elsewhere.sys";
  EXPECT_FALSE(system_.CreateServiceEntry(manager_, definition));
  EXPECT_EQ(system_.LastSystemError(), win_error::kServiceExists);
}

TEST_F(ServiceRegistration, ServiceMarkedForDeletionIsNotCreatedAgain) {
  const std::string name = CreateTestService(L"accept");
  ScopedServiceObject held(system_, system_.OpenServiceEntry(manager_, name));
  ASSERT_TRUE(held);
  ASSERT_TRUE(system_.DeleteServiceEntry(held.Get()));
  // Still open, so only marked: the name is not free yet.
  ServiceDefinition definition;
  definition.name = name;
  definition.imagePath = "C:\\elsewhere.sys";
  EXPECT_FALSE(system_.CreateServiceEntry(manager_, definition));
  EXPECT_EQ(system_.LastSystemError(), win_error::kServiceMarkedForDelete);
}

}  // namespace
}  // namespace lk
