#include "analysis/StartButtonAnimation.h"

namespace lk {

void AnimateStartButtonWidth(AnalysisView& view, SystemAccess& system, int target) {
  constexpr int kStep = 2;
  if (target < view.StartButtonWidth()) {
    while (target < view.StartButtonWidth()) {
      view.SetStartButtonWidth(view.StartButtonWidth() - kStep);
      system.PumpWindowMessages();
    }
  } else {
    while (target > view.StartButtonWidth()) {
      view.SetStartButtonWidth(view.StartButtonWidth() + kStep);
      system.PumpWindowMessages();
    }
  }
}

}  // namespace lk
