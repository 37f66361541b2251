#include "analysis/ReportList.h"

#include "analysis/AnalysisTexts.h"

namespace lk {

std::string ReportList::Caption(std::string_view text, ReportKind kind) {
  std::string caption;
  switch (kind) {
    case ReportKind::Concerning:
      caption = texts::kPrefixConcerning;
      break;
    case ReportKind::Critical:
      caption = texts::kPrefixCritical;
      break;
    case ReportKind::Note:
      caption = texts::kPrefixNote;
      break;
    case ReportKind::Plain:
    default:
      break;
  }
  caption += text;
  return caption;
}

int ReportList::ImageIndex(ReportKind kind) {
  switch (kind) {
    case ReportKind::Concerning:
    case ReportKind::Note:
      return 1;
    case ReportKind::Critical:
      return 2;
    case ReportKind::Plain:
    default:
      return 0;
  }
}

void ReportList::AddReportEntry(std::string_view text, ReportKind kind) {
  // Once past the threshold the tail is replaced, so the first entries of a long log survive.
  if (view_.ReportRowCount() > kCapThreshold) {
    for (int i = 0; i < kRowsRemovedAtCap; ++i) view_.RemoveLastReportRow();
  }
  view_.AppendReportRow(Caption(text, kind), ImageIndex(kind));
  desktop_.PumpWindowMessages();
}

void ReportList::Clear() { view_.ClearReport(); }

}  // namespace lk
