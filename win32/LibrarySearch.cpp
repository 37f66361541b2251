#include "win32/LibrarySearch.h"

#include <windows.h>

namespace lk {

LibrarySearch RestrictLibrarySearch() noexcept {
  // Looked up at run time: importing it would keep the program from starting where it is missing.
  // kernel32 is always loaded, so asking for its handle loads nothing.
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  if (const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll"); kernel32 != nullptr) {
    // The detour through a plain function pointer is the sanctioned way to change its type.
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
    if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
      return LibrarySearch::SystemFolderOnly;
    }
  }
  SetDllDirectoryW(L"");
  return LibrarySearch::WithoutCurrentFolder;
}

}  // namespace lk
