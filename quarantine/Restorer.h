#pragma once
// Puts a quarantine run back (`lkscan --restore QDIR`): the files, the registry values and the
// service registration that a removal kept, and withdraws the deletions it left pending for the
// next restart.
//
// The run folder is input from a disk that may be hostile. Every record is checked as it is read
// (QuarantineManifest), before anything changes (sizes, types, names; paths must be absolute
// Windows paths without "." or ".." components; copies must be named as the quarantine names
// them), and only what a removal
// keeps is accepted: the trojan's library and driver files, the AppInit_DLLs value of a view, the
// service's key in a control set, whole hive files. The whole run is read within one cap, summed
// over its files before anything is parsed. One record that is not valid makes the whole run an
// error, and nothing is restored.
// A run folder that is a link, lies behind one, or may be changed by others than the
// administrators and the system is refused as a whole.
//
// Files: a file at the original path with the kept SHA-256 counts as restored; one with other
// content is never overwritten (the action fails); a missing one is written back untransformed
// as a new file once the whole copy was read and matched its size and SHA-256 (and verified
// again as it is written; deleted when it does not match; holes stay holes), and gets its
// attributes and times back. A pending deletion at restart of the path is then withdrawn.
// Registry values are written back with their type and exact bytes, in their view, the key
// created where it is gone. A service whose key is gone is registered again from its kept key
// (Type, Start, ErrorControl, ImagePath, DisplayName), and then the key is made exactly the kept
// tree, whatever the registration added; a service still marked for deletion gets its key back
// and the summary asks for a restart. A key kept from another control set goes back there,
// without the service manager.
//
// Its report: one action record per thing ("restore-file", "restore-registry",
// "restore-service", "withdraw-delete-at-restart"), notes, and a summary whose verdict is clean.
// Exit code 0 only when everything was restored, else 2.

#include <string>
#include <string_view>

#include "scan/ScanReport.h"
#include "system/FileStore.h"
#include "system/FileSystem.h"
#include "system/SystemAccess.h"

namespace lk {

class Restorer {
 public:
  // The exit code of a restore that could not put everything back.
  static constexpr int kIncomplete = 2;

  Restorer(SystemAccess& system, FileSystem& files, FileStore& store, ScanReport& report)
      : system_(system), files_(files), store_(store), report_(report) {}
  Restorer(const Restorer&) = delete;
  Restorer& operator=(const Restorer&) = delete;

  // Restores the run in runFolder (the folder holding manifest.json), reports the summary last
  // and returns the exit code.
  int Run(std::string_view runFolder);

 private:
  SystemAccess& system_;
  FileSystem& files_;
  FileStore& store_;
  ScanReport& report_;
};

}  // namespace lk
