#pragma once
// The control sets of HKLM\SYSTEM as the registry holds them: the keys ControlSet001 to
// ControlSet999 and the one that Select\Current names, read through the system seam.
//
// Windows boots from the current set, and from another one when the user picks "Last Known Good
// Configuration" or the current one fails: a service key in any of them can be loaded again.
// Where the registry lists no ControlSet00N (a model that knows only CurrentControlSet) there is
// nothing to tell apart, and nothing is checked. Where it lists some, or lists no
// CurrentControlSet (a SYSTEM hive read from its file), Select\Current must be a REG_DWORD that
// names one of them; otherwise the problem says why, and no set counts as current.
//
// It changes nothing.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system/SystemAccess.h"

namespace lk {

struct ControlSets {
  // The ControlSet00N keys as the registry spells them.
  std::vector<std::string> sets;
  // The set Select\Current names; no value when it cannot be told.
  std::optional<std::string> current;
  // Why the current set cannot be told (German), for a skipped record on Select\Current.
  std::optional<std::string> problem;

  // The sets other than the current one (all of them when the current one is not known).
  [[nodiscard]] std::vector<std::string> Others() const;

  // Reads them through the native view.
  [[nodiscard]] static ControlSets Read(SystemAccess& system);
};

// "ControlSet" and three digits, compared without regard to case.
[[nodiscard]] bool IsControlSetName(std::string_view name);

}  // namespace lk
