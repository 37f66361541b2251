#pragma once
// Where the loader may look for libraries that the program loads itself: only the system folder.
//
// The program runs with administrator rights from wherever it was saved, usually the download
// folder, next to whatever else was downloaded there. Every Windows program of ours calls
// RestrictLibrarySearch as the first thing it does, so no library it loads later (and no library
// that a system library loads on its behalf) can come from that folder or from the current one.
// Libraries imported statically are loaded before any of our code runs: only the system's known
// libraries may be imported that way (the build checks it); every other one goes through
// SystemLibrary.

namespace lk {

enum class LibrarySearch {
  // SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) took effect.
  SystemFolderOnly,
  // The system lacks SetDefaultDllDirectories (Windows 7 without its loader update): only the
  // current folder is taken out of the search with SetDllDirectoryW(L"").
  WithoutCurrentFolder,
};

// Process-wide and not undone. Safe to call more than once.
LibrarySearch RestrictLibrarySearch() noexcept;

}  // namespace lk
