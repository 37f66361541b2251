#pragma once
// The calling thread's file-system redirection, switched off for one scope.
//
// A 32-bit program on 64-bit Windows sees syswow64 under the name system32 until it calls
// Wow64DisableWow64FsRedirection. That call hands out the previous state, which only
// Wow64RevertWow64FsRedirection may take back; UniqueFsRedirection keeps it and switches the
// redirection back on when its scope ends, on every way out.
//
// Both calls are looked up in kernel32.dll at run time: older systems lack them, and a static
// import would keep the program from starting there. Where they are missing, or the system
// refuses (outside WOW64), the owner stays empty and reverts nothing. The switch acts on the
// calling thread only, so the owner must end on the thread that made it.

#include <windows.h>

#include <optional>

#include "system/win/UniqueHandle.h"

namespace lk {

// Switches the redirection off for the calling thread and returns the previous state; no value
// when the system does not offer the switch or refuses it.
[[nodiscard]] std::optional<PVOID> DisableWow64FsRedirection() noexcept;
// Gives back a state DisableWow64FsRedirection handed out; false when refused or unavailable.
[[nodiscard]] bool RevertWow64FsRedirection(PVOID previous) noexcept;

// The previous state may be any value, null included, so emptiness has a flag of its own.
struct FsRedirectionTraits : WindowsHandleTraits {
  struct Type {
    PVOID previous = nullptr;
    bool disabled = false;
  };
  static Type Empty() noexcept { return {}; }
  static bool IsEmpty(const Type& value) noexcept { return !value.disabled; }
  static void Close(const Type& value) noexcept {
    static_cast<void>(RevertWow64FsRedirection(value.previous));
  }
};

using UniqueFsRedirection = UniqueHandle<FsRedirectionTraits>;

// The redirection off until the returned owner ends; an empty owner where it cannot be switched.
[[nodiscard]] UniqueFsRedirection DisableFsRedirectionForScope() noexcept;

}  // namespace lk
