#pragma once
// The Windows traits of the one handle owner (base/UniqueHandle.h), one per way Windows marks
// "no handle" and closes it: CreateFileW and FindFirstFileW fail with INVALID_HANDLE_VALUE,
// OpenProcessToken, OpenSCManagerW and GlobalAlloc with null, the registry calls with an error
// code and a null key. The GDI owners of the user interface (ui/controls/Gdi.h) and the window
// owner of its controls are traits of this same kind.
//
// Guarantees: every traits type here derives from WindowsHandleTraits, so closing never changes
// the thread's last error code, and a caller may read GetLastError() for a failed call after the
// owners of its scope are gone.

#include <windows.h>

#include "base/UniqueHandle.h"

namespace lk {

// Saves the thread's last error and puts it back when the scope ends.
class LastErrorKeeper {
 public:
  LastErrorKeeper() noexcept : saved_(GetLastError()) {}
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;
  ~LastErrorKeeper() { SetLastError(saved_); }

 private:
  DWORD saved_;
};

// The base of every Windows traits type: a close call may set the last error.
struct WindowsHandleTraits {
  using ErrorKeeper = LastErrorKeeper;
};

// Kernel objects whose open call returns null on failure: tokens, processes, events, threads.
struct KernelHandleTraits : WindowsHandleTraits {
  using Type = HANDLE;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { CloseHandle(value); }
};

// Files and devices from CreateFileW, which fails with INVALID_HANDLE_VALUE.
struct FileHandleTraits : WindowsHandleTraits {
  using Type = HANDLE;
  static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type value) noexcept { CloseHandle(value); }
};

// Directory searches from FindFirstFileW / FindFirstFileExW.
struct FindHandleTraits : WindowsHandleTraits {
  using Type = HANDLE;
  static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type value) noexcept { FindClose(value); }
};

struct RegistryKeyTraits : WindowsHandleTraits {
  using Type = HKEY;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { RegCloseKey(value); }
};

// Service-manager and service handles.
struct ServiceHandleTraits : WindowsHandleTraits {
  using Type = SC_HANDLE;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { CloseServiceHandle(value); }
};

// Movable global memory, as the clipboard takes it. Release it once SetClipboardData has
// succeeded: the clipboard owns it from then on.
struct GlobalMemoryTraits : WindowsHandleTraits {
  using Type = HGLOBAL;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { GlobalFree(value); }
};

// Memory the system allocated for us with LocalAlloc: security descriptors from
// ConvertStringSecurityDescriptorToSecurityDescriptorW and GetSecurityInfo, among others.
struct LocalMemoryTraits : WindowsHandleTraits {
  using Type = HLOCAL;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { LocalFree(value); }
};

// Libraries from LoadLibraryExW, which fails with null.
struct ModuleTraits : WindowsHandleTraits {
  using Type = HMODULE;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { FreeLibrary(value); }
};

struct WindowTraits : WindowsHandleTraits {
  using Type = HWND;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { DestroyWindow(value); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueFind = UniqueHandle<FindHandleTraits>;
using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;
using UniqueServiceHandle = UniqueHandle<ServiceHandleTraits>;
using UniqueGlobalMemory = UniqueHandle<GlobalMemoryTraits>;
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;
using UniqueWindow = UniqueHandle<WindowTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;

}  // namespace lk
