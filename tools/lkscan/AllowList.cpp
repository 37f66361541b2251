#include "tools/lkscan/AllowList.h"

#include "scan/Scanner.h"
#include "tools/ConsoleTexts.h"

namespace lk {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsSweepHit(const ScanFinding& finding) { return finding.check.rfind("sweep-", 0) == 0; }

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

}  // namespace

std::optional<AllowList> AllowList::Parse(std::string_view text, std::string* error) {
  AllowList list;
  std::size_t number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    line = Trimmed(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    bool hex = line.size() == 64;
    for (const char c : line) {
      hex = hex && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'));
    }
    if (!hex) {
      *error = console_texts::Fill(lkscan_texts::kAllowNotSha256, {std::to_string(number)});
      return std::nullopt;
    }
    list.hashes_.insert(Lower(line));
  }
  return list;
}

bool AllowList::Contains(std::string_view sha256) const {
  return hashes_.find(Lower(sha256)) != hashes_.end();
}

void AllowingReport::Finding(const ScanFinding& finding) {
  if (!IsSweepHit(finding)) {
    if (finding.sha256) knownVersionHashes_.insert(Lower(*finding.sha256));
    Inner().Finding(finding);
    return;
  }
  // The known version's own file stays a finding wherever the sweep meets it again.
  if (finding.sha256 && list_.Contains(*finding.sha256) &&
      knownVersionHashes_.find(Lower(*finding.sha256)) == knownVersionHashes_.end()) {
    sweepHitAllowed_ = true;
    Inner().Note({"allowed", console_texts::Fill(
                                 lkscan_texts::kAllowedFinding,
                                 {finding.check == "sweep-driver" ? lkscan_texts::kAllowedDriver
                                                                  : lkscan_texts::kAllowedLibrary,
                                  finding.path.value_or(""), Lower(*finding.sha256)})});
    return;
  }
  sweepHitReported_ = true;
  Inner().Finding(finding);
}

void AllowingReport::Summary(const ScanSummary& summary) {
  if (summary.restore || summary.verdict != ScanVerdict::Suspicious || sweepHitReported_ ||
      !sweepHitAllowed_) {
    Inner().Summary(summary);
    return;
  }
  ScanSummary allowed = summary;
  allowed.verdict = summary.skipped > 0 ? ScanVerdict::Incomplete : ScanVerdict::Clean;
  allowed.exitCode = summary.skipped > 0 ? scan_exit::kIncomplete : scan_exit::kClean;
  adjustedExitCode_ = allowed.exitCode;
  Inner().Summary(allowed);
}

}  // namespace lk
