#pragma once
// Narrows or widens the start button in steps of 2 pixels, letting window messages run after
// each step so the change is painted; there is no pause, so the speed is that of repainting.
// An odd difference ends one pixel beyond the target.

#include "analysis/AnalysisView.h"
#include "system/Desktop.h"

namespace lk {

inline constexpr int kStartButtonIdleWidth = 554;
inline constexpr int kStartButtonRunWidth = 444;

void AnimateStartButtonWidth(AnalysisView& view, Desktop& desktop, int target);

}  // namespace lk
