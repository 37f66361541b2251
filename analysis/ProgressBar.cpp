#include "analysis/ProgressBar.h"

#include <algorithm>

namespace lk {

void ProgressBar::Show() {
  visible_ = true;
  view_.SetProgressVisible(true);
}

void ProgressBar::Hide() {
  visible_ = false;
  view_.SetProgressVisible(false);
}

void ProgressBar::SetPosition(double position) {
  position_ = std::clamp(position, 0.0, std::max(maximum_, 0.0));
  Publish();
}

void ProgressBar::SetMaximum(double maximum) {
  maximum_ = std::max(maximum, 0.0);
  position_ = std::min(position_, maximum_);
  Publish();
}

void ProgressBar::Publish() { view_.SetProgress(position_, maximum_); }

}  // namespace lk
