// The program's windows, driven from outside under Wine: the idle main window as designed, the
// 64-bit notice at start-up, each kind of message dialog with its buttons and answers, a
// known-version run and a sweep from the start button, and a close request during a run.
//
// Environment: LK_APP (the program), LK_APP_HOOKS (its test build with the dialog hook),
// LK_SHOTS (folder for the screenshots); Linux paths are mapped to Wine's Z: drive.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/ui/GuiDriver.h"
#include "ui/ControlIds.h"

namespace lk::ui {
namespace {

using namespace std::chrono_literals;
using testing::Click;
using testing::Control;
using testing::IsShown;
using testing::Place;
using testing::PlaceOf;
using testing::ProgramProcess;
using testing::TextOf;
using testing::WaitForTopLevel;
using testing::WaitUntil;

std::wstring EnvPath(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? testing::WindowsPath(value) : std::wstring{};
}

std::wstring Shot(const std::wstring& name) {
  const std::wstring folder = EnvPath("LK_SHOTS");
  if (folder.empty()) return {};
  // Create the folder and its parents.
  for (std::size_t slash = folder.find(L'\\', 3);; slash = folder.find(L'\\', slash + 1)) {
    CreateDirectoryW(folder.substr(0, slash).c_str(), nullptr);
    if (slash == std::wstring::npos) break;
  }
  return folder + L"\\" + name;
}

void TakeShot(HWND window, const std::wstring& name) {
  const std::wstring path = Shot(name);
  if (path.empty()) return;
  Sleep(400);  // let the window finish painting
  EXPECT_TRUE(testing::Screenshot(window, path)) << "screenshot not written";
}

bool Is64BitWindows() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

bool Contains(const std::wstring& text, const std::wstring& part) {
  return text.find(part) != std::wstring::npos;
}

// Receives the results the test build posts back.
class ReplyWindow {
 public:
  ReplyWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &ReplyWindow::Procedure;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"LkTestReply";
    RegisterClassW(&wc);
    window_.Reset(CreateWindowExW(0, L"LkTestReply", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  wc.hInstance, nullptr));
  }
  [[nodiscard]] HWND Hwnd() const { return window_.Get(); }
  static int& LastResult() {
    static int result = -1;
    return result;
  }

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    static const UINT kDialogResult = RegisterWindowMessageW(L"lk.test.DialogResult");
    if (message == kDialogResult) {
      LastResult() = static_cast<int>(lParam);
      return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  UniqueWindow window_;
};

// Starts the program and answers the 64-bit notice if one comes; leaves the visible main window.
HWND StartMainWindow(ProgramProcess& program) {
  if (Is64BitWindows()) {
    HWND notice = WaitForTopLevel(kDialogClass, program.Id(), 20s);
    if (notice == nullptr) return nullptr;
    Click(Control(notice, kIdOk));
  }
  HWND main = WaitForTopLevel(kMainWindowClass, program.Id(), 20s);
  program.WaitForIdle();
  return main;
}

// Answers every dialog of a run with the given buttons' preference until the run has ended.
void AnswerUntilRunEnds(ProgramProcess& program, HWND main, std::wstring* titles) {
  HWND start = Control(main, kIdStartAnalyze);
  const bool ended = WaitUntil(
      [&] {
        if (HWND dialog = testing::FindTopLevel(kDialogClass, program.Id())) {
          if (titles != nullptr) *titles += TextOf(Control(dialog, kIdDialogTitle)) + L"|";
          // Yes/No questions (removal, restart) are answered No; notices with OK.
          HWND no = Control(dialog, kIdNo);
          Click(IsShown(no) ? no : Control(dialog, kIdOk));
          WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, 5s);
          return false;
        }
        return PlaceOf(start).width == 554 && !IsShown(Control(main, kIdAbbruch));
      },
      180s);
  EXPECT_TRUE(ended) << "the run did not end";
}

TEST(MainWindowAtStartup, ShowsItsDesignedPlacesTextsAndStates) {
  ProgramProcess program(EnvPath("LK_APP"));
  ASSERT_TRUE(program.Started());
  if (Is64BitWindows()) {
    // The notice comes first, before the main window is shown.
    HWND notice = WaitForTopLevel(kDialogClass, program.Id(), 20s);
    ASSERT_NE(notice, nullptr);
    HWND hiddenMain = testing::FindTopLevel(kMainWindowClass, program.Id(), false);
    ASSERT_NE(hiddenMain, nullptr);
    EXPECT_FALSE(IsWindowVisible(hiddenMain));
    EXPECT_EQ(TextOf(Control(notice, kIdDialogTitle)), L"Information");
    EXPECT_TRUE(Contains(TextOf(Control(notice, kIdDialogMessage)),
                         L"Anti-Lauschkobold hat ein 64-BIT Betriebssystem entdeckt!"));
    EXPECT_EQ(PlaceOf(Control(notice, kIdOk)), (Place{232, 315, 89, 41}));
    EXPECT_FALSE(IsShown(Control(notice, kIdYes)));
    TakeShot(notice, L"dialog-notice-64.png");
    Click(Control(notice, kIdOk));
  }
  HWND main = WaitForTopLevel(kMainWindowClass, program.Id(), 20s);
  ASSERT_NE(main, nullptr);
  program.WaitForIdle();
  const SIZE client = testing::ClientSize(main);
  EXPECT_EQ(client.cx, 690);
  EXPECT_EQ(client.cy, 494);
  EXPECT_EQ(TextOf(main), L"Quandrel Anti-Lauschkobold");
  EXPECT_EQ(GetWindowLongW(main, GWL_STYLE) & WS_THICKFRAME, 0) << "must not be resizable";

  EXPECT_EQ(PlaceOf(Control(main, kIdStartAnalyze)), (Place{127, 64, 554, 58}));
  EXPECT_EQ(TextOf(Control(main, kIdStartAnalyze)), L"Analyse starten...");
  EXPECT_EQ(PlaceOf(Control(main, kIdProductName)), (Place{232, 10, 338, 52}));
  EXPECT_EQ(TextOf(Control(main, kIdProductName)), L"Anti-Lauschkobold");
  EXPECT_EQ(TextOf(Control(main, kIdVersionLabel)), L"Version: 1.3.3.627");
  EXPECT_EQ(PlaceOf(Control(main, kIdVersionLabel)).left, 586);
  EXPECT_EQ(PlaceOf(Control(main, kIdVersionLabel)).top, 43);
  EXPECT_EQ(PlaceOf(Control(main, kIdFeedback)), (Place{9, 64, 121, 17}));
  EXPECT_EQ(TextOf(Control(main, kIdFeedback)), L" Feedback...");
  EXPECT_EQ(PlaceOf(Control(main, kIdBitBadge)), (Place{576, 6, 65, 26}));
  EXPECT_EQ(PlaceOf(Control(main, kIdBusyIndicator)), (Place{647, 6, 33, 36}));
  EXPECT_FALSE(IsShown(Control(main, kIdDeveloperBadge)));

  EXPECT_FALSE(IsShown(Control(main, kIdAbbruch)));
  EXPECT_EQ(PlaceOf(Control(main, kIdAbbruch)), (Place{577, 64, 104, 58}));
  EXPECT_FALSE(IsShown(Control(main, kIdProgress)));
  EXPECT_FALSE(IsShown(Control(main, kIdStatus)));
  EXPECT_EQ(TextOf(Control(main, kIdBusyIndicator)), L"") << "still while idle";
  // With status line and progress bar hidden the list reaches down to the footer.
  EXPECT_EQ(PlaceOf(Control(main, kIdReport)), (Place{0, 188, 690, 494 - 23 - 188}));
  EXPECT_EQ(PlaceOf(Control(main, kIdFooter)), (Place{0, 471, 690, 23}));
  EXPECT_EQ(PlaceOf(Control(main, kIdNotice)), (Place{0, 128, 690, 60}));

  const std::wstring notice = TextOf(Control(main, kIdNotice));
  EXPECT_TRUE(Contains(notice,
                       L"Hinweis: Analyse und Methode zur Entfernung beruhen auf den "
                       L"derzeitigen Erkenntnissen mit Stand\r\n13. Oktober 2011. Bitte "
                       L"pr\u00fcfen Sie regelm\u00e4\u00dfig auf den Seiten von Quandrel "
                       L"Software GmbH, ob es inzwischen\r\neine neuere Version gibt."))
      << std::string(notice.begin(), notice.end());
  EXPECT_TRUE(Contains(TextOf(Control(main, kIdFooter)),
                       L"Quandrel Software GmbH in Kooperation mit Tessivar"));

  // The picture first, so that it is kept for a look even when a check below fails.
  TakeShot(main, Is64BitWindows() ? L"idle-64.png" : L"idle-32.png");
  HWND report = Control(main, kIdReport);
  if (Is64BitWindows()) {
    ASSERT_EQ(testing::ListCount(report), 1);
    EXPECT_EQ(testing::ListItemText(report, 0),
              L"Hinweis: - (*) Auf 64-Bit Systemen kann der Lauschkobold (+Varianten) zur Zeit "
              L"aufgesp\u00fchrt, aber nur manuell entfernt werden!");
    EXPECT_EQ(testing::ListItemImage(report, 0), 1);
  } else {
    EXPECT_EQ(testing::ListCount(report), 0);
  }
}

struct DialogCase {
  int kind;
  const wchar_t* title;
  bool yes, no, ok;
  enum class Answer { Ok, Enter, AltN, Close, SysClose } answer;
  int expected;
  const wchar_t* shot;
};

class MessageDialogKinds : public ::testing::TestWithParam<DialogCase> {};

TEST_P(MessageDialogKinds, ShowButtonsAtFixedPlacesAndAnswer) {
  if (Is64BitWindows()) GTEST_SKIP() << "the dialog kinds are checked in the 32-bit prefix";
  const DialogCase& c = GetParam();
  ProgramProcess program(EnvPath("LK_APP_HOOKS"));
  ASSERT_TRUE(program.Started());
  HWND main = StartMainWindow(program);
  ASSERT_NE(main, nullptr);
  ReplyWindow reply;
  ReplyWindow::LastResult() = -1;
  PostMessageW(main, RegisterWindowMessageW(L"lk.test.ShowDialog"), static_cast<WPARAM>(c.kind),
               reinterpret_cast<LPARAM>(reply.Hwnd()));
  HWND dialog = WaitForTopLevel(kDialogClass, program.Id(), 10s);
  ASSERT_NE(dialog, nullptr);

  EXPECT_EQ(testing::ClientSize(dialog).cx, 432);
  EXPECT_EQ(testing::ClientSize(dialog).cy, 384);
  EXPECT_NE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  EXPECT_EQ(GetWindowLongW(dialog, GWL_STYLE) & WS_SYSMENU, 0) << "no close box";
  EXPECT_EQ(TextOf(Control(dialog, kIdDialogTitle)), c.title);
  EXPECT_EQ(IsShown(Control(dialog, kIdYes)), c.yes);
  EXPECT_EQ(IsShown(Control(dialog, kIdNo)), c.no);
  EXPECT_EQ(IsShown(Control(dialog, kIdOk)), c.ok);
  EXPECT_FALSE(IsShown(Control(dialog, kIdCancel)));
  // Every button keeps its place, shown or not.
  EXPECT_EQ(PlaceOf(Control(dialog, kIdYes)), (Place{8, 315, 105, 41}));
  EXPECT_EQ(PlaceOf(Control(dialog, kIdNo)), (Place{120, 315, 105, 41}));
  EXPECT_EQ(PlaceOf(Control(dialog, kIdOk)), (Place{232, 315, 89, 41}));
  EXPECT_EQ(PlaceOf(Control(dialog, kIdCancel)), (Place{328, 315, 81, 41}));
  EXPECT_EQ(TextOf(Control(dialog, kIdYes)), L"&Ja");
  EXPECT_EQ(TextOf(Control(dialog, kIdNo)), L"&Nein");
  EXPECT_EQ(TextOf(Control(dialog, kIdCancel)), L"A&bbruch");
  EXPECT_EQ(PlaceOf(Control(dialog, kIdDialogMessage)), (Place{16, 84, 396, 179}));
  EXPECT_EQ(PlaceOf(Control(dialog, kIdDialogIcon)), (Place{8, 8, 41, 41}));
  // Centred on the main window.
  RECT mainRect{};
  RECT dialogRect{};
  GetWindowRect(main, &mainRect);
  GetWindowRect(dialog, &dialogRect);
  EXPECT_NEAR((mainRect.left + mainRect.right) / 2, (dialogRect.left + dialogRect.right) / 2, 1);
  EXPECT_NEAR((mainRect.top + mainRect.bottom) / 2, (dialogRect.top + dialogRect.bottom) / 2, 1);
  EXPECT_FALSE(IsWindowEnabled(main)) << "modal";

  const std::wstring message = TextOf(Control(dialog, kIdDialogMessage));
  if (c.kind == 0) {
    EXPECT_TRUE(Contains(message, L"Dieses Wort ist schwarz."));
    EXPECT_FALSE(Contains(message, L"(FS)"));
    EXPECT_FALSE(Contains(message, L"<FONT"));
    EXPECT_TRUE(Contains(message,
                         L"\r\nC:\\windows\\system32\\alpha.dll\r\nC:\\windows\\system32"
                         L"\\beta.dll\r\n"));
  }
  TakeShot(dialog, c.shot);

  switch (c.answer) {
    case DialogCase::Answer::Ok:
      Click(Control(dialog, kIdOk));
      break;
    case DialogCase::Answer::Enter: {
      // The first button has the focus; Enter answers with it.
      GUITHREADINFO info{};
      info.cbSize = sizeof info;
      GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
      EXPECT_EQ(info.hwndFocus, Control(dialog, kIdYes));
      PostMessageW(info.hwndFocus, WM_KEYDOWN, VK_RETURN, 1);
      PostMessageW(info.hwndFocus, WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC0000001u));
      break;
    }
    case DialogCase::Answer::AltN: {
      GUITHREADINFO info{};
      info.cbSize = sizeof info;
      GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
      testing::PostAltKey(info.hwndFocus != nullptr ? info.hwndFocus : dialog, L'n');
      break;
    }
    case DialogCase::Answer::Close:
      PostMessageW(dialog, WM_CLOSE, 0, 0);
      break;
    case DialogCase::Answer::SysClose:
      PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
  }
  ASSERT_TRUE(WaitUntil([] { return ReplyWindow::LastResult() != -1; }, 10s));
  EXPECT_EQ(ReplyWindow::LastResult(), c.expected);
  EXPECT_FALSE(IsWindow(dialog)) << "destroyed after the call";
  EXPECT_TRUE(IsWindowEnabled(main));
}

using A = DialogCase::Answer;

std::string WrapperName(const ::testing::TestParamInfo<DialogCase>& param) {
  static const char* const kNames[] = {"ShowInformation", "ShowError",   "ShowErrorTitled",
                                       "AskWarning",      "AskCritical", "AskQuestion"};
  return kNames[param.param.kind];
}

INSTANTIATE_TEST_SUITE_P(
    EachWrapper, MessageDialogKinds,
    ::testing::Values(
        DialogCase{0, L"Information", false, false, true, A::Ok, 1, L"dialog-information.png"},
        DialogCase{1, L"Fehler", false, false, true, A::Close, 2, L"dialog-error.png"},
        DialogCase{2, L"Ergebnis der Tiefenanalyse", false, false, true, A::Ok, 1,
                   L"dialog-error-titled.png"},
        DialogCase{3, L"Warnung", true, true, false, A::Enter, 6, L"dialog-warning.png"},
        DialogCase{4, L"Lauschkobold gefunden!", true, true, false, A::SysClose, 2,
                   L"dialog-critical.png"},
        DialogCase{5, L"Frage", true, true, false, A::AltN, 7, L"dialog-question.png"}),
    WrapperName);

TEST(AnalysisRunFromTheWindow, KnownVersionRunShrinksTheStartButtonAndRestoresIt) {
  if (Is64BitWindows()) GTEST_SKIP() << "64-bit systems only sweep";
  ProgramProcess program(EnvPath("LK_APP"));
  HWND main = StartMainWindow(program);
  ASSERT_NE(main, nullptr);
  Click(Control(main, kIdStartAnalyze));
  HWND question = WaitForTopLevel(kDialogClass, program.Id(), 20s);
  ASSERT_NE(question, nullptr);
  EXPECT_EQ(TextOf(Control(question, kIdDialogTitle)), L"Frage");
  // The run has made room for the cancel button before it asks.
  EXPECT_EQ(PlaceOf(Control(main, kIdStartAnalyze)).width, 444);
  EXPECT_TRUE(IsShown(Control(main, kIdAbbruch)));
  EXPECT_EQ(TextOf(Control(main, kIdBusyIndicator)), L"busy");
  Click(Control(question, kIdNo));
  ASSERT_TRUE(WaitUntil([&] { return testing::ListCount(Control(main, kIdReport)) > 0; }, 20s));
  TakeShot(main, L"run-known-version.png");
  std::wstring titles;
  AnswerUntilRunEnds(program, main, &titles);
  EXPECT_EQ(PlaceOf(Control(main, kIdStartAnalyze)).width, 554);
  EXPECT_FALSE(IsShown(Control(main, kIdAbbruch)));
  EXPECT_EQ(TextOf(Control(main, kIdBusyIndicator)), L"");
  EXPECT_GT(testing::ListCount(Control(main, kIdReport)), 0);
  EXPECT_FALSE(titles.empty()) << "a verdict was shown";
  TakeShot(main, L"after-run.png");
}

TEST(AnalysisRunFromTheWindow, SweepShowsProgressAndEnds) {
  ProgramProcess program(EnvPath("LK_APP"));
  HWND main = StartMainWindow(program);
  ASSERT_NE(main, nullptr);
  Click(Control(main, kIdStartAnalyze));
  if (!Is64BitWindows()) {
    HWND question = WaitForTopLevel(kDialogClass, program.Id(), 20s);
    ASSERT_NE(question, nullptr);
    Click(Control(question, kIdYes));
  }
  // The status line appears with the content pass, the progress bar already with the counting.
  ASSERT_TRUE(WaitUntil(
      [&] { return IsShown(Control(main, kIdProgress)) && IsShown(Control(main, kIdStatus)); },
      60s));
  // The program lays the window out again right after showing them; a slow machine may look in
  // between.
  WaitUntil([&] { return PlaceOf(Control(main, kIdReport)).height == 250; }, 10s);
  EXPECT_EQ(PlaceOf(Control(main, kIdStatus)), (Place{0, 494 - 23 - 20 - 13, 690, 13}));
  EXPECT_EQ(PlaceOf(Control(main, kIdReport)), (Place{0, 188, 690, 250})) << "the designed size";
  const Place bar = PlaceOf(Control(main, kIdProgress));
  EXPECT_EQ(bar, (Place{0, 494 - 23 - 20, 690, 20}));
  TakeShot(main, Is64BitWindows() ? L"run-sweep-64.png" : L"run-sweep-32.png");
  AnswerUntilRunEnds(program, main, nullptr);
  EXPECT_FALSE(IsShown(Control(main, kIdProgress)));
  EXPECT_FALSE(IsShown(Control(main, kIdStatus)));
  EXPECT_EQ(PlaceOf(Control(main, kIdStartAnalyze)).width, 554);
}

TEST(CloseDuringRun, EndsTheProgramCleanlyAfterTheRunUnwound) {
  ProgramProcess program(EnvPath("LK_APP"));
  HWND main = StartMainWindow(program);
  ASSERT_NE(main, nullptr);
  Click(Control(main, kIdStartAnalyze));
  if (!Is64BitWindows()) {
    HWND question = WaitForTopLevel(kDialogClass, program.Id(), 20s);
    ASSERT_NE(question, nullptr);
    Click(Control(question, kIdNo));
  }
  ASSERT_TRUE(WaitUntil([&] { return testing::ListCount(Control(main, kIdReport)) > 0; }, 20s));
  PostMessageW(main, WM_CLOSE, 0, 0);
  DWORD exitCode = 1234;
  ASSERT_TRUE(program.WaitForExit(60s, &exitCode)) << "the program did not end";
  EXPECT_EQ(exitCode, 0u);
}

TEST(CloseDuringRun, WhileAQuestionIsOpenEndsTheProgramToo) {
  if (Is64BitWindows()) GTEST_SKIP() << "no question on 64-bit systems";
  ProgramProcess program(EnvPath("LK_APP"));
  HWND main = StartMainWindow(program);
  ASSERT_NE(main, nullptr);
  Click(Control(main, kIdStartAnalyze));
  ASSERT_NE(WaitForTopLevel(kDialogClass, program.Id(), 20s), nullptr);
  PostMessageW(main, WM_CLOSE, 0, 0);
  DWORD exitCode = 1234;
  ASSERT_TRUE(program.WaitForExit(60s, &exitCode)) << "the program did not end";
  EXPECT_EQ(exitCode, 0u);
}

// The general error display's message box, and whether one of its texts holds part.
HWND WaitForErrorBox(const ProgramProcess& program) {
  return WaitForTopLevel(L"#32770", program.Id(), 60s);
}

struct ChildTextSearch {
  const std::wstring* part;
  bool found;
};

// A callback of its own, not a lambda: the 32-bit ABI wants CALLBACK (stdcall), which a lambda's
// conversion does not give.
BOOL CALLBACK SearchChildText(HWND child, LPARAM state) {
  auto* search = reinterpret_cast<ChildTextSearch*>(state);
  search->found = search->found || TextOf(child).find(*search->part) != std::wstring::npos;
  return TRUE;
}

bool HasChildText(HWND window, const std::wstring& part) {
  ChildTextSearch search{&part, false};
  EnumChildWindows(window, &SearchChildText, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

const UINT kFailNextDialog = RegisterWindowMessageW(L"lk.test.FailNextDialog");

TEST(FailureInARun, IsShownAfterTheClosingStepsAndTheWindowStaysUsable) {
  ProgramProcess program(EnvPath("LK_APP_HOOKS"));
  HWND main = StartMainWindow(program);
  ASSERT_NE(main, nullptr);
  PostMessageW(main, kFailNextDialog, 1, 0);
  Click(Control(main, kIdStartAnalyze));
  // The first dialog of the run fails: the question here, the sweep's result on 64-bit systems.
  HWND error = WaitForErrorBox(program);
  ASSERT_NE(error, nullptr) << "the failure was not shown";
  EXPECT_TRUE(HasChildText(error, L"Testfehler: der Dialog konnte nicht angezeigt werden."));
  // The run's closing steps came first.
  HWND report = Control(main, kIdReport);
  const int rows = testing::ListCount(report);
  ASSERT_GT(rows, 0);
  EXPECT_EQ(testing::ListItemText(report, rows - 1), L"Analyse beendet...");
  EXPECT_EQ(PlaceOf(Control(main, kIdStartAnalyze)).width, 554);
  EXPECT_FALSE(IsShown(Control(main, kIdAbbruch)));
  PostMessageW(error, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(error); }, 10s));

  // The next run starts normally and ends as usual.
  Click(Control(main, kIdStartAnalyze));
  AnswerUntilRunEnds(program, main, nullptr);
  const int after = testing::ListCount(report);
  ASSERT_GT(after, 0);
  EXPECT_EQ(testing::ListItemText(report, after - 1), L"Analyse beendet...");
  EXPECT_EQ(testing::FindTopLevel(L"#32770", program.Id()), nullptr);
}

TEST(FailureInARun, AfterACloseRequestStillEndsTheProgram) {
  ProgramProcess program(EnvPath("LK_APP_HOOKS"));
  HWND main = StartMainWindow(program);
  ASSERT_NE(main, nullptr);
  // The next dialog asks to close the window, then fails, as if the user closed the window
  // while a step was about to fail.
  PostMessageW(main, kFailNextDialog, 2, 0);
  Click(Control(main, kIdStartAnalyze));
  DWORD exitCode = 1234;
  ASSERT_TRUE(program.WaitForExit(240s, &exitCode)) << "the program did not end";
  EXPECT_EQ(exitCode, 0u);
}

}  // namespace
}  // namespace lk::ui

namespace lk::ui {
namespace {

// Sets the display scaling of the prefix for one test (Wine reads it when a program starts).
class DisplayScaling {
 public:
  explicit DisplayScaling(DWORD dpi) {
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, key_.Put(), nullptr);
    DWORD size = sizeof previous_;
    hadValue_ = RegQueryValueExW(key_.Get(), L"LogPixels", nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(&previous_), &size) == ERROR_SUCCESS;
    RegSetValueExW(key_.Get(), L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                   sizeof dpi);
  }
  DisplayScaling(const DisplayScaling&) = delete;
  DisplayScaling& operator=(const DisplayScaling&) = delete;
  ~DisplayScaling() {
    if (hadValue_) {
      RegSetValueExW(key_.Get(), L"LogPixels", 0, REG_DWORD,
                     reinterpret_cast<const BYTE*>(&previous_), sizeof previous_);
    } else {
      RegDeleteValueW(key_.Get(), L"LogPixels");
    }
  }

 private:
  UniqueRegistryKey key_;
  DWORD previous_ = 0;
  bool hadValue_ = false;
};

TEST(DisplayScaling150, ScalesTheDesignedLayout) {
  DisplayScaling scaling(144);
  ProgramProcess program(EnvPath("LK_APP"));
  HWND main = StartMainWindow(program);
  ASSERT_NE(main, nullptr);
  if (testing::ClientSize(main).cx == 690) GTEST_SKIP() << "this Wine does not take the scaling";
  EXPECT_EQ(testing::ClientSize(main).cx, 1035);
  EXPECT_EQ(testing::ClientSize(main).cy, 741);
  // Edges are scaled (and rounded), so neighbouring controls still meet exactly.
  EXPECT_EQ(PlaceOf(Control(main, kIdStartAnalyze)), (Place{191, 96, 831, 87}));
  EXPECT_EQ(PlaceOf(Control(main, kIdProductName)).left, 348);
  EXPECT_EQ(PlaceOf(Control(main, kIdFooter)), (Place{0, 707, 1035, 34}));
  EXPECT_EQ(PlaceOf(Control(main, kIdReport)), (Place{0, 282, 1035, 707 - 282}));
  TakeShot(main, L"idle-150-percent.png");
}

}  // namespace
}  // namespace lk::ui
