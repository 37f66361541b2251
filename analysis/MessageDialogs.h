#pragma once
// The six ways the analysis shows the message dialog, each fixing the title (or taking the
// caller's), the buttons and the icon. Callers compare the result with Yes only: every other
// result, a close request included, means no.
//
// Once the user has asked to close the program during a run, no further dialog is shown: each
// answers Cancel at once, so the rest of the run unwinds without waiting for anybody.

#include <string_view>

#include "analysis/AnalysisView.h"

namespace lk {

class MessageDialogs {
 public:
  explicit MessageDialogs(AnalysisView& view) : view_(view) {}

  // "Information", OK, information icon.
  DialogResult ShowInformation(std::string_view text);
  // "Fehler", OK, error icon.
  DialogResult ShowError(std::string_view text);
  // The caller's title, OK, error icon.
  DialogResult ShowErrorTitled(std::string_view title, std::string_view text);
  // "Warnung", Yes and No, warning icon.
  DialogResult AskWarning(std::string_view text);
  // The caller's title, Yes and No, error icon.
  DialogResult AskCritical(std::string_view title, std::string_view text);
  // "Frage", Yes and No, question icon.
  DialogResult AskQuestion(std::string_view text);

  // While set, every dialog answers Cancel without being shown.
  void SetClosing(bool closing) { closing_ = closing; }
  [[nodiscard]] bool IsClosing() const { return closing_; }

 private:
  DialogResult Show(std::string_view title, std::string_view text, DialogIcon icon,
                    DialogButtons buttons);

  AnalysisView& view_;
  bool closing_ = false;
};

}  // namespace lk
