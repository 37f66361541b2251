#pragma once
// The report list: the run's log, one row per entry, each with a caption and an icon.
//
// AddReportEntry decides the caption's prefix and the image by the entry's kind, keeps the list
// near 2000 rows by replacing its tail once it has grown past that, and lets pending window
// messages run after every entry, which is what paints the entry during a long run and lets a
// press of the cancel button through. The rows themselves live in the view.

#include <string>
#include <string_view>

#include "analysis/AnalysisView.h"
#include "system/Desktop.h"

namespace lk {

class ReportList {
 public:
  // Above this many rows each new entry first removes the three newest rows.
  static constexpr int kCapThreshold = 2000;
  static constexpr int kRowsRemovedAtCap = 3;

  ReportList(AnalysisView& view, Desktop& desktop) : view_(view), desktop_(desktop) {}

  // The caption shown for text of kind; unknown kinds are shown like Plain.
  [[nodiscard]] static std::string Caption(std::string_view text, ReportKind kind);
  // 0 information, 1 warning (Concerning and Note), 2 critical.
  [[nodiscard]] static int ImageIndex(ReportKind kind);

  void AddReportEntry(std::string_view text, ReportKind kind);
  void Clear();

 private:
  AnalysisView& view_;
  Desktop& desktop_;
};

}  // namespace lk
