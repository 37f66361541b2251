#pragma once
// msimg32.dll, loaded from the system folder at run time (see win32/SystemLibrary.h): the
// gradient fill of the toolkit's drawing.

#include <windows.h>

#include "win32/RuntimeLibrary.h"

namespace lk::ui {

struct Msimg32Functions {
  static constexpr const wchar_t* kFileName = L"msimg32.dll";

  explicit Msimg32Functions(SystemLibrary& library) { library.Bind(GradientFill, "GradientFill"); }

  decltype(&::GradientFill) GradientFill = nullptr;
};

using Msimg32Library = RuntimeLibrary<Msimg32Functions>;

}  // namespace lk::ui
