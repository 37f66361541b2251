#pragma once
// The run state that lives as long as the main window: the cancel flag, the platform flag, the
// directories the analysis looks in, and the result lists of the last heuristic sweep.
//
// Everything here is read and written on the window's thread only; CancelRequested is a plain
// flag because the cancel button's handler runs inside the run's own message pumping.

#include <string>
#include <vector>

#include "system/SystemAccess.h"

namespace lk {

struct AnalysisRun {
  bool CancelRequested = false;
  bool Is64BitSystem = false;
  // A match reported by the file searcher becomes a report entry (content passes only).
  bool ReportFoundFiles = false;
  std::string SystemDirectory;   // ends in a backslash, or empty when the system did not tell
  std::string DriversDirectory;  // SystemDirectory + "Drivers\"
  std::vector<std::string> SuspiciousLibraries;
  std::vector<std::string> SuspiciousDrivers;

  // Fills SystemDirectory and DriversDirectory from the system (SystemFolders).
  void DetermineDirectories(SystemAccess& system);
};

}  // namespace lk
