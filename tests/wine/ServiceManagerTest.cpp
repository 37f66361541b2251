// The service-manager operations of WindowsSystemAccess against the real service manager, with
// a service executable of our own (fixtures/TestService.cpp) that each test registers itself.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
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
    raw_.Reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    manager_ = system_.OpenServiceManager();
    ASSERT_TRUE(manager_) << "error " << system_.LastSystemError();
  }

  void TearDown() override {
    // Whatever a test left behind: stopped, released and deleted.
    manager_.reset();
    services_.RemoveAll(Manager());
  }

  SC_HANDLE Manager() const { return raw_.Get(); }

  // Registers our test service under a new name; mode "accept" or "refuse" (the STOP control).
  std::string CreateTestService(const std::wstring& mode) {
    const std::string name = services_.Register(Manager(), "LkTestService", mode);
    EXPECT_FALSE(name.empty()) << "CreateServiceW failed with " << GetLastError();
    return name;
  }

  // Starts the service and waits until it runs.
  void Start(const std::string& name, Service& service) {
    const UniqueServiceHandle raw(
        OpenServiceW(Manager(), WideFromUtf8(name).c_str(), SERVICE_ALL_ACCESS));
    ASSERT_TRUE(raw && StartServiceW(raw.Get(), 0, nullptr))
        << "StartServiceW failed with " << GetLastError();
    ASSERT_EQ(WaitForState(service, ServiceState::Running), ServiceState::Running);
  }

  // Polls the state until it is the one wanted or a minute has passed (a service starts slowly
  // under emulation); the last state seen.
  std::optional<ServiceState> WaitForState(Service& service, ServiceState wanted) {
    std::optional<ServiceState> state;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    do {
      state = service.QueryState();
      if (state == wanted) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < end);
    return state;
  }

  WindowsSystemAccess system_;
  UniqueServiceHandle raw_;  // the test's own, for what the seam does not offer
  std::unique_ptr<ServiceManager> manager_;
  test::TestServices services_;
};

using ServiceLookup = ServiceManagerTest;

TEST_F(ServiceLookup, MissingServiceGivesNoneWith1060) {
  const std::unique_ptr<Service> service =
      manager_->OpenServiceEntry(test::UniqueName("LkNoSuchService"));
  EXPECT_FALSE(service);
  EXPECT_EQ(system_.LastSystemError(), win_error::kServiceDoesNotExist);
}

TEST_F(ServiceLookup, EndingAnOwnerKeepsTheLastError) {
  const std::string name = CreateTestService(L"accept");
  std::unique_ptr<Service> service = manager_->OpenServiceEntry(name);
  ASSERT_TRUE(service);
  SetLastError(1234);
  service.reset();
  EXPECT_EQ(system_.LastSystemError(), 1234u);
}

TEST_F(ServiceLookup, RegisteredServiceIsFoundStopped) {
  const std::string name = CreateTestService(L"accept");
  const std::unique_ptr<Service> service = manager_->OpenServiceEntry(name);
  ASSERT_TRUE(service);
  EXPECT_EQ(service->QueryState(), ServiceState::Stopped);
  EXPECT_FALSE(service->SendStop());
  EXPECT_EQ(system_.LastSystemError(), win_error::kServiceNotActive);
}

using ServiceRemoval = ServiceManagerTest;

TEST_F(ServiceRemoval, RunningServiceIsStoppedThenDeleted) {
  const std::string name = CreateTestService(L"accept");
  {
    const std::unique_ptr<Service> service = manager_->OpenServiceEntry(name);
    ASSERT_TRUE(service);
    Start(name, *service);
    const std::optional<ServiceState> afterStop = service->SendStop();
    ASSERT_TRUE(afterStop) << "error " << system_.LastSystemError();
    EXPECT_TRUE(afterStop == ServiceState::StopPending || afterStop == ServiceState::Stopped);
    EXPECT_EQ(WaitForState(*service, ServiceState::Stopped), ServiceState::Stopped);

    EXPECT_TRUE(service->Delete());
    // Still open here, so the service is only marked; a second deletion says so.
    EXPECT_FALSE(service->Delete());
    EXPECT_EQ(system_.LastSystemError(), win_error::kServiceMarkedForDelete);
  }
  // With the last handle closed the service goes.
  std::unique_ptr<Service> reopened;
  for (int attempt = 0; attempt < 100; ++attempt) {
    reopened = manager_->OpenServiceEntry(name);
    if (!reopened) break;
    reopened.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_FALSE(reopened);
  EXPECT_EQ(system_.LastSystemError(), win_error::kServiceDoesNotExist);
}

TEST_F(ServiceRemoval, ServiceThatRefusesStopKeepsRunning) {
  const std::string name = CreateTestService(L"refuse");
  const std::unique_ptr<Service> service = manager_->OpenServiceEntry(name);
  ASSERT_TRUE(service);
  Start(name, *service);
  EXPECT_FALSE(service->SendStop());
  EXPECT_EQ(system_.LastSystemError(), kInvalidServiceControl);
  EXPECT_EQ(service->QueryState(), ServiceState::Running);

  services_.QuitLast();
  EXPECT_EQ(WaitForState(*service, ServiceState::Stopped), ServiceState::Stopped);
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
  const std::unique_ptr<Service> created = manager_->CreateServiceEntry(definition);
  ASSERT_TRUE(created) << "error " << system_.LastSystemError();
  services_.Track(WideFromUtf8(definition.name));
  EXPECT_EQ(created->QueryState(), ServiceState::Stopped);

  const std::unique_ptr<Service> found = manager_->OpenServiceEntry(definition.name);
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
  const std::unique_ptr<Service> created = manager_->CreateServiceEntry(definition);
  ASSERT_TRUE(created) << "error " << system_.LastSystemError();
  Start(definition.name, *created);
  ASSERT_TRUE(created->SendStop());
  EXPECT_EQ(WaitForState(*created, ServiceState::Stopped), ServiceState::Stopped);
}

TEST_F(ServiceRegistration, ExistingServiceIsNotCreatedAgain) {
  const std::string name = CreateTestService(L"accept");
  ServiceDefinition definition;
  definition.name = name;
  definition.displayName = "another";
  definition.imagePath = "C:\\elsewhere.sys";
  EXPECT_FALSE(manager_->CreateServiceEntry(definition));
  EXPECT_EQ(system_.LastSystemError(), win_error::kServiceExists);
}

TEST_F(ServiceRegistration, ServiceMarkedForDeletionIsNotCreatedAgain) {
  const std::string name = CreateTestService(L"accept");
  const std::unique_ptr<Service> held = manager_->OpenServiceEntry(name);
  ASSERT_TRUE(held);
  ASSERT_TRUE(held->Delete());
  // Still open, so only marked: the name is not free yet.
  ServiceDefinition definition;
  definition.name = name;
  definition.imagePath = "C:\\elsewhere.sys";
  EXPECT_FALSE(manager_->CreateServiceEntry(definition));
  EXPECT_EQ(system_.LastSystemError(), win_error::kServiceMarkedForDelete);
}

}  // namespace
}  // namespace lk
