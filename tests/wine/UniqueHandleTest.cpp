// The handle owner: closes exactly once, never closes the empty value, keeps the last error.

#include <gtest/gtest.h>

#include <vector>

#include "system/win/UniqueHandle.h"

namespace lk {
namespace {

std::vector<int> closed;

// -1 stands for "no handle", as INVALID_HANDLE_VALUE does for files. Closing clobbers the last
// error, as a real close call may.
struct CountingTraits {
  using Type = int;
  static Type Empty() noexcept { return -1; }
  static void Close(Type value) noexcept {
    closed.push_back(value);
    SetLastError(ERROR_INVALID_HANDLE);
  }
};
using Owner = UniqueHandle<CountingTraits>;

class UniqueHandleOwnership : public ::testing::Test {
 protected:
  void SetUp() override { closed.clear(); }
};

TEST_F(UniqueHandleOwnership, ClosesOnceOnDestructionAndNeverTheEmptyValue) {
  {
    const Owner owner(0);
    EXPECT_TRUE(owner);
    const Owner empty;
    EXPECT_FALSE(empty);
    const Owner failed(-1);
    EXPECT_FALSE(failed);
  }
  EXPECT_EQ(closed, std::vector<int>{0});
}

TEST_F(UniqueHandleOwnership, MoveHandsOverWithoutClosing) {
  Owner first(3);
  Owner second(std::move(first));
  EXPECT_TRUE(closed.empty());
  Owner third(4);
  third = std::move(second);
  EXPECT_EQ(closed, std::vector<int>{4});
  EXPECT_EQ(third.Get(), 3);
  third.Reset();
  third.Reset();
  EXPECT_EQ(closed, (std::vector<int>{4, 3}));
}

TEST_F(UniqueHandleOwnership, ReleaseGivesUpAndPutClosesFirst) {
  Owner owner(5);
  EXPECT_EQ(owner.Release(), 5);
  EXPECT_FALSE(owner);
  Owner slot(6);
  *slot.Put() = 7;
  EXPECT_EQ(closed, std::vector<int>{6});
  EXPECT_EQ(slot.Get(), 7);
}

TEST_F(UniqueHandleOwnership, ClosingKeepsTheLastErrorOfTheFailedCall) {
  {
    const Owner owner(8);
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
  }
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SERVICE_DOES_NOT_EXIST});
}

TEST(UniqueHandleSentinels, FileOwnerTakesInvalidHandleValueAsEmpty) {
  const UniqueFile missing(CreateFileW(L"C:\\lk-no-such-folder\\x", GENERIC_READ, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(missing);
  const UniqueKernelHandle none;
  EXPECT_FALSE(none);
  const UniqueKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  EXPECT_TRUE(event);
}

}  // namespace
}  // namespace lk
