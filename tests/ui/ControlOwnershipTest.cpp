// The controls own their windows: a control that ends first destroys its window, one whose
// parent went first lets go of it and destroys nothing; and a failure in a glow button's handler
// is shown by the general error display instead of being dropped.

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "ui/controls/GlowButton.h"
#include "ui/controls/ReportListView.h"

namespace lk::ui {
namespace {

constexpr wchar_t kParentTitle[] = L"lk control ownership";

// A hidden top-level window to hold the controls; destroyed with the test unless it went first.
class Parent {
 public:
  Parent()
      : window_(CreateWindowExW(0, L"STATIC", kParentTitle, WS_OVERLAPPEDWINDOW, 0, 0, 300, 200,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr)) {}
  [[nodiscard]] HWND Get() const { return window_.Get(); }
  void Destroy() { window_.Reset(); }

 private:
  UniqueWindow window_;
};

GlowButton::CreateArgs ButtonIn(HWND parent) {
  GlowButton::CreateArgs args;
  args.parent = parent;
  args.id = 7;
  args.caption = L"&Probe";
  args.place = RECT{10, 10, 110, 40};
  return args;
}

ReportListView::CreateArgs ListIn(HWND parent) {
  ReportListView::CreateArgs args;
  args.parent = parent;
  args.id = 8;
  args.place = RECT{10, 50, 210, 150};
  return args;
}

class ControlOwnership : public ::testing::Test {
 protected:
  void SetUp() override {
    const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    if (parent_.Get() == nullptr) GTEST_SKIP() << "no window can be made here (no display)";
  }
  Parent parent_;
};

TEST_F(ControlOwnership, AControlThatEndsFirstDestroysItsWindow) {
  HWND button = nullptr;
  HWND list = nullptr;
  {
    GlowButton glow;
    ASSERT_TRUE(glow.Create(ButtonIn(parent_.Get())));
    ReportListView report;
    ASSERT_TRUE(report.Create(ListIn(parent_.Get())));
    button = glow.Hwnd();
    list = report.Hwnd();
    EXPECT_EQ(GlowButton::FromHwnd(button), &glow);
  }
  EXPECT_FALSE(IsWindow(button));
  EXPECT_FALSE(IsWindow(list));
  EXPECT_TRUE(IsWindow(parent_.Get()));
}

TEST_F(ControlOwnership, AParentThatEndsFirstTakesItsChildrenAndTheControlsLetGo) {
  GlowButton glow;
  ASSERT_TRUE(glow.Create(ButtonIn(parent_.Get())));
  auto report = std::make_unique<ReportListView>();
  ASSERT_TRUE(report->Create(ListIn(parent_.Get())));
  const HWND button = glow.Hwnd();
  parent_.Destroy();
  EXPECT_FALSE(IsWindow(button));
  EXPECT_EQ(glow.Hwnd(), nullptr) << "the button let go of its window at WM_NCDESTROY";
  // The list is told nothing; ending it must not touch the window that is gone.
  report.reset();
}

// Closes the error message box the failing button raises and keeps its text.
class MessageBoxWatcher {
 public:
  MessageBoxWatcher()
      : thread_([this] {
          for (int tries = 0; tries < 500 && !seen_; ++tries) {
            if (HWND box = FindWindowW(L"#32770", kParentTitle)) {
              wchar_t text[256] = L"";
              GetDlgItemTextW(box, 0xFFFF, text, 256);
              text_ = text;
              seen_ = true;
              PostMessageW(box, WM_COMMAND, IDOK, 0);
              return;
            }
            Sleep(20);
          }
        }) {}
  MessageBoxWatcher(const MessageBoxWatcher&) = delete;
  MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;
  ~MessageBoxWatcher() {
    if (thread_.joinable()) thread_.join();
  }

  // Waits for the watcher to end: the box was seen, or it gave up.
  [[nodiscard]] std::wstring Text() {
    thread_.join();
    return seen_ ? text_ : L"(no message box)";
  }

 private:
  std::atomic<bool> seen_{false};
  std::wstring text_;
  std::thread thread_;
};

TEST_F(ControlOwnership, AFailureInAButtonHandlerIsShownNotDropped) {
  GlowButton glow;
  ASSERT_TRUE(glow.Create(ButtonIn(parent_.Get())));
  glow.OnMouseEnter([] { throw std::runtime_error("Die Schaltfläche scheiterte."); });
  MessageBoxWatcher watcher;
  SendMessageW(glow.Hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(watcher.Text(), L"Die Schaltfl\u00E4che scheiterte.");
  // The message got its default answer and the button still works.
  EXPECT_TRUE(IsWindow(glow.Hwnd()));
  EXPECT_EQ(GlowButton::FromHwnd(glow.Hwnd()), &glow);
}

}  // namespace
}  // namespace lk::ui
