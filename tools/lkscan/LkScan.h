#pragma once
// lkscan: the analysis as a console program, for administrators and responders who run it from
// a script or a remote shell.
//
//   lkscan [--json] [--no-sweep] [--remove] [--quarantine DIR] [--root DIR] [-j N]
//          [--output FILE] [--eventlog] [--allow FILE]
//   lkscan --restore QDIR [--json] [--root DIR] [--output FILE] [--eventlog]
//   lkscan --image PATH [--partition N] [--json] [--no-sweep] [-j N] [--output FILE] ...
//   lkscan --list [--image PATH] [--json]
//   lkscan --register-eventlog | --help | --version
//
// The portable part: it parses the arguments, runs the Scanner on the system that the
// platform's entry point opens (with --remove, keeping a quarantine first; with --restore, the
// Restorer instead), and writes the records as German text lines or as JSON Lines, with a
// progress line on a terminal; with --output also as JSON Lines into a file that appears only
// when complete, with --eventlog also as events in the system's log.

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "analysis/RemovalJournal.h"
#include "analysis/ScanReport.h"
#include "system/FileStore.h"
#include "system/FileSystem.h"
#include "system/SystemAccess.h"
#include "tools/lkscan/EventLogReport.h"
#include "tools/lkscan/OutputFile.h"

namespace lk {

// The system a scan examines: the running one, or an installation below a root folder.
class ScanTarget {
 public:
  ScanTarget() = default;
  ScanTarget(const ScanTarget&) = delete;
  ScanTarget& operator=(const ScanTarget&) = delete;
  virtual ~ScanTarget() = default;

  [[nodiscard]] virtual SystemAccess& System() = 0;
  [[nodiscard]] virtual FileSystem& Files() = 0;
  // The writing side over the same files: the quarantine of --remove and the restore.
  [[nodiscard]] virtual FileStore& Store() = 0;
  // Called once before a removal (with its journal) or a restore (with none) may change the
  // target, for a target that must keep more than the removal asks for.
  virtual void BeforeChanges(RemovalJournal* /*journal*/) {}
  // What the scan's report should say about the target before the scan (an offline
  // installation whose hives were not closed cleanly, say).
  [[nodiscard]] virtual std::vector<ScanNote> Notes() { return {}; }
  // What the target could not examine before the scan starts (a hive whose logs cannot be
  // replayed, say): reported as skipped by the scan, which then cannot call the system clean.
  [[nodiscard]] virtual std::vector<ScanSkipped> Unexamined() { return {}; }
  // Why a removal could not be made without stopping halfway (a hive that hivex cannot change
  // safely, say); empty when it can. Asked before the removal changes anything.
  [[nodiscard]] virtual std::string WhyRemovalIsUnsafe() { return {}; }
  // The folder of --quarantine or --restore as the target names it: the user may spell it as the
  // summary does or as the host's shell shows it.
  [[nodiscard]] virtual std::string FolderPath(const std::string& given) { return given; }
  // Why the target must not be changed at all (a hibernated Windows, say); empty when it may.
  // Asked before --remove or --restore examine or change anything.
  [[nodiscard]] virtual std::string WhyChangesAreRefused() { return {}; }
};

// One volume of a disk or disk image that holds a Windows installation or cannot be read, as
// --list and --image tell it.
struct ImageVolume {
  ScanVolume volume;
  // The kernel's partition node when the image is a whole block device.
  std::optional<std::string> device;
  std::optional<std::string> windows;  // ProductName of the SOFTWARE hive
  std::optional<std::string> build;    // CurrentBuild
  bool bitlocker = false;
  bool hibernated = false;
  bool dirty = false;
  bool examinable = false;
  // Why it cannot be examined (BitLocker, damage), or that it holds no Windows.
  std::optional<std::string> reason;
  // The installation, open for a scan: examinable volumes that hold Windows only.
  std::unique_ptr<ScanTarget> target;
};

// What one disk or image holds, and what kept parts of it from being looked at.
struct ImageContents {
  std::string image;
  std::vector<ImageVolume> volumes;
  std::vector<std::string> errors;
};

struct LkScanHost {
  // Opens the system to examine: the running one without a root, else the installation whose
  // system drive root names. Null with a message in *error when it cannot be opened.
  std::function<std::unique_ptr<ScanTarget>(const std::optional<std::string>& root,
                                            std::string* error)>
      openTarget;
  std::ostream& out;
  std::ostream& err;
  // A progress line is drawn on err only when it is a terminal.
  bool errIsTerminal = false;
  // --output: the file the JSON Lines go to (see OutputFile); null: the flag is refused.
  std::function<std::unique_ptr<OutputFile>(const std::string& path, std::string* error)>
      createOutput = nullptr;
  // --eventlog: the system's event log; null where there is none (the flag is refused).
  std::function<std::unique_ptr<EventSink>(std::string* error)> openEventLog = nullptr;
  // --register-eventlog: registers the event source with this program's message table; false
  // with a message. Null where there is no event log.
  std::function<bool(std::string* error)> registerEventSource = nullptr;
  // --image and --list: what the disk or image holds (only partition N when given); without an
  // image, every whole block device of the machine. Null where disks cannot be read (the flags
  // are refused).
  std::function<std::vector<ImageContents>(const std::optional<std::string>& image,
                                           std::optional<int> partition)>
      surveyImages = nullptr;
};

// Exit codes: 0 nothing found and everything examined; 1 something found; 2 a usage error,
// missing rights, or a scan that could not examine everything and found nothing.
[[nodiscard]] int RunLkScan(const std::vector<std::string>& args, const LkScanHost& host);

}  // namespace lk
