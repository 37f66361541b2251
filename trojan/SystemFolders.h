#pragma once
// Where the system folders are: the system folder the system names and its Drivers folder below
// it, where the known version puts its library and its driver and where the sweep looks. The
// window's run and the console scan both take them from here.
//
// It changes nothing.

#include <string>

#include "system/SystemAccess.h"

namespace lk {

struct SystemFolders {
  std::string SystemDirectory;   // ends in a backslash, or empty when the system did not tell
  std::string DriversDirectory;  // SystemDirectory + "Drivers\"

  // Asks the system for them.
  [[nodiscard]] static SystemFolders Determine(SystemAccess& system);
};

}  // namespace lk
