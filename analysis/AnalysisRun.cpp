#include "analysis/AnalysisRun.h"

#include "trojan/SystemFolders.h"

namespace lk {

void AnalysisRun::DetermineDirectories(SystemAccess& system) {
  SystemFolders folders = SystemFolders::Determine(system);
  SystemDirectory = std::move(folders.SystemDirectory);
  DriversDirectory = std::move(folders.DriversDirectory);
}

}  // namespace lk
