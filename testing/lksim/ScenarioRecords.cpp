#include "testing/lksim/ScenarioRecords.h"

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "testing/lksim/ScenarioText.h"

namespace lk::lksim {

namespace {

// A value that the JSON library accepts but the scenario format does not.
class ValueFault : public std::runtime_error {
 public:
  ValueFault(const Json& value, const std::string& fault)
      : std::runtime_error(fault), value_(&value) {}
  [[nodiscard]] const Json& Value() const { return *value_; }

 private:
  const Json* value_;
};

// Records lie at most this deep (files, path, content, piece, repeat, hex): where a fault of ours
// lies in the document is looked up no deeper.
constexpr int kDeepestRecord = 8;

[[noreturn]] void Reject(const Json& value, const std::string& fault) {
  throw ValueFault(value, fault);
}

std::string Quote(std::string_view text) { return '"' + std::string(text) + '"'; }

// "a", "b" and "c" (lastSeparator " and ") or "a", "b", "c" (", ").
std::string Listed(std::initializer_list<std::string_view> names, std::string_view lastSeparator) {
  std::string list;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) list += i + 1 == names.size() ? lastSeparator : ", ";
    list += Quote(names.begin()[i]);
  }
  return list;
}

// The same wording as the library's own type faults.
const Json& ObjectOf(const Json& value) {
  if (!value.is_object()) {
    Reject(value, std::string("type must be object, but is ") + value.type_name());
  }
  return value;
}

const Json& ArrayOf(const Json& value) {
  if (!value.is_array()) {
    Reject(value, std::string("type must be array, but is ") + value.type_name());
  }
  return value;
}

// An object with no other keys: an unknown key is a typo that would otherwise pass silently.
const Json& RecordOf(const Json& value, std::initializer_list<std::string_view> keys) {
  for (const auto& member : ObjectOf(value).items()) {
    if (std::find(keys.begin(), keys.end(), member.key()) == keys.end()) {
      Reject(value, "unknown key " + Quote(member.key()));
    }
  }
  return value;
}

// A record that holds exactly one of the keys; its one member.
const Json& OneMemberOf(const Json& value, std::initializer_list<std::string_view> keys) {
  if (RecordOf(value, keys).size() != 1) {
    Reject(value, "expected exactly one of " + Listed(keys, " and "));
  }
  return value.front();
}

const Json* MemberOf(const Json& record, const char* key) {
  const auto member = record.find(key);
  return member == record.end() ? nullptr : &*member;
}

// The position of the value's name in names; a fault names the place of faultAt.
std::size_t ChoiceOf(const Json& value, std::initializer_list<std::string_view> names,
                     const Json& faultAt) {
  const std::string name = value.get<std::string>();
  const auto found = std::find(names.begin(), names.end(), name);
  if (found == names.end()) Reject(faultAt, Quote(name) + " is none of " + Listed(names, ", "));
  return static_cast<std::size_t>(found - names.begin());
}

std::size_t ChoiceOf(const Json& value, std::initializer_list<std::string_view> names) {
  return ChoiceOf(value, names, value);
}

// A whole number from min to max (the library itself would take 2.5 as 2, and -1 as 4294967295).
template <typename Integer>
Integer IntegerIn(const Json& value, Integer min, Integer max) {
  const auto within = [&](auto number) {
    return std::cmp_less_equal(min, number) && std::cmp_less_equal(number, max);
  };
  const bool fits = value.is_number_unsigned()
                        ? within(value.get<std::uint64_t>())
                        : value.is_number_integer() && within(value.get<std::int64_t>());
  if (!fits) {
    Reject(value, "expected an integer from " + std::to_string(min) + " to " + std::to_string(max));
  }
  return value.get<Integer>();
}

std::optional<int> HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return std::nullopt;
}

// "01 ff", "01ff" or "01,ff": pairs of hex digits; blanks and commas between the pairs are ignored.
std::string HexBytes(const Json& value) {
  std::string bytes;
  std::optional<int> high;
  for (const char c : value.get<std::string>()) {
    if (c == ' ' || c == ',') {
      if (high) Reject(value, "odd number of hex digits in a byte");
      continue;
    }
    const std::optional<int> digit = HexDigit(c);
    if (!digit) Reject(value, "not a hex digit: " + Quote(std::string(1, c)));
    if (!high) {
      high = digit;
      continue;
    }
    bytes.push_back(static_cast<char>(*high * 16 + *digit));
    high.reset();
  }
  if (high) Reject(value, "odd number of hex digits");
  return bytes;
}

std::string Windows1252Of(const Json& value) {
  const std::string text = value.get<std::string>();
  try {
    return Windows1252Bytes(text);
  } catch (const std::range_error& fault) {
    Reject(value, fault.what());
  }
}

std::vector<DialogResult> AnswersOf(const Json& list) {
  static constexpr DialogResult kResults[] = {DialogResult::Yes, DialogResult::No, DialogResult::Ok,
                                              DialogResult::Cancel};
  std::vector<DialogResult> answers;
  for (const Json& answer : ArrayOf(list)) {
    // "Close" is the window system's close request, which every dialog takes as Cancel.
    answers.push_back(kResults[ChoiceOf(answer, {"Yes", "No", "Ok", "Close"}, list)]);
  }
  return answers;
}

void ReadCancel(const Json& value, RunScript& run) {
  const Json& at = OneMemberOf(value, {"pause", "pump"});
  run.cancelPoint =
      value.contains("pause") ? RunScript::CancelPoint::Pause : RunScript::CancelPoint::Pump;
  run.cancelAt = IntegerIn(at, 1, 1'000'000'000);
}

// Where a value lies in the document, found by its address.
bool FindValue(const Json& at, const Json& value, Json::json_pointer& path, int depth) {
  if (&at == &value) return true;
  if (depth == kDeepestRecord || !at.is_structured()) return false;
  for (const auto& member : at.items()) {
    path.push_back(member.key());
    if (FindValue(member.value(), value, path, depth + 1)) return true;
    path.pop_back();
  }
  return false;
}

std::string ValueFaultMessage(const Json& document, const ValueFault& fault) {
  Json::json_pointer path;
  // Only a value deeper than any record goes unfound; the whole scenario is named then.
  const bool found = FindValue(document, fault.Value(), path, 0);
  return Place(found ? path : Json::json_pointer()) + ": " + fault.what();
}

// The library's message names the place as a pointer in parentheses (with its diagnostics on):
// "[json.exception.type_error.302] (/system/is64) type must be boolean, but is string". Its own
// text after the pointer names no key of the file, so the pointer ends at the last ") ".
std::string LibraryFaultMessage(const Json::exception& fault) {
  std::string_view text = fault.what();
  const std::size_t name = text.find("] ");
  if (name != std::string_view::npos) text.remove_prefix(name + 2);
  Json::json_pointer pointer;
  const std::size_t close = text.rfind(") ");
  if (text.starts_with("(/") && close != std::string_view::npos) {
    pointer = Json::json_pointer(std::string(text.substr(1, close - 1)));
    text.remove_prefix(close + 2);
  }
  return Place(pointer) + ": " + std::string(text);
}

// Whether tokens[i] is a name that the scenario chose rather than a key of a record: the members
// of "registry", "files" and "services", and of each registry key.
bool IsChosenName(const std::vector<std::string>& tokens, std::size_t i) {
  const std::string& top = tokens.front();
  return (i == 1 && (top == "registry" || top == "files" || top == "services")) ||
         (i == 2 && top == "registry");
}

bool IsIndex(std::string_view token) {
  return !token.empty() &&
         std::all_of(token.begin(), token.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The system model's own types, converted where the scenario names them.
void ReadServiceState(const Json& value, ServiceState& state);
void ReadServiceScript(const Json& value, ServiceScript& script);
void ReadRegistryValue(const Json& value, RegistryValue& registryValue);

}  // namespace

}  // namespace lk::lksim

NLOHMANN_JSON_NAMESPACE_BEGIN

template <>
struct adl_serializer<lk::ServiceState> {
  static void from_json(const lk::lksim::Json& value, lk::ServiceState& state) {
    lk::lksim::ReadServiceState(value, state);
  }
};

template <>
struct adl_serializer<lk::ServiceScript> {
  static void from_json(const lk::lksim::Json& value, lk::ServiceScript& script) {
    lk::lksim::ReadServiceScript(value, script);
  }
};

template <>
struct adl_serializer<lk::RegistryValue> {
  static void from_json(const lk::lksim::Json& value, lk::RegistryValue& registryValue) {
    lk::lksim::ReadRegistryValue(value, registryValue);
  }
};

NLOHMANN_JSON_NAMESPACE_END

namespace lk::lksim {

namespace {

void ReadServiceState(const Json& value, ServiceState& state) {
  state = static_cast<ServiceState>(IntegerIn(value, 1, 7));
}

void ReadServiceScript(const Json& value, ServiceScript& script) {
  const Json& record =
      RecordOf(value, {"state", "onStop", "statesAfterStop", "startPendingQueries", "deleteError"});
  script.state = record.value("state", script.state);
  if (const Json* onStop = MemberOf(record, "onStop")) {
    script.acceptsStop = ChoiceOf(*onStop, {"accept", "refuse"}) == 0;
  }
  script.statesAfterStop = record.value("statesAfterStop", script.statesAfterStop);
  if (const Json* queries = MemberOf(record, "startPendingQueries")) {
    script.startPendingQueries = IntegerIn(*queries, 0, 1'000'000);
  }
  if (const Json* error = MemberOf(record, "deleteError")) {
    script.deleteError = IntegerIn<std::uint32_t>(*error, 0, 0xFFFFFFFF);
  }
}

void ReadRegistryValue(const Json& value, RegistryValue& registryValue) {
  const Json& record = RecordOf(value, {"type", "data"});
  const Json& type = record.at("type");
  const Json& data = record.at("data");
  switch (ChoiceOf(type, {"REG_SZ", "REG_EXPAND_SZ", "REG_DWORD", "REG_BINARY", "REG_MULTI_SZ"})) {
    case 0:  // REG_SZ
      registryValue = RegistryValue::String(data.get<std::string>());
      break;
    case 1:  // REG_EXPAND_SZ
      registryValue = RegistryValue::ExpandString(data.get<std::string>());
      break;
    case 2:  // REG_DWORD
      registryValue = RegistryValue::Dword(IntegerIn<std::uint32_t>(data, 0, 0xFFFFFFFF));
      break;
    case 3:  // REG_BINARY
      registryValue = RegistryValue::Binary(HexBytes(data));
      break;
    default:  // REG_MULTI_SZ
      registryValue = RegistryValue::MultiString(data.get<std::vector<std::string>>());
      break;
  }
}

}  // namespace

template <typename Record>
void from_json(const Json& value, Named<Record>& named) {
  for (const auto& member : ObjectOf(value).items()) {
    named.entries.emplace_back(member.key(), member.value().template get<Record>());
  }
}

void from_json(const Json& value, SystemRecord& system) {
  const Json& record = RecordOf(value, {"is64", "ntFamily", "systemDirectory"});
  system.is64 = record.value("is64", system.is64);
  system.ntFamily = record.value("ntFamily", system.ntFamily);
  system.systemDirectory = record.value("systemDirectory", system.systemDirectory);
}

void from_json(const Json& value, ContentPiece& piece) {
  const Json& content = OneMemberOf(value, {"text", "utf16", "hex", "repeat"});
  piece.kind = value.begin().key();
  if (piece.kind == "text") {
    piece.unit = Windows1252Of(content);
  } else if (piece.kind == "utf16") {
    piece.unit = Utf16LeBytes(content.get<std::string>());
  } else if (piece.kind == "hex") {
    piece.unit = HexBytes(content);
  } else {
    const Json& repeat = RecordOf(content, {"hex", "count"});
    piece.unit = HexBytes(repeat.at("hex"));
    piece.count = IntegerIn<std::int64_t>(repeat.at("count"), 0, kMaxContentBytes);
  }
}

void from_json(const Json& value, FileRecord& file) {
  const Json& record = RecordOf(value, {"content", "inUse"});
  file.content = record.value("content", file.content);
  file.inUse = record.value("inUse", file.inUse);
}

void from_json(const Json& value, Scenario& scenario) {
  const Json& record =
      RecordOf(value, {"description", "system", "registry", "deniedKeys", "files", "directories",
                       "services", "devices", "answers", "cancelAt"});
  scenario.system = record.value("system", scenario.system);
  scenario.directories = record.value("directories", scenario.directories);
  scenario.files = record.value("files", scenario.files);
  scenario.registry = record.value("registry", scenario.registry);
  scenario.deniedKeys = record.value("deniedKeys", scenario.deniedKeys);
  scenario.services = record.value("services", scenario.services);
  scenario.devices = record.value("devices", scenario.devices);
  if (const Json* answers = MemberOf(record, "answers")) scenario.run.answers = AnswersOf(*answers);
  if (const Json* cancel = MemberOf(record, "cancelAt")) ReadCancel(*cancel, scenario.run);
}

Scenario ReadScenario(const Json& document) {
  try {
    return document.get<Scenario>();
  } catch (const Json::exception& fault) {
    throw ScenarioError(LibraryFaultMessage(fault));
  } catch (const ValueFault& fault) {
    throw ScenarioError(ValueFaultMessage(document, fault));
  }
}

std::string Place(const Json::json_pointer& pointer) {
  std::vector<std::string> tokens;
  for (Json::json_pointer rest = pointer; !rest.empty(); rest.pop_back()) {
    tokens.insert(tokens.begin(), rest.back());
  }
  if (tokens.empty()) return "scenario";
  std::string place = tokens.front();
  for (std::size_t i = 1; i < tokens.size(); ++i) {
    if (IsChosenName(tokens, i)) {
      place += "[" + Quote(tokens[i]) + "]";
    } else if (IsIndex(tokens[i])) {
      place += "[" + tokens[i] + "]";
    } else {
      place += "." + tokens[i];
    }
  }
  return place;
}

namespace {

// Counts the nesting and the members of each open container while the parser reads the text;
// stops the parse at the first excess.
class ShapeCheck final : public nlohmann::json_sax<Json> {
 public:
  bool null() override { return Member(); }
  bool boolean(bool) override { return Member(); }
  bool number_integer(number_integer_t) override { return Member(); }
  bool number_unsigned(number_unsigned_t) override { return Member(); }
  bool number_float(number_float_t, const string_t&) override { return Member(); }
  bool string(string_t&) override { return Member(); }
  bool binary(binary_t&) override { return Member(); }
  bool start_object(std::size_t) override { return Open(); }
  bool key(string_t&) override { return true; }
  bool end_object() override { return Close(); }
  bool start_array(std::size_t) override { return Open(); }
  bool end_array() override { return Close(); }
  bool parse_error(std::size_t, const std::string&,
                   const nlohmann::detail::exception& error) override {
    fault = std::string("not valid JSON: ") + error.what();
    return false;
  }

  std::optional<std::string> fault;

 private:
  bool Member() {
    if (members_.empty()) return true;
    if (++members_.back() <= kMaxScenarioMembers) return true;
    fault = "an object or array with more than " + std::to_string(kMaxScenarioMembers) + " members";
    return false;
  }
  bool Open() {
    if (!Member()) return false;
    if (members_.size() >= kMaxScenarioDepth) {
      fault = "nested deeper than " + std::to_string(kMaxScenarioDepth) + " levels";
      return false;
    }
    members_.push_back(0);
    return true;
  }
  bool Close() {
    members_.pop_back();
    return true;
  }

  std::vector<std::size_t> members_;  // per open container
};

}  // namespace

std::optional<std::string> ScenarioShapeFault(std::string_view text) {
  ShapeCheck check;
  const bool complete = Json::sax_parse(text, &check);
  if (check.fault) return check.fault;
  if (!complete) return std::string("not valid JSON");
  return std::nullopt;
}

}  // namespace lk::lksim
