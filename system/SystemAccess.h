#pragma once
// The seam between the analysis and the operating system.
//
// Every registry, file, device, service-manager and redirection operation that the analysis
// performs goes through SystemAccess or what it hands out (the file operations, FileOperations.h;
// the platform queries and system folders, Platform.h; the service manager, ServiceManager.h), so
// the analysis runs unchanged on Windows (WindowsSystemAccess), on an installation that is not
// running (OfflineSystemAccess, ImageSystemAccess) and on an in-memory model (ScriptedSystem).
// The desktop the window runs on is a seam of its own (Desktop.h).
// Texts crossing this seam are UTF-8; the Windows implementation converts at its boundary.
//
// Failure reporting: ReadStringValue and WriteStringValue raise SystemError; every other
// operation reports failure through its result and raises nothing (the file operations return
// their codes; the rest leave them in LastSystemError). Closing a handle or key that
// is "none" does nothing.

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/WindowsError.h"
#include "system/FileOperations.h"
#include "system/Platform.h"
#include "system/ServiceManager.h"

namespace lk {

// An error raised by the operations that fail by raising; carries the Windows error code.
class SystemError : public std::runtime_error {
 public:
  SystemError(std::uint32_t code, const std::string& what)
      : std::runtime_error(what), code_(code) {}
  [[nodiscard]] std::uint32_t Code() const noexcept { return code_; }

 private:
  std::uint32_t code_;
};

// Which of the two registry views of 64-bit Windows a connection sees. A 32-bit process sees the
// 32-bit view of HKLM\SOFTWARE by default (Windows redirects it to SOFTWARE\Wow6432Node); it
// asks for the native view to see what 64-bit programs see. On 32-bit Windows there is one view
// and all three mean it.
enum class RegistryView : std::uint8_t {
  Default,  // the process's own view
  Native,   // the system's own view (64-bit on 64-bit Windows)
  Wow32,    // the view of 32-bit programs
};

// The type of a registry value, with the Windows numbers. Values of other types keep their number.
enum class RegistryValueType : std::uint32_t {
  None = 0,      // REG_NONE
  Sz = 1,        // REG_SZ
  ExpandSz = 2,  // REG_EXPAND_SZ
  Binary = 3,    // REG_BINARY
  Dword = 4,     // REG_DWORD
  MultiSz = 7,   // REG_MULTI_SZ
  Qword = 11,    // REG_QWORD
};

// A registry value as it crosses the seam: its type and its data bytes. String types (REG_SZ,
// REG_EXPAND_SZ, REG_MULTI_SZ) hold UTF-8 text with its terminating NUL (so the empty text is one
// NUL byte; a REG_MULTI_SZ holds NUL-separated texts ending in two NULs); the implementations
// convert from and to the UTF-16 the registry stores. Every other type holds the stored bytes as
// they are (REG_DWORD: four bytes, little-endian).
struct RegistryValue {
  RegistryValueType type = RegistryValueType::Sz;
  std::string data;

  static RegistryValue String(std::string_view text) {  // REG_SZ, NUL appended
    return RegistryValue{RegistryValueType::Sz, std::string(text) + '\0'};
  }
  static RegistryValue ExpandString(std::string_view text) {  // REG_EXPAND_SZ, NUL appended
    return RegistryValue{RegistryValueType::ExpandSz, std::string(text) + '\0'};
  }
  static RegistryValue Dword(std::uint32_t number) {
    std::string data(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) data[i] = static_cast<char>((number >> (8 * i)) & 0xFFU);
    return RegistryValue{RegistryValueType::Dword, data};
  }
  static RegistryValue Binary(std::string_view bytes) {
    return RegistryValue{RegistryValueType::Binary, std::string(bytes)};
  }
  static RegistryValue MultiString(const std::vector<std::string>& texts) {
    std::string data;
    for (const auto& text : texts) {
      data += text;
      data.push_back('\0');
    }
    data.push_back('\0');
    return RegistryValue{RegistryValueType::MultiSz, data};
  }
  friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

// The types whose data crosses the seam as UTF-8 text: REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ.
[[nodiscard]] constexpr bool HoldsText(RegistryValueType type) noexcept {
  return type == RegistryValueType::Sz || type == RegistryValueType::ExpandSz ||
         type == RegistryValueType::MultiSz;
}

// A registry value exactly as the registry stores it: its type and its bytes, for the string types
// the UTF-16LE as stored. Unlike RegistryValue it keeps what has no UTF-8 form: a lone surrogate,
// an odd byte count, a missing terminating NUL.
struct StoredRegistryValue {
  RegistryValueType type = RegistryValueType::Sz;
  std::string bytes;
  friend bool operator==(const StoredRegistryValue&, const StoredRegistryValue&) = default;
};

// A connection to the registry rooted at HKEY_LOCAL_MACHINE with at most one open key.
// A successful open closes the key that was open and takes its place; a failed open leaves the
// open key as it was. Destroying the connection closes the open key.
class RegistryConnection {
 public:
  RegistryConnection() = default;
  RegistryConnection(const RegistryConnection&) = delete;
  RegistryConnection& operator=(const RegistryConnection&) = delete;
  virtual ~RegistryConnection() = default;

  // Opens an existing key for reading (KEY_READ, then two narrower access masks if refused).
  [[nodiscard]] virtual bool OpenMachineKeyReadOnly(std::string_view keyPath) = 0;
  // Opens an existing key with full access; never creates one.
  [[nodiscard]] virtual bool OpenMachineKeyReadWrite(std::string_view keyPath) = 0;
  // The open key has a value of this name, of any type. False without an open key.
  [[nodiscard]] virtual bool ValuePresent(std::string_view valueName) = 0;
  // The value's text up to its first NUL, unexpanded. Raises SystemError when the read fails
  // or the type is neither REG_SZ nor REG_EXPAND_SZ; a size of 0 gives the empty text.
  [[nodiscard]] virtual std::string ReadStringValue(std::string_view valueName) = 0;
  // Stores the text as REG_SZ with its terminating NUL. Raises SystemError when refused.
  virtual void WriteStringValue(std::string_view valueName, std::string_view text) = 0;
  // The open key has a subkey of this name that can be opened for reading.
  [[nodiscard]] virtual bool SubKeyPresent(std::string_view subKeyName) = 0;
  // Deletes the subkey of the open key with all its subkeys; true when the subkey went.
  virtual bool DeleteSubKeyTree(std::string_view subKeyName) = 0;
  // Closes the open key; without one it does nothing.
  virtual void CloseMachineKey() = 0;

  // Typed access, for taking values and key trees into the quarantine and putting them back.
  // These report failure through their result, never by raising; SystemAccess::LastSystemError
  // then tells why (2: no such key or value, 5: refused, 6: no open key).
  //
  // Opens the key with full access, creating it and its missing parents first.
  [[nodiscard]] virtual bool CreateMachineKey(std::string_view keyPath) = 0;
  // The open key's value of this name (the unnamed default value for ""), of any type.
  [[nodiscard]] virtual std::optional<RegistryValue> ReadValue(std::string_view valueName) = 0;
  // Stores the value with its type, replacing one of the same name.
  [[nodiscard]] virtual bool WriteValue(std::string_view valueName, const RegistryValue& value) = 0;
  [[nodiscard]] virtual bool DeleteValue(std::string_view valueName) = 0;
  // The value's stored bytes, and storing exactly these bytes: what a restore needs to give a
  // value back as it was, whatever its data holds.
  [[nodiscard]] virtual std::optional<StoredRegistryValue> ReadStoredValue(
      std::string_view valueName) = 0;
  [[nodiscard]] virtual bool WriteStoredValue(std::string_view valueName,
                                              const StoredRegistryValue& value) = 0;
  // The names of the open key's values, and of its subkeys, as the registry spells them.
  [[nodiscard]] virtual std::optional<std::vector<std::string>> ValueNames() = 0;
  [[nodiscard]] virtual std::optional<std::vector<std::string>> SubKeyNames() = 0;
};

class SystemAccess {
 public:
  SystemAccess() = default;
  SystemAccess(const SystemAccess&) = delete;
  SystemAccess& operator=(const SystemAccess&) = delete;
  virtual ~SystemAccess() = default;

  // Registry ------------------------------------------------------------------------------
  [[nodiscard]] virtual std::unique_ptr<RegistryConnection> ConnectRegistry(RegistryView view) = 0;

  // Files ---------------------------------------------------------------------------------
  // The system's own file operations (finding and deleting files, now and at the next start),
  // which live as long as the system. They return their codes: LastSystemError is not where a
  // caller reads why they failed.
  [[nodiscard]] virtual FileOperations& SystemFiles() = 0;

  // Platform and system folders -------------------------------------------------------------
  // The system's own answers about the platform it is and the folders it names (Platform.h),
  // which live as long as the system.
  [[nodiscard]] virtual Platform& PlatformQueries() = 0;

  // Service control manager ---------------------------------------------------------------
  // Null when refused (LastSystemError tells why).
  [[nodiscard]] virtual std::unique_ptr<ServiceManager> OpenServiceManager() = 0;

  // Errors ----------------------------------------------------------------------------------
  [[nodiscard]] virtual std::uint32_t LastSystemError() = 0;
  // The system's message for the code, trailing control characters, blanks and dots removed.
  [[nodiscard]] virtual std::string SystemErrorText(std::uint32_t code) = 0;
};

}  // namespace lk
