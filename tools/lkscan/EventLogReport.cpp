#include "tools/lkscan/EventLogReport.h"

#include <sstream>

#include "tools/lkscan/ScanOutput.h"

namespace lk {

namespace {

// The record as one of the two renderings writes it, without its line end.
template <typename Face, typename Record>
std::string Rendered(const Record& record, void (Face::*method)(const Record&)) {
  std::ostringstream out;
  Face face(out);
  (face.*method)(record);
  std::string text = out.str();
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

}  // namespace

void EventLogReport::Send(EventKind kind, std::uint32_t id, std::string text, std::string json) {
  if (!sink_.Report(kind, id, {std::move(text), std::move(json)})) ++failed_;
}

void EventLogReport::Finding(const ScanFinding& finding) {
  const bool sweep = finding.check.rfind("sweep-", 0) == 0;
  Send(sweep ? EventKind::Warning : EventKind::Error, event_id::kFinding,
       Rendered<TextReport>(finding, &TextReport::Finding),
       Rendered<JsonLinesReport>(finding, &JsonLinesReport::Finding));
}

void EventLogReport::Action(const ScanAction& action) {
  Send(action.ok ? EventKind::Information : EventKind::Error, event_id::kAction,
       Rendered<TextReport>(action, &TextReport::Action),
       Rendered<JsonLinesReport>(action, &JsonLinesReport::Action));
}

void EventLogReport::Summary(const ScanSummary& summary) {
  EventKind kind = EventKind::Information;
  std::uint32_t id = event_id::kClean;
  if (summary.restore) {
    id = event_id::kRestore;
    kind = summary.exitCode == 0 ? EventKind::Information : EventKind::Warning;
  } else if (summary.verdict == ScanVerdict::Infected) {
    id = event_id::kInfected;
    kind = EventKind::Error;
  } else if (summary.verdict == ScanVerdict::Suspicious) {
    id = event_id::kSuspicious;
    kind = EventKind::Warning;
  } else if (summary.verdict == ScanVerdict::Incomplete || summary.exitCode != 0) {
    id = event_id::kIncomplete;
    kind = EventKind::Warning;
  }
  Send(kind, id, VerdictLine(summary),
       Rendered<JsonLinesReport>(summary, &JsonLinesReport::Summary));
}

}  // namespace lk
