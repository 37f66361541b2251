#include "analysis/StartButtonAnimation.h"

namespace lk {

void AnimateStartButtonWidth(AnalysisView& view, Desktop& desktop, int target) {
  constexpr int kStep = 2;
  if (target < view.StartButtonWidth()) {
    while (target < view.StartButtonWidth()) {
      view.SetStartButtonWidth(view.StartButtonWidth() - kStep);
      desktop.PumpWindowMessages();
    }
  } else {
    while (target > view.StartButtonWidth()) {
      view.SetStartButtonWidth(view.StartButtonWidth() + kStep);
      desktop.PumpWindowMessages();
    }
  }
}

}  // namespace lk
