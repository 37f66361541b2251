#include "testing/RecordingView.h"

namespace lk {

std::vector<std::string> RecordingView::Captions() const {
  std::vector<std::string> captions;
  captions.reserve(rows_.size());
  for (const Row& row : rows_) captions.push_back(row.caption);
  return captions;
}

RecordingView::Progress RecordingView::CurrentProgress() const {
  return progress_.empty() ? Progress{0, 100} : progress_.back();
}

void RecordingView::AppendReportRow(const std::string& caption, int imageIndex) {
  rows_.push_back({caption, imageIndex});
  ++rowsAppended_;
  if (OnRowAppended) OnRowAppended(rows_.back());
}

void RecordingView::RemoveLastReportRow() {
  if (!rows_.empty()) rows_.pop_back();
}

int RecordingView::ReportRowCount() const { return static_cast<int>(rows_.size()); }

void RecordingView::ClearReport() { rows_.clear(); }

DialogResult RecordingView::ShowMessageDialog(const std::string& title, const std::string& text,
                                              DialogIcon icon, DialogButtons buttons) {
  Dialog dialog{title, text, icon, buttons, DialogResult::Ok};
  if (!answers_.empty()) {
    dialog.result = answers_.front();
    answers_.pop_front();
  } else {
    dialog.result = (buttons & kButtonNo) != 0 ? DialogResult::No : DialogResult::Ok;
  }
  dialogs_.push_back(dialog);
  if (OnDialog) OnDialog(dialog);
  return dialog.result;
}

void RecordingView::SetProgress(double position, double maximum) {
  progress_.push_back({position, maximum});
}

void RecordingView::SetStatusText(const std::string& text) {
  statusText_ = text;
  statusHistory_.push_back(text);
}

void RecordingView::SetStartButtonWidth(int width) {
  startButtonWidth_ = width;
  ++widthSteps_;
}

void RecordingView::CloseWindow() {
  ++closeWindowCalls_;
  if (OnCloseWindow) OnCloseWindow();
}

}  // namespace lk
