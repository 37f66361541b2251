#pragma once
// One move-only owner for every kind of Windows handle, chosen by a traits type.
//
// Windows marks "no handle" differently from call to call: CreateFileW and FindFirstFileW fail
// with INVALID_HANDLE_VALUE, OpenProcessToken, OpenSCManagerW and GlobalAlloc with null, the
// registry calls with an error code and a null key. The traits type names the handle type, its
// empty value and the call that closes it, so each alias below gets the sentinel right once.
// Handles whose close call needs more than the handle (ReleaseDC needs the window, a selection
// is undone with the DC it was made in) take a small struct as their type; their traits then
// say by IsEmpty which part tells an empty owner. The GDI owners of the user interface
// (ui/controls/Gdi.h) are traits of this same template.
//
// Guarantees: the handle is closed exactly once (on Reset, on assignment, on destruction), an
// empty owner closes nothing, and closing never changes the thread's last error code, so a
// caller may read GetLastError() for a failed call after the owners of its scope are gone.
// The owner does not check what the close call returns: nothing can be done about it.

#include <windows.h>

#include <utility>

namespace lk {

// The value is empty: by the traits' IsEmpty where they have one, else by their empty value.
template <typename Traits>
[[nodiscard]] bool IsEmptyHandle(const typename Traits::Type& value) noexcept {
  if constexpr (requires { Traits::IsEmpty(value); }) {
    return Traits::IsEmpty(value);
  } else {
    return value == Traits::Empty();
  }
}

template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Type value) noexcept : value_(value) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~UniqueHandle() { Reset(); }

  [[nodiscard]] Type Get() const noexcept { return value_; }
  [[nodiscard]] explicit operator bool() const noexcept { return !IsEmptyHandle<Traits>(value_); }

  // Gives up ownership without closing; the owner is empty afterwards.
  [[nodiscard]] Type Release() noexcept { return std::exchange(value_, Traits::Empty()); }

  // Closes the current handle (if any) and takes the new one.
  void Reset(Type value = Traits::Empty()) noexcept {
    const Type old = std::exchange(value_, value);
    if (!IsEmptyHandle<Traits>(old)) {
      const DWORD lastError = GetLastError();
      Traits::Close(old);
      SetLastError(lastError);
    }
  }

  // Closes the current handle and returns the slot for an out parameter (RegOpenKeyExW(...,
  // key.Put())). The slot must hold the empty value or a handle this owner may close.
  [[nodiscard]] Type* Put() noexcept {
    Reset();
    return &value_;
  }

 private:
  Type value_ = Traits::Empty();
};

// Kernel objects whose open call returns null on failure: tokens, processes, events, threads.
struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { CloseHandle(value); }
};

// Files and devices from CreateFileW, which fails with INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  using Type = HANDLE;
  static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type value) noexcept { CloseHandle(value); }
};

// Directory searches from FindFirstFileW / FindFirstFileExW.
struct FindHandleTraits {
  using Type = HANDLE;
  static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type value) noexcept { FindClose(value); }
};

struct RegistryKeyTraits {
  using Type = HKEY;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { RegCloseKey(value); }
};

// Service-manager and service handles.
struct ServiceHandleTraits {
  using Type = SC_HANDLE;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { CloseServiceHandle(value); }
};

// Movable global memory, as the clipboard takes it. Release it once SetClipboardData has
// succeeded: the clipboard owns it from then on.
struct GlobalMemoryTraits {
  using Type = HGLOBAL;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { GlobalFree(value); }
};

// Memory the system allocated for us with LocalAlloc: security descriptors from
// ConvertStringSecurityDescriptorToSecurityDescriptorW and GetSecurityInfo, among others.
struct LocalMemoryTraits {
  using Type = HLOCAL;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { LocalFree(value); }
};

// Libraries from LoadLibraryExW, which fails with null.
struct ModuleTraits {
  using Type = HMODULE;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type value) noexcept { FreeLibrary(value); }
};

struct WindowTraits {
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
