#include "trojan/SystemFolders.h"

#include "base/WindowsPath.h"
#include "trojan/TrojanNames.h"

namespace lk {

SystemFolders SystemFolders::Determine(SystemAccess& system) {
  SystemFolders folders;
  folders.SystemDirectory = AppendBackslash(system.PlatformQueries().QuerySystemDirectory());
  folders.DriversDirectory =
      folders.SystemDirectory + std::string(names::kDriversSubdirectory) + "\\";
  return folders;
}

}  // namespace lk
