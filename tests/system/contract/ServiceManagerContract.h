#pragma once
// The contract of the service manager (ServiceManager.h): services found, missing and deleted, and
// the owners that close them, through every implementation of SystemAccess.
//
// Instantiate it once per implementation, in the test source that defines its subject:
//   INSTANTIATE_TYPED_TEST_SUITE_P(Offline, ServiceManagerContract, OfflineSubject);
// and, where services can be deleted, ServiceDeletionContract too.

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
class ServiceManagerContract : public ContractFixture<SubjectType> {};

TYPED_TEST_SUITE_P(ServiceManagerContract);

TYPED_TEST_P(ServiceManagerContract, ARegisteredServiceIsFoundAndAMissingOneGives1060) {
  const std::string name = this->subject().PutStoppedService();
  SystemAccess& system = this->system();
  const std::unique_ptr<ServiceManager> manager = system.OpenServiceManager();
  ASSERT_TRUE(manager) << "error " << system.LastSystemError();
  const std::unique_ptr<Service> service = manager->OpenServiceEntry(name);
  ASSERT_TRUE(service) << "error " << system.LastSystemError();
  EXPECT_EQ(service->QueryState(), ServiceState::Stopped);
  EXPECT_EQ(service->SendStop(), std::nullopt);
  EXPECT_EQ(system.LastSystemError(), win_error::kServiceNotActive) << "it is not running";

  EXPECT_FALSE(manager->OpenServiceEntry(name + "Missing"));
  EXPECT_EQ(system.LastSystemError(), win_error::kServiceDoesNotExist);
}

// The caller reads the error of the call that failed after the owners on the way have ended.
TYPED_TEST_P(ServiceManagerContract, EndingTheOwnersKeepsTheLastError) {
  const std::string name = this->subject().PutStoppedService();
  SystemAccess& system = this->system();
  {
    const std::unique_ptr<ServiceManager> manager = system.OpenServiceManager();
    ASSERT_TRUE(manager);
    const std::unique_ptr<Service> service = manager->OpenServiceEntry(name);
    ASSERT_TRUE(service);
    EXPECT_FALSE(manager->OpenServiceEntry(name + "Missing"));
  }
  EXPECT_EQ(system.LastSystemError(), win_error::kServiceDoesNotExist);
}

REGISTER_TYPED_TEST_SUITE_P(ServiceManagerContract,
                            ARegisteredServiceIsFoundAndAMissingOneGives1060,
                            EndingTheOwnersKeepsTheLastError);

// The writing side, for a system whose services can be deleted (a disk image's cannot).
template <typename SubjectType>
class ServiceDeletionContract : public ContractFixture<SubjectType> {};

TYPED_TEST_SUITE_P(ServiceDeletionContract);

TYPED_TEST_P(ServiceDeletionContract, ADeletedServiceIsGoneOnceItsOwnersHaveEnded) {
  const std::string name = this->subject().PutStoppedService();
  SystemAccess& system = this->system();
  const std::unique_ptr<ServiceManager> manager = system.OpenServiceManager();
  ASSERT_TRUE(manager);
  {
    const std::unique_ptr<Service> service = manager->OpenServiceEntry(name);
    ASSERT_TRUE(service);
    EXPECT_TRUE(service->Delete()) << system.LastSystemError();
  }
  EXPECT_FALSE(manager->OpenServiceEntry(name));
  EXPECT_EQ(system.LastSystemError(), win_error::kServiceDoesNotExist);
}

REGISTER_TYPED_TEST_SUITE_P(ServiceDeletionContract, ADeletedServiceIsGoneOnceItsOwnersHaveEnded);

}  // namespace lk::contract
