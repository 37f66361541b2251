#pragma once
// The run's progress bar: visibility, Position and Maximum, mirrored into the view.
//
// Keeps 0 <= Position <= Maximum: a larger Position, or a Maximum below the current Position,
// makes Position equal to Maximum; a negative Position becomes 0. The view only renders.

#include "analysis/AnalysisView.h"

namespace lk {

class ProgressBar {
 public:
  static constexpr double kDefaultMaximum = 100.0;

  explicit ProgressBar(AnalysisView& view) : view_(view) {}

  void Show();
  void Hide();
  void SetPosition(double position);
  void SetMaximum(double maximum);
  // Moves Position by delta (clamped as any other change).
  void StepBy(double delta) { SetPosition(position_ + delta); }

  [[nodiscard]] double Position() const { return position_; }
  [[nodiscard]] double Maximum() const { return maximum_; }
  [[nodiscard]] bool IsVisible() const { return visible_; }

 private:
  void Publish();

  AnalysisView& view_;
  double position_ = 0.0;
  double maximum_ = kDefaultMaximum;
  bool visible_ = false;
};

}  // namespace lk
