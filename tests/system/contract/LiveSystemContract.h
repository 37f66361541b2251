#pragma once
// The contract of what only a running system has: services that run and stop, deletions at the next
// start (its devices that open are LivePlatformContract's, PlatformContract.h). Instantiated for
// the Windows implementation and the scripted model only; the offline and image layers examine a
// system that does not run.
//
// Instantiate it once per implementation, in the test source that defines its subject:
//   INSTANTIATE_TYPED_TEST_SUITE_P(Offline, LiveSystemContract, OfflineSubject);

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/system/contract/ContractSubject.h"

namespace lk::contract {

template <typename SubjectType>
class LiveSystemContract : public ContractFixture<SubjectType> {};

TYPED_TEST_SUITE_P(LiveSystemContract);

TYPED_TEST_P(LiveSystemContract, AStopEndsARunningService) {
  const std::string name = this->subject().PutRunningService();
  SystemAccess& system = this->system();
  const std::unique_ptr<ServiceManager> manager = system.OpenServiceManager();
  ASSERT_TRUE(manager);
  const std::unique_ptr<Service> service = manager->OpenServiceEntry(name);
  ASSERT_TRUE(service);
  EXPECT_EQ(service->QueryState(), ServiceState::Running);
  ASSERT_TRUE(service->SendStop().has_value());
  std::optional<ServiceState> state;
  for (int query = 0; query < 600 && state != ServiceState::Stopped; ++query) {
    state = service->QueryState();
    if (state != ServiceState::Stopped) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(state, ServiceState::Stopped);
}

TYPED_TEST_P(LiveSystemContract, ARestartDeletionIsRegisteredAndCanBeWithdrawn) {
  const std::string file = this->subject().Folder() + "\\b.dll";
  this->subject().PutFile(file, "MZ");
  SystemAccess& system = this->system();
  ASSERT_EQ(system.SystemFiles().DeleteFileAtRestart(file), 0U);
  EXPECT_TRUE(this->subject().FileStored(file)) << "it stays until the restart";
  EXPECT_EQ(system.SystemFiles().CancelDeleteAtRestart(file), 0U);
  EXPECT_NE(system.SystemFiles().CancelDeleteAtRestart(file), 0U);
}

REGISTER_TYPED_TEST_SUITE_P(LiveSystemContract, AStopEndsARunningService,
                            ARestartDeletionIsRegisteredAndCanBeWithdrawn);

}  // namespace lk::contract
