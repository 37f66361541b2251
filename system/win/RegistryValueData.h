#pragma once
// Registry values between the seam's form (RegistryValue) and the bytes the registry stores.
//
// String types (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) are UTF-16LE in the registry and UTF-8 at
// the seam, every character converted, embedded NULs included. Reading completes the terminator
// convention of the seam: a text that was stored without its NUL gets one, a REG_MULTI_SZ gets
// the NULs it lacks up to the two that end the list, and an empty value (no bytes at all) reads
// as the empty text, one NUL. A string stored with an odd byte count has half a character at its
// end: that last byte is dropped. A lone surrogate becomes U+FFFD. Writing stores exactly the
// converted data, terminators as the caller gave them, so a value read and written back keeps
// its bytes (apart from the completions above). Every other type is its bytes, unchanged.
//
// QueryRegistryValue reads a value whose size may change between the size query and the read.

#include <windows.h>

#include <string>
#include <vector>

#include "system/SystemAccess.h"

namespace lk {

// Reads the value's type and bytes; ERROR_SUCCESS or the registry's error (outputs then as they
// were). Retries while the value grows between the size query and the read.
[[nodiscard]] LSTATUS QueryRegistryValue(HKEY key, const wchar_t* name, DWORD& type,
                                         std::vector<BYTE>& data);

// The seam's form of stored bytes of the given type.
[[nodiscard]] RegistryValue RegistryValueFromStored(DWORD type, const std::vector<BYTE>& data);

// The bytes to store for the seam's value (UTF-16LE for the string types).
[[nodiscard]] std::vector<BYTE> StoredFromRegistryValue(const RegistryValue& value);

}  // namespace lk
