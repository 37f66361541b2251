// Hooks for the window tests, compiled only into the test build of the program
// (AntiLauschkoboldTestHooks.exe), never into the shipped one. On one registered message it
// shows one kind of message dialog through the same wrappers the analysis uses and posts the
// result back to the test's window; on another it makes the next dialog of a run fail, as a
// step that raises an error nobody catches would, optionally after a close request.

#ifdef LK_UI_TEST_HOOKS

#include <stdexcept>

#include "analysis/MessageDialogs.h"
#include "ui/MainWindow.h"

namespace lk::ui {
namespace {

constexpr char kList[] =
    "Folgende Dateien sind verdächtig:\r\n"
    "C:\\windows\\system32\\alpha.dll\r\n"
    "C:\\windows\\system32\\beta.dll\r\n"
    "C:\\windows\\system32\\drivers\\gamma.sys";

std::string LongList() {
  std::string text = "<b>Verdächtige Dateien:</b>";
  for (int i = 1; i <= 30; ++i)
    text += "\r\nC:\\windows\\system32\\datei" + std::to_string(i) + ".dll";
  return text;
}

}  // namespace

void MainWindow::FailDialogIfAsked() {
  const int failure = dialogFailure_;
  dialogFailure_ = 0;
  if (failure == 0) return;
  if (failure == 2) RequestClose();
  throw std::runtime_error("Testfehler: der Dialog konnte nicht angezeigt werden.");
}

bool MainWindow::HandleTestHook(UINT message, WPARAM wParam, LPARAM lParam) {
  static const UINT kShowDialog = RegisterWindowMessageW(L"lk.test.ShowDialog");
  static const UINT kDialogResult = RegisterWindowMessageW(L"lk.test.DialogResult");
  static const UINT kFailNextDialog = RegisterWindowMessageW(L"lk.test.FailNextDialog");
  if (message == kFailNextDialog) {
    dialogFailure_ = static_cast<int>(wParam);
    return true;
  }
  if (message != kShowDialog) return false;
  auto* reply = reinterpret_cast<HWND>(lParam);
  MessageDialogs dialogs(*this);
  DialogResult result = DialogResult::Cancel;
  switch (wParam) {
    case 0:
      result = dialogs.ShowInformation(
          "Es wurde <b>nichts</b> gefunden. Dieses Wort ist (FS)schwarz(FE).<br>" +
          std::string(kList));
      break;
    case 1:
      result = dialogs.ShowError("Der Treiber-Dienst konnte <u>nicht</u> entfernt werden.");
      break;
    case 2:
      result = dialogs.ShowErrorTitled("Ergebnis der Tiefenanalyse", LongList());
      break;
    case 3:
      result = dialogs.AskWarning("Soll der Computer jetzt <b>neu gestartet</b> werden?");
      break;
    case 4:
      result = dialogs.AskCritical("Lauschkobold gefunden!",
                                   "Soll der gefundene Lauschkobold <i>entfernt</i> werden? "
                                   "Weitere Informationen: <a href=\"https://www.quandrel.example/"
                                   "\">Quandrel Software GmbH</a>");
      break;
    default:
      result = dialogs.AskQuestion(
          "Möchten Sie die heuristische <b>Tiefenanalyse</b> starten?<br><br>Sie dauert einige "
          "Minuten.");
      break;
  }
  PostMessageW(reply, kDialogResult, wParam, static_cast<LPARAM>(result));
  return true;
}

}  // namespace lk::ui

#endif
