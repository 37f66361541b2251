#include "system/win/WindowsRegistryConnection.h"

#include <vector>

#include "system/win/RegistryValueData.h"
#include "win32/Utf.h"

namespace lk {

namespace {

constexpr REGSAM kReadNarrow = STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS;

// The longest value or key name the registry allows, in UTF-16 units without the NUL.
constexpr std::size_t kLongestName = 16383;

// The registry calls return their error instead of setting it; keep LastSystemError truthful.
LSTATUS Remember(LSTATUS status) {
  if (status != ERROR_SUCCESS) SetLastError(static_cast<DWORD>(status));
  return status;
}

[[noreturn]] void Raise(LSTATUS status, const char* call, std::string_view valueName) {
  SetLastError(static_cast<DWORD>(status));
  throw SystemError(static_cast<std::uint32_t>(status), std::string(call) + " failed for value \"" +
                                                            std::string(valueName) + "\" (error " +
                                                            std::to_string(status) + ")");
}

// Deletes subKey of parent with everything below it: the subkeys are removed from the last
// index down to the first, so deleting one never shifts the indices still to be visited.
// viewFlag chooses the registry view, for the opens and for the deletion itself.
bool DeleteTree(HKEY parent, const std::wstring& subKey, REGSAM viewFlag) {
  UniqueRegistryKey key;
  if (RegOpenKeyExW(parent, subKey.c_str(), 0, KEY_ALL_ACCESS | viewFlag, key.Put()) ==
      ERROR_SUCCESS) {
    DWORD subKeyCount = 0;
    DWORD longestName = 0;
    if (RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subKeyCount, &longestName, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
      std::vector<wchar_t> name(longestName + 1);
      for (DWORD index = subKeyCount; index-- > 0;) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        if (RegEnumKeyExW(key.Get(), index, name.data(), &nameLength, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS) {
          continue;
        }
        DeleteTree(key.Get(), std::wstring(name.data(), nameLength), viewFlag);
      }
    }
  }
  key.Reset();
  // RegDeleteKeyW deletes in the process's own view only.
  const LSTATUS status = viewFlag == 0 ? RegDeleteKeyW(parent, subKey.c_str())
                                       : RegDeleteKeyExW(parent, subKey.c_str(), viewFlag, 0);
  return Remember(status) == ERROR_SUCCESS;
}

REGSAM ViewFlag(RegistryView view) {
  switch (view) {
    case RegistryView::Native:
      // Ignored on 32-bit Windows, where the one view is the native one.
      return KEY_WOW64_64KEY;
    case RegistryView::Wow32:
      return KEY_WOW64_32KEY;
    case RegistryView::Default:
      break;
  }
  return 0;
}

}  // namespace

WindowsRegistryConnection::WindowsRegistryConnection(RegistryView view)
    : viewFlag_(ViewFlag(view)) {}

bool WindowsRegistryConnection::OpenMachineKey(const std::wstring& keyPath, REGSAM access) {
  UniqueRegistryKey key;
  if (Remember(RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, access | viewFlag_,
                             key.Put())) != ERROR_SUCCESS) {
    return false;
  }
  openKey_ = std::move(key);
  return true;
}

bool WindowsRegistryConnection::OpenMachineKeyReadOnly(std::string_view keyPath) {
  const std::wstring path = WideFromUtf8(keyPath);
  // Some keys refuse KEY_READ to ordinary users but grant the narrower rights.
  return OpenMachineKey(path, KEY_READ) || OpenMachineKey(path, kReadNarrow) ||
         OpenMachineKey(path, KEY_QUERY_VALUE);
}

bool WindowsRegistryConnection::OpenMachineKeyReadWrite(std::string_view keyPath) {
  return OpenMachineKey(WideFromUtf8(keyPath), KEY_ALL_ACCESS);
}

bool WindowsRegistryConnection::ValuePresent(std::string_view valueName) {
  if (!openKey_) return false;
  const std::wstring name = WideFromUtf8(valueName);
  return Remember(RegQueryValueExW(openKey_.Get(), name.c_str(), nullptr, nullptr, nullptr,
                                   nullptr)) == ERROR_SUCCESS;
}

std::string WindowsRegistryConnection::ReadStringValue(std::string_view valueName) {
  if (!openKey_) return {};
  const std::wstring name = WideFromUtf8(valueName);
  DWORD size = 0;
  if (Remember(RegQueryValueExW(openKey_.Get(), name.c_str(), nullptr, nullptr, nullptr, &size)) !=
          ERROR_SUCCESS ||
      size == 0) {
    return {};
  }
  // Room for an odd byte count and for a terminator the stored data may lack.
  std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, L'\0');
  DWORD type = REG_NONE;
  const LSTATUS status = RegQueryValueExW(openKey_.Get(), name.c_str(), nullptr, &type,
                                          reinterpret_cast<BYTE*>(data.data()), &size);
  if (status != ERROR_SUCCESS) Raise(status, "RegQueryValueExW", valueName);
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    Raise(ERROR_UNSUPPORTED_TYPE, "ReadStringValue (not a string)", valueName);
  }
  const std::size_t stored = size / sizeof(wchar_t);
  std::size_t length = 0;
  while (length < stored && data[length] != L'\0') ++length;
  return Utf8FromWide(std::wstring_view(data.data(), length));
}

void WindowsRegistryConnection::WriteStringValue(std::string_view valueName,
                                                 std::string_view text) {
  if (!openKey_) Raise(ERROR_INVALID_HANDLE, "RegSetValueExW (no open key)", valueName);
  const std::wstring name = WideFromUtf8(valueName);
  const std::wstring data = WideFromUtf8(text);
  // The terminating NUL is stored too: the empty text becomes one NUL character.
  const auto size = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
  const LSTATUS status = RegSetValueExW(openKey_.Get(), name.c_str(), 0, REG_SZ,
                                        reinterpret_cast<const BYTE*>(data.c_str()), size);
  if (status != ERROR_SUCCESS) Raise(status, "RegSetValueExW", valueName);
}

bool WindowsRegistryConnection::SubKeyPresent(std::string_view subKeyName) {
  if (!openKey_) return false;
  const std::wstring name = WideFromUtf8(subKeyName);
  UniqueRegistryKey key;
  return Remember(RegOpenKeyExW(openKey_.Get(), name.c_str(), 0, kReadNarrow | viewFlag_,
                                key.Put())) == ERROR_SUCCESS;
}

bool WindowsRegistryConnection::DeleteSubKeyTree(std::string_view subKeyName) {
  if (!openKey_) return false;
  // An empty name would open the open key itself and empty it: never a subkey the caller meant.
  if (subKeyName.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return DeleteTree(openKey_.Get(), WideFromUtf8(subKeyName), viewFlag_);
}

void WindowsRegistryConnection::CloseMachineKey() { openKey_.Reset(); }

bool WindowsRegistryConnection::CreateMachineKey(std::string_view keyPath) {
  const std::wstring path = WideFromUtf8(keyPath);
  UniqueRegistryKey key;
  // RegCreateKeyExW creates the missing parents on the way, each in the connection's view.
  if (Remember(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                               REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | viewFlag_, nullptr,
                               key.Put(), nullptr)) != ERROR_SUCCESS) {
    return false;
  }
  openKey_ = std::move(key);
  return true;
}

std::optional<RegistryValue> WindowsRegistryConnection::ReadValue(std::string_view valueName) {
  if (!HasOpenKey()) return std::nullopt;
  const std::wstring name = WideFromUtf8(valueName);
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  if (Remember(QueryRegistryValue(openKey_.Get(), name.c_str(), type, data)) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return RegistryValueFromStored(type, data);
}

bool WindowsRegistryConnection::WriteValue(std::string_view valueName, const RegistryValue& value) {
  if (!HasOpenKey()) return false;
  const std::wstring name = WideFromUtf8(valueName);
  const std::vector<BYTE> data = StoredFromRegistryValue(value);
  return Remember(RegSetValueExW(openKey_.Get(), name.c_str(), 0, static_cast<DWORD>(value.type),
                                 data.data(), static_cast<DWORD>(data.size()))) == ERROR_SUCCESS;
}

std::optional<StoredRegistryValue> WindowsRegistryConnection::ReadStoredValue(
    std::string_view valueName) {
  if (!HasOpenKey()) return std::nullopt;
  const std::wstring name = WideFromUtf8(valueName);
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  if (Remember(QueryRegistryValue(openKey_.Get(), name.c_str(), type, data)) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return StoredRegistryValue{static_cast<RegistryValueType>(type),
                             std::string(data.begin(), data.end())};
}

bool WindowsRegistryConnection::WriteStoredValue(std::string_view valueName,
                                                 const StoredRegistryValue& value) {
  if (!HasOpenKey()) return false;
  const std::wstring name = WideFromUtf8(valueName);
  const std::vector<BYTE> data(value.bytes.begin(), value.bytes.end());
  return Remember(RegSetValueExW(openKey_.Get(), name.c_str(), 0, static_cast<DWORD>(value.type),
                                 data.data(), static_cast<DWORD>(data.size()))) == ERROR_SUCCESS;
}

bool WindowsRegistryConnection::DeleteValue(std::string_view valueName) {
  if (!HasOpenKey()) return false;
  const std::wstring name = WideFromUtf8(valueName);
  return Remember(RegDeleteValueW(openKey_.Get(), name.c_str())) == ERROR_SUCCESS;
}

std::optional<std::vector<std::string>> WindowsRegistryConnection::ValueNames() {
  if (!HasOpenKey()) return std::nullopt;
  std::vector<std::string> names;
  std::vector<wchar_t> name(kLongestName + 1);
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    const LSTATUS status = RegEnumValueW(openKey_.Get(), index, name.data(), &length, nullptr,
                                         nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return names;
    if (Remember(status) != ERROR_SUCCESS) return std::nullopt;
    names.push_back(Utf8FromWide(std::wstring_view(name.data(), length)));
  }
}

std::optional<std::vector<std::string>> WindowsRegistryConnection::SubKeyNames() {
  if (!HasOpenKey()) return std::nullopt;
  std::vector<std::string> names;
  std::vector<wchar_t> name(kLongestName + 1);
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    const LSTATUS status = RegEnumKeyExW(openKey_.Get(), index, name.data(), &length, nullptr,
                                         nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return names;
    if (Remember(status) != ERROR_SUCCESS) return std::nullopt;
    names.push_back(Utf8FromWide(std::wstring_view(name.data(), length)));
  }
}

bool WindowsRegistryConnection::HasOpenKey() {
  if (openKey_) return true;
  SetLastError(ERROR_INVALID_HANDLE);
  return false;
}

}  // namespace lk
