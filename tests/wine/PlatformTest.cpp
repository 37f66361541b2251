// The platform operations of WindowsSystemAccess (WOW64 and the redirection switch, error texts)
// and the desktop of WindowsDesktop (shutdown in the modes that do nothing, the clipboard and the
// message pump).

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/WindowsPath.h"
#include "system/win/FsRedirection.h"
#include "system/win/UniqueHandle.h"
#include "system/win/WindowsDesktop.h"
#include "system/win/WindowsSystemAccess.h"
#include "tests/wine/WineTestSupport.h"
#include "win32/Utf.h"

namespace lk {
namespace {

constexpr UINT kTestMessage = WM_APP + 1;

bool Is64BitWindows() {
  if (const std::optional<std::string> arch = test::WinePrefixArchitecture()) {
    return *arch == "win64";
  }
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  return info.wProcessorArchitecture != PROCESSOR_ARCHITECTURE_INTEL;
}

constexpr bool kIs32BitProcess = sizeof(void*) == 4;

TEST(PlatformFamily, SystemIsNtFamily) {
  WindowsSystemAccess system;
  EXPECT_TRUE(system.IsNtFamily());
}

// Wine starts every program with an elevated administrator's token.
TEST(AdministratorRights, WineProcessIsAnAdministrator) {
  WindowsSystemAccess system;
  EXPECT_TRUE(system.HasAdministratorRights());
}

TEST(Wow64Detection, OnlyA32BitProcessOn64BitWindowsRunsUnderWow64) {
  WindowsSystemAccess system;
  EXPECT_EQ(system.RunningUnderWow64(), kIs32BitProcess && Is64BitWindows());
  // Whatever the process, the system knows its own width.
  EXPECT_EQ(system.Is64BitWindows(), Is64BitWindows());
}

// Plants a marker file in the native system directory (reachable only with the redirection
// off) and removes it again.
class NativeSystemMarker {
 public:
  explicit NativeSystemMarker(WindowsSystemAccess& system) : system_(system) {
    path_ =
        AppendBackslash(system_.QuerySystemDirectory()) + test::UniqueName("lk-marker") + ".sys";
    const std::unique_ptr<FsRedirectionScope> native = system_.DisableFsRedirection();
    if (native) planted_ = test::WriteWholeFile(path_, "marker");
  }
  NativeSystemMarker(const NativeSystemMarker&) = delete;
  NativeSystemMarker& operator=(const NativeSystemMarker&) = delete;
  ~NativeSystemMarker() {
    const std::unique_ptr<FsRedirectionScope> native = system_.DisableFsRedirection();
    if (native) DeleteFileW(WideFromUtf8(path_).c_str());
  }
  [[nodiscard]] bool Planted() const noexcept { return planted_; }
  [[nodiscard]] const std::string& Path() const noexcept { return path_; }

 private:
  WindowsSystemAccess& system_;
  std::string path_;
  bool planted_ = false;
};

TEST(FsRedirection, SwitchedOffItReachesTheNativeSystemDirectory) {
  WindowsSystemAccess system;
  if (!system.RunningUnderWow64()) {
    EXPECT_FALSE(system.DisableFsRedirection()) << "outside WOW64 there is nothing to switch";
    GTEST_SKIP() << "no redirection outside WOW64";
  }
  const NativeSystemMarker marker(system);
  ASSERT_TRUE(marker.Planted());
  EXPECT_NE(system.SystemFiles().FindFile(marker.Path()), 0U);

  {
    const std::unique_ptr<FsRedirectionScope> off = system.DisableFsRedirection();
    ASSERT_TRUE(off);
    EXPECT_EQ(system.SystemFiles().FindFile(marker.Path()), 0U);
    bool seenByOtherThread = true;
    std::thread([&] {
      seenByOtherThread = system.SystemFiles().FindFile(marker.Path()) == 0;
    }).join();
    EXPECT_FALSE(seenByOtherThread) << "the switch acts on the calling thread only";
  }
  EXPECT_NE(system.SystemFiles().FindFile(marker.Path()), 0U) << "back on once the owner ended";
}

TEST(FsRedirection, TheOwnerSwitchesItBackOnWhenItsScopeEnds) {
  WindowsSystemAccess system;
  if (!system.RunningUnderWow64()) {
    const UniqueFsRedirection none = DisableFsRedirectionForScope();
    EXPECT_FALSE(none) << "outside WOW64 there is nothing to switch, so nothing to revert";
    GTEST_SKIP() << "no redirection outside WOW64";
  }
  const NativeSystemMarker marker(system);
  ASSERT_TRUE(marker.Planted());
  {
    const UniqueFsRedirection native = DisableFsRedirectionForScope();
    ASSERT_TRUE(native);
    EXPECT_EQ(system.SystemFiles().FindFile(marker.Path()), 0U);
  }
  EXPECT_NE(system.SystemFiles().FindFile(marker.Path()), 0U);
  {
    UniqueFsRedirection early = DisableFsRedirectionForScope();
    early.Reset();
    EXPECT_NE(system.SystemFiles().FindFile(marker.Path()), 0U);
  }
  EXPECT_NE(system.SystemFiles().FindFile(marker.Path()), 0U);
}

// Records what reaches its window procedure.
struct WindowLog {
  int testMessages = 0;
  std::vector<std::pair<WPARAM, LPARAM>> systemCommands;
};
WindowLog windowLog;

LRESULT CALLBACK RecordingWindowProc(HWND window, UINT message, WPARAM wParam,
                                     LPARAM lParam) noexcept {
  if (message == kTestMessage) {
    ++windowLog.testMessages;
    return 0;
  }
  if (message == WM_SYSCOMMAND) {
    windowLog.systemCommands.emplace_back(wParam, lParam);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    windowLog = WindowLog{};
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = RecordingWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"LkRecordingWindow";
    RegisterClassW(&windowClass);
    window_.Reset(CreateWindowExW(0, L"LkRecordingWindow", L"", WS_OVERLAPPED, 0, 0, 10, 10,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
    if (!window_) GTEST_SKIP() << "no window can be created here (DISPLAY unset?)";
    // Start from an empty queue.
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    windowLog = WindowLog{};
  }

  void Post(int count = 1) {
    for (int i = 0; i < count; ++i) PostMessageW(window_.Get(), kTestMessage, 0, 0);
  }

  WindowsDesktop desktop_;
  UniqueWindow window_;
};

using ShutdownModes = WindowTest;

TEST_F(ShutdownModes, MonitorOffWithoutForceAndUnknownModesDoNothing) {
  desktop_.SetApplicationWindow(window_.Get());
  desktop_.ShutdownWindows(ShutdownMode::MonitorOff, false);
  desktop_.ShutdownWindows(static_cast<ShutdownMode>(9), true);
  desktop_.ShutdownWindows(static_cast<ShutdownMode>(0), true);
  EXPECT_TRUE(windowLog.systemCommands.empty());
}

TEST_F(ShutdownModes, MonitorOffWithForceGoesToTheApplicationWindow) {
  desktop_.SetApplicationWindow(window_.Get());
  desktop_.ShutdownWindows(ShutdownMode::MonitorOff, true);
  ASSERT_EQ(windowLog.systemCommands.size(), 1u);
  EXPECT_EQ(windowLog.systemCommands[0].first, WPARAM{SC_MONITORPOWER});
  EXPECT_EQ(windowLog.systemCommands[0].second, LPARAM{2});
}

using MessagePump = WindowTest;

TEST_F(MessagePump, RunsEveryPendingMessage) {
  Post(3);
  desktop_.PumpWindowMessages();
  EXPECT_EQ(windowLog.testMessages, 3);
  MSG message{};
  EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(MessagePump, FilterTakesTheMessagesItHandles) {
  int filtered = 0;
  desktop_.SetMessageFilter([&](MSG& message) {
    if (message.message != kTestMessage) return false;
    ++filtered;
    return filtered == 1;
  });
  Post(2);
  desktop_.PumpWindowMessages();
  EXPECT_EQ(filtered, 2);
  EXPECT_EQ(windowLog.testMessages, 1);
}

TEST_F(MessagePump, QuitRequestIsLeftForTheMainLoop) {
  Post();
  PostQuitMessage(7);
  desktop_.PumpWindowMessages();
  EXPECT_EQ(windowLog.testMessages, 1);
  MSG message{};
  ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, UINT{WM_QUIT});
  EXPECT_EQ(message.wParam, WPARAM{7});
}

TEST_F(MessagePump, PauseKeepsPumpingAndZeroDoesNotWait) {
  Post();
  desktop_.PauseSeconds(0);
  desktop_.PauseSeconds(-3);
  EXPECT_EQ(windowLog.testMessages, 0);

  const auto start = std::chrono::steady_clock::now();
  desktop_.PauseSeconds(1);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(windowLog.testMessages, 1);
  EXPECT_GE(waited, std::chrono::milliseconds(900));
}

// Opens the clipboard for reading, or says why not.
class ClipboardReader {
 public:
  ClipboardReader() : open_(OpenClipboard(nullptr) != FALSE) {}
  ClipboardReader(const ClipboardReader&) = delete;
  ClipboardReader& operator=(const ClipboardReader&) = delete;
  ~ClipboardReader() {
    if (open_) CloseClipboard();
  }
  [[nodiscard]] bool Open() const noexcept { return open_; }

  template <typename Char>
  std::basic_string<Char> Read(UINT format) {
    const HANDLE data = GetClipboardData(format);
    if (data == nullptr) return {};
    const auto* text = static_cast<const Char*>(GlobalLock(data));
    std::basic_string<Char> result = text != nullptr ? text : std::basic_string<Char>();
    GlobalUnlock(data);
    return result;
  }

 private:
  bool open_;
};

TEST(ClipboardText, HoldsUnicodeBesideAnsiText) {
  {
    const ClipboardReader probe;
    if (!probe.Open()) GTEST_SKIP() << "no clipboard here (DISPLAY unset?)";
  }
  WindowsDesktop desktop;
  desktop.SetClipboardText("C:\\WINDOWS\\system32\\lk-Ж😀.dll\r\nC:\\x.sys\r\n");

  ClipboardReader clipboard;
  ASSERT_TRUE(clipboard.Open());
  EXPECT_EQ(clipboard.Read<wchar_t>(CF_UNICODETEXT),
            L"C:\\WINDOWS\\system32\\lk-\u0416\U0001F600.dll\r\nC:\\x.sys\r\n");
  const std::string ansi = clipboard.Read<char>(CF_TEXT);
  EXPECT_TRUE(ansi.starts_with("C:\\WINDOWS\\system32\\lk-")) << ansi;
  EXPECT_TRUE(ansi.ends_with(".dll\r\nC:\\x.sys\r\n")) << ansi;
  if (GetACP() == 1252) {
    // Both halves of the surrogate pair become a default character.
    EXPECT_EQ(ansi, "C:\\WINDOWS\\system32\\lk-???.dll\r\nC:\\x.sys\r\n");
  }
}

TEST(ClipboardText, NewTextReplacesTheOld) {
  {
    const ClipboardReader probe;
    if (!probe.Open()) GTEST_SKIP() << "no clipboard here (DISPLAY unset?)";
  }
  WindowsDesktop desktop;
  desktop.SetClipboardText("first");
  desktop.SetClipboardText("second");
  ClipboardReader clipboard;
  ASSERT_TRUE(clipboard.Open());
  EXPECT_EQ(clipboard.Read<char>(CF_TEXT), "second");
  EXPECT_EQ(clipboard.Read<wchar_t>(CF_UNICODETEXT), L"second");
}

TEST(SystemErrorTexts, TextsLoseTrailingBreaksBlanksAndFullStops) {
  WindowsSystemAccess system;
  for (const std::uint32_t code : {2u, 5u, 1060u, 1072u}) {
    const std::string text = system.SystemErrorText(code);
    ASSERT_FALSE(text.empty()) << code;
    const char last = text.back();
    EXPECT_TRUE(last != '.' && last != ' ' && last != '\r' && last != '\n') << code << ": " << text;
  }
  EXPECT_NE(system.SystemErrorText(2), system.SystemErrorText(5));
}

TEST(SystemErrorTexts, UnknownCodeGivesEmptyText) {
  WindowsSystemAccess system;
  EXPECT_EQ(system.SystemErrorText(0x2FFFFFFFu), "");
}

}  // namespace
}  // namespace lk
