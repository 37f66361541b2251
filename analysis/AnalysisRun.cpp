#include "analysis/AnalysisRun.h"

#include "analysis/AnalysisTexts.h"
#include "base/WindowsPath.h"

namespace lk {

void AnalysisRun::DetermineDirectories(SystemAccess& system) {
  SystemDirectory = AppendBackslash(system.QuerySystemDirectory());
  DriversDirectory = SystemDirectory + std::string(names::kDriversSubdirectory) + "\\";
}

}  // namespace lk
