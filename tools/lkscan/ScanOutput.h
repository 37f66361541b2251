#pragma once
// The two renderings of a scan's records: JSON Lines for scripts (one object per line, each with
// a "type") and German text lines for people, plus the progress line that a terminal shows in
// place while files are examined.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "scan/ScanReport.h"

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
  void Volume(const ScanVolume& volume) override;

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
  void Volume(const ScanVolume& volume) override;

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
  void Volume(const ScanVolume& volume) override;

 private:
  void Clear();

  ScanReport& inner_;
  std::ostream& terminal_;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point lastDrawn_{};
  bool shown_ = false;
};

// The text form's last line: the verdict of a scan, or how a restore ended. At most
// kVerdictLineLimit bytes (and so characters), for engines that keep only the last line.
inline constexpr std::size_t kVerdictLineLimit = 2048;
[[nodiscard]] std::string VerdictLine(const ScanSummary& summary);

// The summary's verdict as the record spells it: "clean", "infected", "suspicious",
// "incomplete" (nothing found, not everything examined).
[[nodiscard]] const char* VerdictName(ScanVerdict verdict);

}  // namespace lk

namespace lk {

// Hands every record to each of several faces in turn (the standard output's, the --output
// file's, the event log's). It owns none of them.
class ReportFanOut final : public ScanReport {
 public:
  void Add(ScanReport& face) { faces_.push_back(&face); }

  void Finding(const ScanFinding& finding) override {
    for (ScanReport* face : faces_) face->Finding(finding);
  }
  void Action(const ScanAction& action) override {
    for (ScanReport* face : faces_) face->Action(action);
  }
  void Skipped(const ScanSkipped& skipped) override {
    for (ScanReport* face : faces_) face->Skipped(skipped);
  }
  void Note(const ScanNote& note) override {
    for (ScanReport* face : faces_) face->Note(note);
  }
  void Progress(const ScanProgress& progress) override {
    for (ScanReport* face : faces_) face->Progress(progress);
  }
  void Summary(const ScanSummary& summary) override {
    for (ScanReport* face : faces_) face->Summary(summary);
  }
  void Volume(const ScanVolume& volume) override {
    for (ScanReport* face : faces_) face->Volume(volume);
  }

 private:
  std::vector<ScanReport*> faces_;
};

}  // namespace lk
