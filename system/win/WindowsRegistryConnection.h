#pragma once
// The registry connection of WindowsSystemAccess: one open key under HKEY_LOCAL_MACHINE at a
// time, reached through the Unicode registry calls; names and texts are UTF-8 at the interface.
//
// Keys are opened, and deleted, in the view the connection was made for: by default the one the
// process gets (a 32-bit process on 64-bit Windows sees the 32-bit view of SOFTWARE). Failed calls
// also leave their error code as the thread's last error, so LastSystemError tells why an open was
// refused, as it does for the other operations. Only ReadStringValue and WriteStringValue raise
// (lk::SystemError). The typed operations convert values as RegistryValueData.h describes; without
// an open key they fail with ERROR_INVALID_HANDLE (6).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system/SystemAccess.h"
#include "system/win/UniqueHandle.h"

namespace lk {

class WindowsRegistryConnection final : public RegistryConnection {
 public:
  explicit WindowsRegistryConnection(RegistryView view = RegistryView::Default);

  [[nodiscard]] bool OpenMachineKeyReadOnly(std::string_view keyPath) override;
  [[nodiscard]] bool OpenMachineKeyReadWrite(std::string_view keyPath) override;
  [[nodiscard]] bool ValuePresent(std::string_view valueName) override;
  [[nodiscard]] std::string ReadStringValue(std::string_view valueName) override;
  void WriteStringValue(std::string_view valueName, std::string_view text) override;
  [[nodiscard]] bool SubKeyPresent(std::string_view subKeyName) override;
  bool DeleteSubKeyTree(std::string_view subKeyName) override;
  void CloseMachineKey() override;
  [[nodiscard]] bool CreateMachineKey(std::string_view keyPath) override;
  [[nodiscard]] std::optional<RegistryValue> ReadValue(std::string_view valueName) override;
  [[nodiscard]] bool WriteValue(std::string_view valueName, const RegistryValue& value) override;
  [[nodiscard]] std::optional<StoredRegistryValue> ReadStoredValue(
      std::string_view valueName) override;
  [[nodiscard]] bool WriteStoredValue(std::string_view valueName,
                                      const StoredRegistryValue& value) override;
  [[nodiscard]] bool DeleteValue(std::string_view valueName) override;
  [[nodiscard]] std::optional<std::vector<std::string>> ValueNames() override;
  [[nodiscard]] std::optional<std::vector<std::string>> SubKeyNames() override;

  // The open key, or null; for callers that need a registry call the interface does not offer.
  [[nodiscard]] HKEY OpenKey() const noexcept { return openKey_.Get(); }

 private:
  // Opens keyPath under HKEY_LOCAL_MACHINE with the access given; on success the new key
  // replaces the open one, on failure the open key stays.
  bool OpenMachineKey(const std::wstring& keyPath, REGSAM access);
  // True with an open key; otherwise false with ERROR_INVALID_HANDLE as the last error.
  bool HasOpenKey();

  // KEY_WOW64_64KEY, KEY_WOW64_32KEY or nothing, added to every access mask.
  REGSAM viewFlag_ = 0;
  UniqueRegistryKey openKey_;
};

}  // namespace lk
