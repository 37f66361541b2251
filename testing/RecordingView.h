#pragma once
// An AnalysisView without a window, for tests and lksim: records every row, dialog, progress
// change and control state, and answers dialogs from a script.
//
// Dialog answers are taken in order from the queue; once it is used up a dialog with a No
// button gets No and any other gets Ok. Hooks let a caller act while a row is appended or a
// dialog is open (print a transcript, press a button, raise a failure).

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "analysis/AnalysisView.h"

namespace lk {

class RecordingView : public AnalysisView {
 public:
  struct Row {
    std::string caption;
    int imageIndex = 0;
    friend bool operator==(const Row&, const Row&) = default;
  };
  struct Dialog {
    std::string title;
    std::string text;
    DialogIcon icon = DialogIcon::None;
    DialogButtons buttons = 0;
    DialogResult result = DialogResult::Ok;
  };
  struct Progress {
    double position = 0;
    double maximum = 0;
    friend bool operator==(const Progress&, const Progress&) = default;
  };

  void QueueAnswer(DialogResult answer) { answers_.push_back(answer); }

  // Called after a row was appended / when a dialog has its result, before it returns.
  std::function<void(const Row&)> OnRowAppended;
  std::function<void(const Dialog&)> OnDialog;
  std::function<void()> OnCloseWindow;
  // Called after the progress bar was shown or hidden.
  std::function<void(bool visible)> OnProgressVisibility;

  // What the window shows now.
  [[nodiscard]] const std::vector<Row>& Rows() const { return rows_; }
  [[nodiscard]] std::vector<std::string> Captions() const;
  [[nodiscard]] const std::vector<Dialog>& Dialogs() const { return dialogs_; }
  [[nodiscard]] const std::vector<Progress>& ProgressHistory() const { return progress_; }
  [[nodiscard]] Progress CurrentProgress() const;
  [[nodiscard]] bool ProgressVisible() const { return progressVisible_; }
  [[nodiscard]] const std::string& StatusText() const { return statusText_; }
  [[nodiscard]] bool StatusVisible() const { return statusVisible_; }
  [[nodiscard]] const std::vector<std::string>& StatusHistory() const { return statusHistory_; }
  [[nodiscard]] bool Busy() const { return busy_; }
  [[nodiscard]] bool CancelButtonVisible() const { return cancelVisible_; }
  [[nodiscard]] int WidthSteps() const { return widthSteps_; }
  [[nodiscard]] int CloseWindowCalls() const { return closeWindowCalls_; }
  // Every row appended since the start, also those the cap removed later.
  [[nodiscard]] int RowsAppended() const { return rowsAppended_; }

  // AnalysisView
  void AppendReportRow(const std::string& caption, int imageIndex) override;
  void RemoveLastReportRow() override;
  [[nodiscard]] int ReportRowCount() const override;
  void ClearReport() override;
  DialogResult ShowMessageDialog(const std::string& title, const std::string& text, DialogIcon icon,
                                 DialogButtons buttons) override;
  void SetProgressVisible(bool visible) override {
    progressVisible_ = visible;
    if (OnProgressVisibility) OnProgressVisibility(visible);
  }
  void SetProgress(double position, double maximum) override;
  void SetStatusText(const std::string& text) override;
  void SetStatusVisible(bool visible) override { statusVisible_ = visible; }
  void SetBusy(bool turning) override { busy_ = turning; }
  void SetCancelButtonVisible(bool visible) override { cancelVisible_ = visible; }
  [[nodiscard]] int StartButtonWidth() const override { return startButtonWidth_; }
  void SetStartButtonWidth(int width) override;
  void CloseWindow() override;

 private:
  std::deque<DialogResult> answers_;
  std::vector<Row> rows_;
  std::vector<Dialog> dialogs_;
  std::vector<Progress> progress_;
  std::vector<std::string> statusHistory_;
  std::string statusText_;
  bool progressVisible_ = false;
  bool statusVisible_ = false;
  bool busy_ = false;
  bool cancelVisible_ = false;
  int startButtonWidth_ = 554;
  int widthSteps_ = 0;
  int closeWindowCalls_ = 0;
  int rowsAppended_ = 0;
};

}  // namespace lk
