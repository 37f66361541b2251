#pragma once
// The contract of the platform queries a system hands out (SystemAccess::PlatformQueries): a
// device that is missing does not open on any system, and on a running one a device that exists
// does.
//
// Instantiate it once per implementation, in the test source that defines its subject:
//   INSTANTIATE_TYPED_TEST_SUITE_P(Offline, PlatformContract, OfflineSubject);
// and, for a system that runs, LivePlatformContract too.

#include <gtest/gtest.h>

#include "tests/system/contract/ContractSubject.h"

namespace lk::contract {

template <typename SubjectType>
class PlatformContract : public ContractFixture<SubjectType> {};

TYPED_TEST_SUITE_P(PlatformContract);

TYPED_TEST_P(PlatformContract, AMissingDeviceDoesNotOpen) {
  EXPECT_FALSE(this->system().PlatformQueries().DeviceCanBeOpened("\\\\.\\LkNoSuchDevice"));
}

REGISTER_TYPED_TEST_SUITE_P(PlatformContract, AMissingDeviceDoesNotOpen);

// What only a running system answers: its devices exist while their drivers run.
template <typename SubjectType>
class LivePlatformContract : public ContractFixture<SubjectType> {};

TYPED_TEST_SUITE_P(LivePlatformContract);

TYPED_TEST_P(LivePlatformContract, AnExistingDeviceOpens) {
  EXPECT_TRUE(this->system().PlatformQueries().DeviceCanBeOpened(this->subject().PutDevice()));
}

REGISTER_TYPED_TEST_SUITE_P(LivePlatformContract, AnExistingDeviceOpens);

}  // namespace lk::contract
