#pragma once
// The places where the known version of the trojan installs itself, examined one at a time:
// what counts as found in each, and nothing else. No report entry, no pause, no dialog, so the
// window's known-version branch (which reports and paces each step for a person to follow) and
// the console scanner (which records and does not wait) share the same rules.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "streamsearch/StreamSearch.h"
#include "system/SystemAccess.h"

namespace lk {

class KnownVersionProbe {
 public:
  // How the characteristic text of a file turned out.
  enum class Signature : std::uint8_t { Identified, NotIdentified, NoAccess };
  // What the service manager says of the service.
  enum class Registration : std::uint8_t { Registered, NotRegistered, ManagerUnavailable };

  KnownVersionProbe(SystemAccess& system, StreamSearch& streamSearch)
      : system_(system), streamSearch_(streamSearch) {}

  // The driver's ImagePath when its service key has one; opens the key read-only and closes it
  // again. Raises SystemError when the value cannot be read as text.
  [[nodiscard]] std::optional<std::string> ServiceImagePath(RegistryConnection& registry);
  // The AppInit_DLLs text when it names the library anywhere, in any case; opens the key
  // read-only and closes it again. Raises SystemError when the value cannot be read as text.
  [[nodiscard]] std::optional<std::string> AppInitNamingLibrary(RegistryConnection& registry);
  // Whether the library (single-byte text) or the driver (UTF-16 text) at path carries the
  // trojan's characteristic text. The file is let go before the call returns, so a removal can
  // delete it right after.
  [[nodiscard]] Signature ConfirmLibrary(std::string_view path);
  [[nodiscard]] Signature ConfirmDriver(std::string_view path);
  // Outside the NT family there is no service manager to ask: Registered.
  [[nodiscard]] Registration QueryService(std::string_view serviceName);
  [[nodiscard]] bool DeviceReachable();

 private:
  [[nodiscard]] Signature Confirm(std::string_view path, const std::string& signature,
                                  TextEncoding encoding);

  SystemAccess& system_;
  StreamSearch& streamSearch_;
};

}  // namespace lk
