#pragma once
// The allow-list of --allow: the SHA-256 values of files that an administrator examined and
// found harmless, so that the sweep's hit on them is told as a note, not as a finding.
//
// AllowList guarantees that every entry is 64 hexadecimal digits (kept in lower case); a list
// with one line that is anything else is refused as a whole. AllowingReport guarantees that
// only sweep hits are ever turned into notes: a known-version finding passes unchanged, and so
// does a sweep hit on a file whose hash a known-version check reported. It does not read the
// list's file (the caller does) and does not change what the scan examines.

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "scan/ScanReport.h"

namespace lk {

class AllowList {
 public:
  // Largest list file that is read (about 200,000 entries with comments).
  static constexpr std::size_t kMaxBytes = 16u << 20;

  // One SHA-256 a line, in either case; '#' starts a comment up to the line's end; blank lines
  // and blanks around a value are ignored. nullopt with "Zeile N: ..." in *error.
  [[nodiscard]] static std::optional<AllowList> Parse(std::string_view text, std::string* error);

  [[nodiscard]] bool Contains(std::string_view sha256) const;
  [[nodiscard]] std::size_t Count() const { return hashes_.size(); }

 private:
  std::set<std::string, std::less<>> hashes_;
};

// Sits between the scan and its faces. A sweep hit ("sweep-library", "sweep-driver") whose
// sha256 is listed becomes the note {"topic":"allowed"} naming its path and hash. When every
// sweep hit of a scan was allowed, the summary says what it would have said without them:
// verdict clean and exit code 0, or 2 when something could not be examined.
class AllowingReport final : public ForwardingReport {
 public:
  AllowingReport(const AllowList& list, ScanReport& inner) : ForwardingReport(inner), list_(list) {}

  void Finding(const ScanFinding& finding) override;
  void Summary(const ScanSummary& summary) override;

  // The run's exit code once the list was applied (the scan's own, when nothing changed).
  [[nodiscard]] int ExitCode(int scanExitCode) const {
    return adjustedExitCode_.value_or(scanExitCode);
  }

 private:
  const AllowList& list_;
  std::set<std::string, std::less<>> knownVersionHashes_;
  bool sweepHitReported_ = false;
  bool sweepHitAllowed_ = false;
  std::optional<int> adjustedExitCode_;
};

}  // namespace lk
