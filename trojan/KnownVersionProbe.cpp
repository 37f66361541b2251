#include "trojan/KnownVersionProbe.h"

#include <exception>

#include "base/TextCase.h"
#include "trojan/Signatures.h"
#include "trojan/TrojanNames.h"

namespace lk {

namespace {

std::u16string WidenAscii(std::string_view text) {
  std::u16string wide;
  wide.reserve(text.size());
  for (char c : text) wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return wide;
}

// A key behind damage in the registry (ERROR_REGISTRY_CORRUPT, from a hive read offline) was
// not looked at: that is no absent key, and the caller reports it as not examined. A key that
// refuses to be read counts as absent, as it always has on a running Windows.
constexpr std::uint32_t kRegistryCorrupt = 1015;

void RaiseOnDamage(SystemAccess& system, std::string_view key) {
  const std::uint32_t code = system.LastSystemError();
  if (code != kRegistryCorrupt) return;
  throw SystemError(code,
                    "registry key " + std::string(key) + " (error " + std::to_string(code) + ")");
}

}  // namespace

std::optional<std::string> KnownVersionProbe::ServiceImagePath(RegistryConnection& registry) {
  if (!registry.OpenMachineKeyReadOnly(names::kServiceKey)) {
    RaiseOnDamage(system_, names::kServiceKey);
    return std::nullopt;
  }
  std::optional<std::string> imagePath;
  if (registry.ValuePresent(names::kImagePathValue)) {
    imagePath = registry.ReadStringValue(names::kImagePathValue);
  }
  registry.CloseMachineKey();
  return imagePath;
}

std::optional<std::string> KnownVersionProbe::AppInitNamingLibrary(RegistryConnection& registry) {
  if (!registry.OpenMachineKeyReadOnly(names::kWindowsKey)) {
    RaiseOnDamage(system_, names::kWindowsKey);
    return std::nullopt;
  }
  std::optional<std::string> libraries;
  if (registry.ValuePresent(names::kAppInitValue)) {
    std::string text = registry.ReadStringValue(names::kAppInitValue);
    if (ContainsIgnoringAsciiCase(text, names::kLibraryFile)) libraries = std::move(text);
  }
  registry.CloseMachineKey();
  return libraries;
}

KnownVersionProbe::Signature KnownVersionProbe::ConfirmLibrary(std::string_view path) {
  return Confirm(path, signatures::LibrarySignature(), TextEncoding::Ansi);
}

KnownVersionProbe::Signature KnownVersionProbe::ConfirmDriver(std::string_view path) {
  return Confirm(path, signatures::DriverSignature(), TextEncoding::Utf16Le);
}

KnownVersionProbe::Signature KnownVersionProbe::Confirm(std::string_view path,
                                                        const std::string& signature,
                                                        TextEncoding encoding) {
  std::optional<bool> found;
  try {
    streamSearch_.OpenStreamFile(path);
    found = streamSearch_.FindText(WidenAscii(signature), 0, encoding, {});
  } catch (const std::exception&) {
    found.reset();
  }
  // Let go of the file at once: an open handle without delete sharing would make the removal's
  // deletion of this very file fail, and the trojan's driver would survive until the restart.
  streamSearch_.OpenStreamFile("");
  if (!found) return Signature::NoAccess;
  return *found ? Signature::Identified : Signature::NotIdentified;
}

KnownVersionProbe::Registration KnownVersionProbe::QueryService(std::string_view serviceName) {
  if (!system_.PlatformQueries().IsNtFamily()) return Registration::Registered;
  const std::unique_ptr<ServiceManager> manager = system_.OpenServiceManager();
  if (!manager) return Registration::ManagerUnavailable;
  // Declared after the manager, so it is closed first.
  const std::unique_ptr<Service> service = manager->OpenServiceEntry(serviceName);
  return service ? Registration::Registered : Registration::NotRegistered;
}

bool KnownVersionProbe::DeviceReachable() {
  return system_.PlatformQueries().DeviceCanBeOpened(signatures::DevicePath());
}

}  // namespace lk
