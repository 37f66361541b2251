#pragma once
// The face of --eventlog: one event per finding and per action and one for the summary, each
// with two strings, the record's German text line and its JSON Lines object. The event IDs are
// fixed (tools/lkscan/README.md lists them; lkscan_events.mc holds their messages): a SIEM
// filters on them.
//
// It guarantees the ID and the kind of each event; the sink decides where it goes (on Windows the
// Application log, under the source "Anti-Lauschkobold"). Skipped entries and notes make no
// event: the summary counts what was skipped, the JSON Lines tell the details.

#include <cstdint>
#include <string>
#include <vector>

#include "scan/ScanReport.h"

namespace lk {

namespace event_id {
inline constexpr std::uint32_t kClean = 1000;       // scan: nothing found, everything examined
inline constexpr std::uint32_t kInfected = 1001;    // scan: the known version found
inline constexpr std::uint32_t kSuspicious = 1002;  // scan: only the sweep found something
inline constexpr std::uint32_t kIncomplete = 1003;  // scan: nothing found, not all examined
inline constexpr std::uint32_t kRestore = 1004;     // a restore ended
inline constexpr std::uint32_t kFinding = 1100;     // one finding
inline constexpr std::uint32_t kAction = 1200;      // one change made or tried
}  // namespace event_id

enum class EventKind : std::uint8_t { Information, Warning, Error };

// Where the events go.
class EventSink {
 public:
  EventSink() = default;
  EventSink(const EventSink&) = delete;
  EventSink& operator=(const EventSink&) = delete;
  virtual ~EventSink() = default;

  // False when the event could not be written.
  [[nodiscard]] virtual bool Report(EventKind kind, std::uint32_t id,
                                    const std::vector<std::string>& strings) = 0;
};

class EventLogReport final : public ScanReport {
 public:
  explicit EventLogReport(EventSink& sink) : sink_(sink) {}

  void Finding(const ScanFinding& finding) override;
  void Action(const ScanAction& action) override;
  void Skipped(const ScanSkipped&) override {}
  void Note(const ScanNote&) override {}
  void Progress(const ScanProgress&) override {}
  void Summary(const ScanSummary& summary) override;

  // Whether every event was written.
  [[nodiscard]] bool Complete() const { return failed_ == 0; }

 private:
  void Send(EventKind kind, std::uint32_t id, std::string text, std::string json);

  EventSink& sink_;
  int failed_ = 0;
};

}  // namespace lk
