#pragma once
// version.dll, loaded from the system folder at run time (see win32/SystemLibrary.h): the
// calls the version reader makes.

#include <windows.h>

#include "win32/RuntimeLibrary.h"

namespace lk::ui {

struct VersionFunctions {
  static constexpr const wchar_t* kFileName = L"version.dll";

  explicit VersionFunctions(SystemLibrary& library) {
    library.Bind(GetFileVersionInfoSizeW, "GetFileVersionInfoSizeW");
    library.Bind(GetFileVersionInfoW, "GetFileVersionInfoW");
    library.Bind(VerQueryValueW, "VerQueryValueW");
  }

  decltype(&::GetFileVersionInfoSizeW) GetFileVersionInfoSizeW = nullptr;
  decltype(&::GetFileVersionInfoW) GetFileVersionInfoW = nullptr;
  decltype(&::VerQueryValueW) VerQueryValueW = nullptr;
};

using VersionLibrary = RuntimeLibrary<VersionFunctions>;

}  // namespace lk::ui
