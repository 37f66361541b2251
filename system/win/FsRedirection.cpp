#include "system/win/FsRedirection.h"

namespace lk {

namespace {

using Wow64DisableFunction = BOOL(WINAPI*)(PVOID*);
using Wow64RevertFunction = BOOL(WINAPI*)(PVOID);

template <typename Function>
Function LookUpKernel32(const char* name) noexcept {
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) return nullptr;
  // The detour through a plain function pointer is the sanctioned way to change its type.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(kernel32, name)));
}

}  // namespace

std::optional<PVOID> DisableWow64FsRedirection() noexcept {
  const auto disable = LookUpKernel32<Wow64DisableFunction>("Wow64DisableWow64FsRedirection");
  if (disable == nullptr) return std::nullopt;
  PVOID previous = nullptr;
  if (!disable(&previous)) return std::nullopt;
  return previous;
}

bool RevertWow64FsRedirection(PVOID previous) noexcept {
  const auto revert = LookUpKernel32<Wow64RevertFunction>("Wow64RevertWow64FsRedirection");
  if (revert == nullptr) return false;
  return revert(previous) != FALSE;
}

UniqueFsRedirection DisableFsRedirectionForScope() noexcept {
  const std::optional<PVOID> previous = DisableWow64FsRedirection();
  if (!previous) return UniqueFsRedirection();
  return UniqueFsRedirection(FsRedirectionTraits::Type{*previous, true});
}

}  // namespace lk
