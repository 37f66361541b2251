#include "tools/lkscan/ScanOutput.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <utility>

#include "base/Utf8.h"
#include "tools/ConsoleTexts.h"

namespace lk {

namespace {

namespace t = lkscan_texts;
using console_texts::Fill;

using Json = nlohmann::ordered_json;

// Texts from the system (paths, registry data) are UTF-8 as a rule; a byte sequence that is
// not is written with U+FFFD in its place rather than making the whole record unreadable.
void WriteLine(std::ostream& out, const Json& record) {
  out << record.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
  out.flush();
}

template <typename T>
void Put(Json& record, const char* name, const std::optional<T>& value) {
  if (value) record[name] = *value;
}

std::string Megabytes(std::int64_t bytes) {
  const std::int64_t tenths = (bytes * 10 + 524288) / 1048576;
  return Fill(t::kMegabytes, {std::to_string(tenths / 10), std::to_string(tenths % 10)});
}

}  // namespace

const char* VerdictName(ScanVerdict verdict) {
  switch (verdict) {
    case ScanVerdict::Infected:
      return "infected";
    case ScanVerdict::Suspicious:
      return "suspicious";
    case ScanVerdict::Incomplete:
      return "incomplete";
    case ScanVerdict::Clean:
      break;
  }
  return "clean";
}

std::string VerdictLine(const ScanSummary& summary) {
  std::string line;
  if (summary.restore) {
    line = summary.exitCode == 0 ? t::kRestoredAll : t::kRestoredNotAll;
  } else {
    line = Fill(
        t::kVerdictLine,
        {t::kVerdicts[static_cast<int>(summary.verdict)], std::to_string(summary.filesExamined),
         summary.filesExamined == 1 ? t::kFile : t::kFiles, Megabytes(summary.bytesExamined)});
    if (summary.skipped > 0) line += Fill(t::kNotExamined, {std::to_string(summary.skipped)});
    line += ".";
  }
  if (line.size() > kVerdictLineLimit) {
    std::size_t end = kVerdictLineLimit;
    // Never cut inside a UTF-8 sequence.
    while (end > 0 && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) --end;
    line.resize(end);
  }
  return line;
}

// JSON Lines ------------------------------------------------------------------------------

void JsonLinesReport::Finding(const ScanFinding& finding) {
  Json record{{"type", "finding"}, {"check", finding.check}};
  Put(record, "path", finding.path);
  Put(record, "size", finding.size);
  Put(record, "sha256", finding.sha256);
  Put(record, "identified", finding.identified);
  Put(record, "name", finding.name);
  Put(record, "key", finding.key);
  Put(record, "view", finding.view);
  Put(record, "value", finding.value);
  Put(record, "data", finding.data);
  WriteLine(out_, record);
}

void JsonLinesReport::Action(const ScanAction& action) {
  Json record{{"type", "action"},
              {"action", action.action},
              {"target", action.target},
              {"ok", action.ok},
              {"error", action.error ? Json(*action.error) : Json(nullptr)}};
  WriteLine(out_, record);
}

void JsonLinesReport::Skipped(const ScanSkipped& skipped) {
  WriteLine(out_, Json{{"type", "skipped"}, {"path", skipped.path}, {"reason", skipped.reason}});
}

void JsonLinesReport::Volume(const ScanVolume& volume) {
  WriteLine(out_, Json{{"type", "volume"},
                       {"partition", volume.partition},
                       {"offset", volume.offset},
                       {"size", volume.size},
                       {"filesystem", volume.filesystem},
                       {"label", volume.label ? Json(*volume.label) : Json()},
                       {"serial", volume.serial ? Json(*volume.serial) : Json()}});
}

void JsonLinesReport::Note(const ScanNote& note) {
  WriteLine(out_, Json{{"type", "note"}, {"topic", note.topic}, {"text", note.text}});
}

void JsonLinesReport::Summary(const ScanSummary& summary) {
  WriteLine(out_, Json{{"type", "summary"},
                       {"verdict", VerdictName(summary.verdict)},
                       {"files_examined", summary.filesExamined},
                       {"bytes_examined", summary.bytesExamined},
                       {"skipped", summary.skipped},
                       {"restart_required", summary.restartRequired},
                       {"quarantine", summary.quarantine ? Json(*summary.quarantine) : Json()},
                       {"exit_code", summary.exitCode},
                       {"operation", summary.restore ? "restore" : "scan"}});
}

// German text -------------------------------------------------------------------------------

void TextReport::Finding(const ScanFinding& f) {
  const bool sweep = f.check.rfind("sweep-", 0) == 0;
  std::string line(sweep ? t::kHeadSuspicious : t::kHeadFound);
  if (f.check == "driver-file") {
    line += std::string(t::kFindingDriverFile) + f.path.value_or("");
  } else if (f.check == "library-file") {
    line += std::string(t::kFindingLibraryFile) + f.path.value_or("");
  } else if (f.check == "sweep-driver") {
    line += std::string(t::kFindingSweepDriver) + f.path.value_or("");
  } else if (f.check == "sweep-library") {
    line += std::string(t::kFindingSweepLibrary) + f.path.value_or("");
  } else if (f.check == "device") {
    line += std::string(t::kFindingDevice) + f.path.value_or("");
  } else if (f.check == "service" && f.key) {
    line += Fill(t::kFindingServiceKey, {*f.key, f.value.value_or(""), f.data.value_or("")});
  } else if (f.check == "service") {
    line += Fill(t::kFindingService, {f.name.value_or("")});
  } else if (f.check == "appinit") {
    line += Fill(t::kFindingAppInit, {f.value.value_or(""), f.key.value_or("")});
    if (f.view) line += Fill(t::kFindingView, {*f.view});
    line += Fill(t::kFindingData, {f.data.value_or("")});
  } else {
    line += f.check;
  }
  if (f.size) line += Fill(t::kFindingSize, {std::to_string(*f.size)});
  if (f.sha256) line += Fill(t::kFindingSha256, {*f.sha256});
  if (f.identified) line += *f.identified ? t::kFindingIdentified : t::kFindingNotIdentified;
  out_ << EscapeForDisplay(line, false) << '\n';
  out_.flush();
}

void TextReport::Action(const ScanAction& action) {
  std::string_view label = action.action;
  for (const auto& [name, text] : t::kActionLabels) {
    if (name == action.action) label = text;
  }
  out_ << (action.ok ? t::kHeadDone : t::kHeadFailed) << label << ' '
       << EscapeForDisplay(action.target, false);
  if (action.error) out_ << ": " << EscapeForDisplay(*action.error, false);
  out_ << '\n';
  out_.flush();
}

void TextReport::Skipped(const ScanSkipped& skipped) {
  out_ << t::kHeadSkipped << EscapeForDisplay(skipped.path, false) << ": "
       << EscapeForDisplay(skipped.reason, false) << '\n';
  out_.flush();
}

void TextReport::Volume(const ScanVolume& volume) {
  std::string line(t::kHeadVolume);
  line += volume.partition == 0
              ? std::string(t::kVolumeWhole)
              : Fill(t::kListPartition, {std::to_string(volume.partition)}).substr(1);
  line += Fill(t::kVolumeLine,
               {std::to_string(volume.offset), std::to_string(volume.size), volume.filesystem});
  if (volume.label) line += Fill(t::kVolumeLabel, {*volume.label});
  if (volume.serial) line += Fill(t::kVolumeSerial, {*volume.serial});
  out_ << EscapeForDisplay(line, false) << '\n';
  out_.flush();
}

void TextReport::Note(const ScanNote& note) {
  out_ << t::kHeadNote << EscapeForDisplay(note.text, false) << '\n';
  out_.flush();
}

void TextReport::Summary(const ScanSummary& summary) {
  // Engines that keep only the last line of the output (and cut it at 2,048 characters) get the
  // verdict there: the lines that add to it come first.
  if (summary.restartRequired) {
    out_ << (summary.restore ? t::kRestartToTakeEffect : t::kRestartToFinishRemoval);
  }
  if (summary.quarantine)
    out_ << Fill(t::kQuarantineLine, {EscapeForDisplay(*summary.quarantine, false)});
  out_ << VerdictLine(summary) << '\n';
  out_.flush();
}

// Progress line -------------------------------------------------------------------------------

void ProgressLine::Clear() {
  if (!shown_) return;
  terminal_ << "\r\x1b[K";
  terminal_.flush();
  shown_ = false;
}

void ProgressLine::Finding(const ScanFinding& finding) {
  Clear();
  inner_.Finding(finding);
}

void ProgressLine::Action(const ScanAction& action) {
  Clear();
  inner_.Action(action);
}

void ProgressLine::Skipped(const ScanSkipped& skipped) {
  Clear();
  inner_.Skipped(skipped);
}

void ProgressLine::Volume(const ScanVolume& volume) {
  Clear();
  inner_.Volume(volume);
}

void ProgressLine::Note(const ScanNote& note) {
  Clear();
  inner_.Note(note);
}

void ProgressLine::Progress(const ScanProgress& progress) {
  const auto now = std::chrono::steady_clock::now();
  if (shown_ && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
  lastDrawn_ = now;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  const double rate =
      seconds > 0 ? static_cast<double>(progress.bytesDone) / 1048576.0 / seconds : 0.0;
  std::string line = std::to_string(progress.filesDone);
  if (progress.filesTotal > 0) line += Fill(t::kProgressOf, {std::to_string(progress.filesTotal)});
  line += t::kProgressFiles;
  const auto tenths = static_cast<long long>(rate * 10.0 + 0.5);
  line += Fill(t::kProgressRate, {std::to_string(tenths / 10), std::to_string(tenths % 10)});
  // Keep the line short enough for a narrow terminal: the end of the path says the most.
  std::string file = EscapeForDisplay(progress.currentFile, false);
  constexpr std::size_t kMaxFile = 50;
  if (file.size() > kMaxFile) {
    std::size_t start = file.size() - kMaxFile;
    // Never start inside a UTF-8 sequence.
    while (start < file.size() && (static_cast<unsigned char>(file[start]) & 0xC0) == 0x80) {
      ++start;
    }
    file = "…" + file.substr(start);
  }
  line += file;
  terminal_ << "\r\x1b[K" << line;
  terminal_.flush();
  shown_ = true;
}

void ProgressLine::Summary(const ScanSummary& summary) {
  Clear();
  inner_.Summary(summary);
}

}  // namespace lk
