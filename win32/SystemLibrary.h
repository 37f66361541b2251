#pragma once
// One library loaded at run time from the system folder, and never from anywhere else.
//
// The loader looks for a library that is not one of the system's known libraries in the
// program's own folder first; a library of that name lying in the download folder would run
// with the program's administrator rights. So every library outside the known ones is loaded
// here: with LOAD_LIBRARY_SEARCH_SYSTEM32 where LoadLibraryExW understands it, else by its full
// path in GetSystemDirectoryW's folder. Never by bare name.
//
// Guarantees: the library is freed once, when the owner goes; a failure leaves a message that
// names the library and the Windows error code, or the first function that was asked for and is
// missing (the library is then not ready). It does not call anything in the library itself.

#include <windows.h>

#include <string>

#include "system/win/UniqueHandle.h"

namespace lk {

class SystemLibrary {
 public:
  enum class Method {
    // LOAD_LIBRARY_SEARCH_SYSTEM32 where the system understands it, else the full path.
    Automatic,
    SearchFlag,
    FullPath,
  };

  // fileName: the library's file name without a folder, such as L"version.dll".
  explicit SystemLibrary(std::wstring fileName, Method method = Method::Automatic);

  [[nodiscard]] bool IsReady() const noexcept {
    return static_cast<bool>(module_) && error_.empty();
  }
  [[nodiscard]] HMODULE Module() const noexcept { return module_.Get(); }
  [[nodiscard]] const std::wstring& FileName() const noexcept { return fileName_; }
  // Empty while the library is ready; otherwise why it is not, in the program's language.
  [[nodiscard]] const std::wstring& Error() const noexcept { return error_; }

  // Sets slot to the library's function `name`, or to null (and the library is then not ready).
  template <typename Function>
  void Bind(Function*& slot, const char* name) {
    // The detour through a plain function pointer is the sanctioned way to change its type.
    slot = reinterpret_cast<Function*>(Find(name));
  }

 private:
  using AnyFunction = void (*)();
  [[nodiscard]] AnyFunction Find(const char* name);

  std::wstring fileName_;
  UniqueModule module_;
  std::wstring error_;
};

}  // namespace lk
