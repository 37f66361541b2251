// The Windows traits of the handle owner: closing keeps the last error, also for handles that
// close with context; the sentinels of the Windows owners; the GDI traits (objects, DCs,
// selections). The ownership itself is tested natively (tests/base).

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "system/win/UniqueHandle.h"
#include "ui/controls/Gdi.h"

namespace lk {
namespace {

std::vector<int> closed;

// -1 stands for "no handle", as INVALID_HANDLE_VALUE does for files. Closing clobbers the last
// error, as a real close call may.
struct CountingTraits : WindowsHandleTraits {
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

TEST_F(UniqueHandleOwnership, ClosingKeepsTheLastErrorOfTheFailedCall) {
  {
    const Owner owner(8);
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
  }
  EXPECT_EQ(closed, std::vector<int>{8});
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

// A handle that closes with context, as ReleaseDC needs the window.
struct Paired {
  int context = 0;
  int handle = 0;
};
std::vector<std::pair<int, int>> closedPairs;
struct PairedTraits : WindowsHandleTraits {
  using Type = Paired;
  static Type Empty() noexcept { return {}; }
  static bool IsEmpty(const Type& value) noexcept { return value.handle == 0; }
  static void Close(const Type& value) noexcept {
    closedPairs.emplace_back(value.context, value.handle);
    SetLastError(ERROR_INVALID_HANDLE);
  }
};
using PairedOwner = UniqueHandle<PairedTraits>;

TEST(UniqueHandleWithContext, ClosingKeepsTheLastError) {
  closedPairs.clear();
  {
    const PairedOwner owner(Paired{7, 1});
    SetLastError(ERROR_ACCESS_DENIED);
  }
  EXPECT_EQ(closedPairs, (std::vector<std::pair<int, int>>{{7, 1}}));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
}

// GDI reports a deleted object's type as 0.
bool Alive(HGDIOBJ object) { return GetObjectType(object) != 0; }

TEST(GdiOwners, AnObjectIsDeletedOnceWhenItsLastOwnerEnds) {
  HBRUSH raw = CreateSolidBrush(RGB(1, 2, 3));
  ASSERT_NE(raw, nullptr);
  {
    ui::UniqueBrush first(raw);
    ui::UniqueBrush second(std::move(first));
    EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): the moved-from owner is empty
    EXPECT_TRUE(Alive(raw)) << "a move hands over without deleting";
    SetLastError(ERROR_FILE_NOT_FOUND);
  }
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_FALSE(Alive(raw));
  const ui::UniqueFont none;
  EXPECT_FALSE(none);
}

TEST(GdiOwners, AMemoryDcIsDeletedAndASelectionUndone) {
  HDC raw = CreateCompatibleDC(nullptr);
  ASSERT_NE(raw, nullptr);
  {
    const ui::UniqueMemoryDc dc(raw);
    const ui::UniqueBrush brush(CreateSolidBrush(RGB(4, 5, 6)));
    const HGDIOBJ before = GetCurrentObject(dc.Get(), OBJ_BRUSH);
    {
      const ui::ScopedSelect select(dc.Get(), brush.Get());
      EXPECT_EQ(GetCurrentObject(dc.Get(), OBJ_BRUSH), brush.Get());
    }
    EXPECT_EQ(GetCurrentObject(dc.Get(), OBJ_BRUSH), before);
    EXPECT_TRUE(Alive(raw));
  }
  EXPECT_FALSE(Alive(raw));
}

TEST(GdiOwners, AFailedSelectionPutsNothingBack) {
  const ui::UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
  ASSERT_TRUE(dc);
  const HGDIOBJ before = GetCurrentObject(dc.Get(), OBJ_BRUSH);
  { const ui::ScopedSelect select(dc.Get(), nullptr); }
  EXPECT_EQ(GetCurrentObject(dc.Get(), OBJ_BRUSH), before);
}

TEST(GdiOwners, TheScreenDcIsReleased) {
  HDC raw = nullptr;
  {
    const ui::WindowDc screen(nullptr);
    if (!screen) GTEST_SKIP() << "no display here";
    raw = screen.Get();
    EXPECT_GT(GetDeviceCaps(raw, LOGPIXELSY), 0);
  }
  // A released DC of a window no longer answers.
  EXPECT_EQ(ReleaseDC(nullptr, raw), 0);
}

}  // namespace
}  // namespace lk
