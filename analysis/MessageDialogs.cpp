#include "analysis/MessageDialogs.h"

#include <string>

#include "analysis/AnalysisTexts.h"

namespace lk {

namespace {
constexpr DialogButtons kOkOnly = kButtonOk;
constexpr DialogButtons kYesNo = kButtonYes | kButtonNo;
}  // namespace

DialogResult MessageDialogs::Show(std::string_view title, std::string_view text, DialogIcon icon,
                                  DialogButtons buttons) {
  if (closing_) return DialogResult::Cancel;
  return view_.ShowMessageDialog(std::string(title), std::string(text), icon, buttons);
}

DialogResult MessageDialogs::ShowInformation(std::string_view text) {
  return Show(texts::kTitleInformation, text, DialogIcon::Information, kOkOnly);
}

DialogResult MessageDialogs::ShowError(std::string_view text) {
  return Show(texts::kTitleError, text, DialogIcon::Error, kOkOnly);
}

DialogResult MessageDialogs::ShowErrorTitled(std::string_view title, std::string_view text) {
  return Show(title, text, DialogIcon::Error, kOkOnly);
}

DialogResult MessageDialogs::AskWarning(std::string_view text) {
  return Show(texts::kTitleWarning, text, DialogIcon::Warning, kYesNo);
}

DialogResult MessageDialogs::AskCritical(std::string_view title, std::string_view text) {
  return Show(title, text, DialogIcon::Error, kYesNo);
}

DialogResult MessageDialogs::AskQuestion(std::string_view text) {
  return Show(texts::kTitleQuestion, text, DialogIcon::Question, kYesNo);
}

}  // namespace lk
