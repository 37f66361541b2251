#pragma once
// The analysis without a window: the known-version checks and the heuristic sweep of one
// installation, reported as records through ScanReport, for the console scanner.
//
// It shares the trojan's rules with the window's run (trojan/: KnownVersionProbe, RemovalSteps,
// the sweep expressions, SystemFolders) but not the run itself, and none of its conduct: it asks
// nothing, does not pace its steps for a reader, and examines more. On 64-bit Windows it switches
// the file-system redirection off for the whole scan, sweeps the 32-bit system folder (SysWOW64) as
// well, and looks for the library there too.
//
// Without remove it changes nothing: no registry value is written, no service controlled, no
// file changed. With remove it undoes what the known-version checks found (ScanRemoval), right
// after them and before the sweep, keeping a copy of each thing in the journal first; sweep hits
// are reported, never removed. Whatever it could not examine it reports as skipped; the exit code
// tells a script whether the system is clean, something was found (removed or not), or the scan
// was incomplete.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scan/ScanReport.h"
#include "system/Desktop.h"
#include "system/FileSystem.h"
#include "system/SystemAccess.h"

namespace lk {

class RemovalJournal;

struct ScanOptions {
  // Run the heuristic sweep after the known-version checks.
  bool sweep = true;
  // Remove what the known-version checks found. The rights are the caller's to check.
  bool remove = false;
  // Keeps each thing before the removal changes it; required with remove.
  RemovalJournal* journal = nullptr;
  // Waits while a service settles between two states during the removal; without one the
  // removal sleeps (SleepingPacing).
  Pacing* pacing = nullptr;
  // Threads that read the swept files at once; the records and their order are those of one.
  int threads = 1;
  // What the caller already knows it could not examine: reported first, and counted.
  std::vector<ScanSkipped> unexamined;
  // Asked before the removal changes anything: a reason stops it there (reported as skipped,
  // exit code 2), so that it cannot stop halfway.
  std::function<std::string()> removalSafety;
};

// The exit codes of a scan.
namespace scan_exit {
inline constexpr int kClean = 0;       // nothing found, everything examined
inline constexpr int kFound = 1;       // something found (removed or not)
inline constexpr int kIncomplete = 2;  // nothing found, but not everything could be examined
inline constexpr int kUsage = 2;       // a usage error or missing rights
}  // namespace scan_exit

class Scanner {
 public:
  Scanner(SystemAccess& system, FileSystem& files, ScanReport& report);
  ~Scanner();
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

  // Runs the scan, reports its summary last and returns its exit code. Raises
  // std::invalid_argument for remove without a journal, before it examines anything.
  int Run(const ScanOptions& options);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lk
