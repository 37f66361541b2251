#pragma once
// A system library that the program uses through a table of its functions, loaded and looked up
// once at run time instead of being imported (see SystemLibrary for why).
//
// The table type names the library and binds its functions:
//
//   struct VersionFunctions {
//     static constexpr const wchar_t* kFileName = L"version.dll";
//     explicit VersionFunctions(SystemLibrary& library) {
//       library.Bind(GetFileVersionInfoSizeW, "GetFileVersionInfoSizeW");
//     }
//     decltype(&::GetFileVersionInfoSizeW) GetFileVersionInfoSizeW = nullptr;
//   };
//
// Guarantees: every function of the table is set while IsReady() holds; Error() names the
// missing library or the first missing function otherwise. Shared() loads the library on first
// use, from any thread, and keeps it until the program ends.

#include <string>

#include "win32/SystemLibrary.h"

namespace lk {

template <typename Functions>
class RuntimeLibrary {
 public:
  explicit RuntimeLibrary(SystemLibrary::Method method = SystemLibrary::Method::Automatic)
      : library_(Functions::kFileName, method), functions_(library_) {}
  RuntimeLibrary(const RuntimeLibrary&) = delete;
  RuntimeLibrary& operator=(const RuntimeLibrary&) = delete;

  // The one instance of the program.
  [[nodiscard]] static const RuntimeLibrary& Shared() {
    static const RuntimeLibrary instance;
    return instance;
  }

  [[nodiscard]] bool IsReady() const noexcept { return library_.IsReady(); }
  [[nodiscard]] explicit operator bool() const noexcept { return IsReady(); }
  [[nodiscard]] const std::wstring& Error() const noexcept { return library_.Error(); }
  [[nodiscard]] HMODULE Module() const noexcept { return library_.Module(); }

  // The functions; call them only while IsReady() holds.
  [[nodiscard]] const Functions* operator->() const noexcept { return &functions_; }

 private:
  SystemLibrary library_;
  Functions functions_;
};

}  // namespace lk
