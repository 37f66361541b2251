#include "win32/SystemLibrary.h"

#include <utility>

#include "win32/Utf.h"

namespace lk {
namespace {

// LoadLibraryExW understands the LOAD_LIBRARY_SEARCH_ flags exactly where kernel32 has
// AddDllDirectory (Windows 8, and Windows 7 with its loader update).
bool HasSearchFlags() {
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  return kernel32 != nullptr && GetProcAddress(kernel32, "AddDllDirectory") != nullptr;
}

std::wstring SystemFolderPath(const std::wstring& fileName) {
  // The system folder's path always fits MAX_PATH.
  wchar_t folder[MAX_PATH + 1] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return {};
  std::wstring path(folder, length);
  if (path.back() != L'\\') path += L'\\';
  return path + fileName;
}

HMODULE LoadByFullPath(const std::wstring& fileName) {
  const std::wstring path = SystemFolderPath(fileName);
  if (path.empty()) return nullptr;
  // The altered search path makes the library's own imports come from its folder as well.
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE Load(const std::wstring& fileName, SystemLibrary::Method method) {
  if (method == SystemLibrary::Method::FullPath) return LoadByFullPath(fileName);
  if (method == SystemLibrary::Method::Automatic && !HasSearchFlags()) {
    return LoadByFullPath(fileName);
  }
  HMODULE module = LoadLibraryExW(fileName.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // A system that does not know the flag rejects it as a parameter.
  if (module == nullptr && method == SystemLibrary::Method::Automatic &&
      GetLastError() == ERROR_INVALID_PARAMETER) {
    module = LoadByFullPath(fileName);
  }
  return module;
}

}  // namespace

SystemLibrary::SystemLibrary(std::wstring fileName, Method method)
    : fileName_(std::move(fileName)) {
  module_.Reset(Load(fileName_, method));
  if (!module_) {
    const DWORD code = GetLastError();
    error_ = L"Die Systembibliothek " + fileName_ +
             L" konnte nicht aus dem Systemordner geladen werden (Fehler " + std::to_wstring(code) +
             L").";
  }
}

SystemLibrary::AnyFunction SystemLibrary::Find(const char* name) {
  if (!module_) return nullptr;
  const auto function = reinterpret_cast<AnyFunction>(GetProcAddress(module_.Get(), name));
  if (function == nullptr && error_.empty()) {
    error_ =
        L"Der Systembibliothek " + fileName_ + L" fehlt die Funktion " + WideFromUtf8(name) + L".";
  }
  return function;
}

}  // namespace lk
