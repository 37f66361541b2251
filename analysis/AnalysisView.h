#pragma once
// What the analysis needs of the window: the report list rows, the message dialog, the progress
// bar, the status line, the busy spinner, the cancel button and the start button's width.
//
// The analysis reaches the window only through this interface, so it runs headless in tests and
// in lksim (RecordingView) and under the Win32 front end alike. The view renders; the rules (the
// report prefixes and the cap, the progress clamping, the dialog wrappers, the start button
// animation) live in the core.

#include <cstdint>
#include <string>

namespace lk {

enum class ReportKind : std::uint8_t { Plain = 0, Concerning = 1, Critical = 2, Note = 3 };

enum class DialogIcon : std::uint8_t {
  None = 0,
  Warning = 1,
  Information = 2,
  Error = 3,
  Question = 4
};

// A set of dialog buttons, one bit per button.
enum DialogButton : std::uint8_t {
  kButtonYes = 1,
  kButtonNo = 2,
  kButtonOk = 4,
  kButtonCancel = 8,
};
using DialogButtons = std::uint8_t;

enum class DialogResult : int { Ok = 1, Cancel = 2, Yes = 6, No = 7 };

class AnalysisView {
 public:
  AnalysisView() = default;
  AnalysisView(const AnalysisView&) = delete;
  AnalysisView& operator=(const AnalysisView&) = delete;
  virtual ~AnalysisView() = default;

  // Report list control: rows of caption and image index (0 information, 1 warning,
  // 2 critical). A new row is neither selected nor scrolled to.
  virtual void AppendReportRow(const std::string& caption, int imageIndex) = 0;
  virtual void RemoveLastReportRow() = 0;
  [[nodiscard]] virtual int ReportRowCount() const = 0;
  virtual void ClearReport() = 0;

  // The modal message dialog; blocks until it closes. A close request gives Cancel.
  virtual DialogResult ShowMessageDialog(const std::string& title, const std::string& text,
                                         DialogIcon icon, DialogButtons buttons) = 0;

  // Progress bar: values already clamped by the core (0 <= position <= maximum).
  virtual void SetProgressVisible(bool visible) = 0;
  virtual void SetProgress(double position, double maximum) = 0;

  virtual void SetStatusText(const std::string& text) = 0;
  virtual void SetStatusVisible(bool visible) = 0;
  virtual void SetBusy(bool turning) = 0;
  virtual void SetCancelButtonVisible(bool visible) = 0;
  [[nodiscard]] virtual int StartButtonWidth() const = 0;
  virtual void SetStartButtonWidth(int width) = 0;

  // Closes the main window. Called once a run that was asked to close the window (see
  // AnalysisController::RequestClose) has unwound.
  virtual void CloseWindow() {}
};

}  // namespace lk
