// The one handle owner, with no OS behind it: it closes exactly once, never closes the empty
// value, hands over on move, and keeps errno where its traits name the keeper; the same for
// handles that close with context and for the traits of a null handle with one close call.

#include "base/UniqueHandle.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <utility>
#include <vector>

namespace lk {
namespace {

std::vector<int> closed;

// -1 stands for "no handle", as INVALID_HANDLE_VALUE and a failed open do.
struct CountingTraits {
  using Type = int;
  static Type Empty() noexcept { return -1; }
  static void Close(Type value) noexcept {
    closed.push_back(value);
    errno = EBADF;  // as a failing close call sets it
  }
};
using Owner = UniqueHandle<CountingTraits>;

struct KeepingTraits : CountingTraits {
  using ErrorKeeper = ErrnoKeeper;
};
using KeepingOwner = UniqueHandle<KeepingTraits>;

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

TEST_F(UniqueHandleOwnership, AKeeperLeavesTheCallersErrorAsItWas) {
  {
    const KeepingOwner owner(8);
    errno = ENOENT;  // the failed call the caller is about to report
  }
  EXPECT_EQ(closed, std::vector<int>{8});
  EXPECT_EQ(errno, ENOENT);
  { const Owner owner(10); }
  EXPECT_EQ(errno, EBADF) << "without a keeper the close call's error shows";
}

// A library object behind a pointer: its fields are reached through the owner.
struct Object {
  int field = 0;
};
std::vector<int> freedFields;
struct ObjectTraits {
  using Type = Object*;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { freedFields.push_back(value->field); }
};

TEST(UniqueHandlePointer, ReachesTheObjectAndClosesItOnce) {
  freedFields.clear();
  Object object{12};
  {
    UniqueHandle<ObjectTraits> owner(&object);
    owner->field = 13;
    UniqueHandle<ObjectTraits> taken(std::move(owner));
    EXPECT_FALSE(owner);  // NOLINT(bugprone-use-after-move): the moved-from owner is empty
  }
  EXPECT_EQ(freedFields, std::vector<int>{13});
}

int lastFreed = 0;
void Free(int* value) { lastFreed = *value; }

TEST(NullHandleTraits, NullIsEmptyAndTheCallClosesTheRest) {
  int object = 14;
  {
    const UniqueHandle<NullHandleTraits<int*, &Free>> none;
    EXPECT_FALSE(none);
    const UniqueHandle<NullHandleTraits<int*, &Free>> owner(&object);
    EXPECT_TRUE(owner);
  }
  EXPECT_EQ(lastFreed, 14);
}

// A handle that closes with context, as ReleaseDC needs the window: only the handle part tells
// an empty owner, and the context reaches the close call.
struct Paired {
  int context = 0;
  int handle = 0;
};
std::vector<std::pair<int, int>> closedPairs;
struct PairedTraits {
  using Type = Paired;
  static Type Empty() noexcept { return {}; }
  static bool IsEmpty(const Type& value) noexcept { return value.handle == 0; }
  static void Close(const Type& value) noexcept {
    closedPairs.emplace_back(value.context, value.handle);
  }
};
using PairedOwner = UniqueHandle<PairedTraits>;

TEST(UniqueHandleWithContext, OnlyTheHandlePartTellsAnEmptyOwner) {
  closedPairs.clear();
  {
    const PairedOwner failed(Paired{7, 0});
    EXPECT_FALSE(failed);
    PairedOwner first(Paired{7, 1});
    EXPECT_TRUE(first);
    PairedOwner second(std::move(first));
    EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): the moved-from owner is empty
    second = PairedOwner(Paired{8, 2});
    EXPECT_EQ(closedPairs, (std::vector<std::pair<int, int>>{{7, 1}}));
  }
  EXPECT_EQ(closedPairs, (std::vector<std::pair<int, int>>{{7, 1}, {8, 2}}));
}

}  // namespace
}  // namespace lk
