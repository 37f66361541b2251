#pragma once
// The two renderings of a scan's records: JSON Lines for scripts (one object per line, each with
// a "type") and German text lines for people, plus the progress line that a terminal shows in
// place while files are examined.

#include <chrono>
#include <cstdint>
#include <ostream>

#include "analysis/ScanReport.h"

namespace lk {

// {"type":"finding"|"action"|"skipped"|"note"|"summary", ...} on out, one per line, flushed per
// record so that a reader sees each as soon as it is made.
class JsonLinesReport final : public ScanReport {
 public:
  explicit JsonLinesReport(std::ostream& out) : out_(out) {}

  void Finding(const ScanFinding& finding) override;
  void Action(const ScanAction& action) override;
  void Skipped(const ScanSkipped& skipped) override;
  void Note(const ScanNote& note) override;
  void Progress(const ScanProgress&) override {}
  void Summary(const ScanSummary& summary) override;

 private:
  std::ostream& out_;
};

// One German line per record on out.
class TextReport final : public ScanReport {
 public:
  explicit TextReport(std::ostream& out) : out_(out) {}

  void Finding(const ScanFinding& finding) override;
  void Action(const ScanAction& action) override;
  void Skipped(const ScanSkipped& skipped) override;
  void Note(const ScanNote& note) override;
  void Progress(const ScanProgress&) override {}
  void Summary(const ScanSummary& summary) override;

 private:
  std::ostream& out_;
};

// Hands every record on to the report it wraps and draws the progress (files done, MB/s, the
// current file) on a terminal, in place, at most ten times a second; the line is cleared
// before any record is written, so records and progress never mix.
class ProgressLine final : public ScanReport {
 public:
  ProgressLine(ScanReport& inner, std::ostream& terminal) : inner_(inner), terminal_(terminal) {}

  void Finding(const ScanFinding& finding) override;
  void Action(const ScanAction& action) override;
  void Skipped(const ScanSkipped& skipped) override;
  void Note(const ScanNote& note) override;
  void Progress(const ScanProgress& progress) override;
  void Summary(const ScanSummary& summary) override;

 private:
  void Clear();

  ScanReport& inner_;
  std::ostream& terminal_;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point lastDrawn_{};
  bool shown_ = false;
};

// The summary's verdict as the record spells it: "clean", "infected", "suspicious".
[[nodiscard]] const char* VerdictName(ScanVerdict verdict);

}  // namespace lk
