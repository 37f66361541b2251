#include "trojan/ControlSets.h"

#include <cstdio>
#include <memory>

#include "base/TextCase.h"

namespace lk {

namespace {

constexpr std::string_view kPrefix = "ControlSet";

}  // namespace

bool IsControlSetName(std::string_view name) {
  if (name.size() != kPrefix.size() + 3 || !StartsWithIgnoringAsciiCase(name, kPrefix)) {
    return false;
  }
  for (std::size_t i = kPrefix.size(); i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
  }
  return true;
}

std::vector<std::string> ControlSets::Others() const {
  std::vector<std::string> others;
  for (const std::string& set : sets) {
    if (!current || !EqualsIgnoringAsciiCase(set, *current)) others.push_back(set);
  }
  return others;
}

ControlSets ControlSets::Read(SystemAccess& system) {
  ControlSets result;
  std::unique_ptr<RegistryConnection> registry = system.ConnectRegistry(RegistryView::Native);
  if (!registry || !registry->OpenMachineKeyReadOnly("SYSTEM")) return result;
  const std::optional<std::vector<std::string>> names = registry->SubKeyNames();
  if (!names) return result;
  bool listsCurrentControlSet = false;
  for (const std::string& name : *names) {
    if (IsControlSetName(name)) result.sets.push_back(name);
    if (EqualsIgnoringAsciiCase(name, "CurrentControlSet")) listsCurrentControlSet = true;
  }
  if (result.sets.empty() && listsCurrentControlSet) return result;

  if (!registry->OpenMachineKeyReadOnly("SYSTEM\\Select")) {
    result.problem = "Der Schlüssel Select fehlt: welcher Steuersatz der aktuelle ist, ist unklar.";
    return result;
  }
  const std::optional<RegistryValue> value = registry->ReadValue("Current");
  if (!value) {
    result.problem =
        "Der Wert Select\\Current fehlt: welcher Steuersatz der aktuelle ist, ist unklar.";
    return result;
  }
  if (value->type != RegistryValueType::Dword || value->data.size() != 4) {
    result.problem = "Der Wert Select\\Current hat den Typ " +
                     std::to_string(static_cast<std::uint32_t>(value->type)) + " mit " +
                     std::to_string(value->data.size()) +
                     " Bytes statt einer REG_DWORD-Zahl: welcher Steuersatz der aktuelle ist, ist "
                     "unklar.";
    return result;
  }
  std::uint32_t number = 0;
  for (std::size_t i = 4; i-- > 0;) {
    number = (number << 8U) | static_cast<unsigned char>(value->data[i]);
  }
  if (number >= 1 && number <= 999) {
    char name[16] = {};
    std::snprintf(name, sizeof(name), "ControlSet%03u", number);
    for (const std::string& set : result.sets) {
      if (EqualsIgnoringAsciiCase(set, name)) result.current = set;
    }
  }
  if (!result.current) {
    result.problem = "Select\\Current nennt den Steuersatz " + std::to_string(number) +
                     ", den es nicht gibt: welcher Steuersatz der aktuelle ist, ist unklar.";
  }
  return result;
}

}  // namespace lk
