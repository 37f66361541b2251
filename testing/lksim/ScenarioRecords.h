#pragma once
// The scenario file's records, as the JSON library converts them (from_json), checked on the way:
// the library checks the types and the required keys; the converters add what the format asks
// beyond them (no unknown keys, whole numbers within their field's bounds, names from a fixed
// list, hex digits, texts that their encoding can hold). ReadScenario is the one place where a
// fault becomes a ScenarioError; the message names its place in the file, as Place spells it.
//
// The records keep what the file says: the paths, the drive folder and the content limit are the
// machine's to check, and "repeat" pieces stay unexpanded until then.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "analysis/AnalysisView.h"
#include "testing/scripted/ScriptedSystem.h"

// The library names the place of its own faults only with its diagnostics on.
#if !JSON_DIAGNOSTICS
#error "lksim's scenario messages name the faulty place: build with JSON_DIAGNOSTICS=1"
#endif

namespace lk::lksim {

using Json = nlohmann::ordered_json;

class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The content of all files together; more is surely a mistake in the scenario, and the drive
// folder lies in the host's temporary folder.
inline constexpr std::int64_t kMaxContentBytes = std::int64_t{64} << 20;

// The members of a scenario object whose keys the scenario chooses (paths, key paths, value and
// service names), in the file's order.
template <typename Record>
struct Named {
  std::vector<std::pair<std::string, Record>> entries;
};

struct SystemRecord {
  bool is64 = false;
  bool ntFamily = true;
  std::string systemDirectory = "C:\\WINDOWS\\system32";  // "": the system does not tell it
};

// One piece of a file's content: unit, count times over.
struct ContentPiece {
  std::string kind;  // "text", "utf16", "hex" or "repeat", for messages
  std::string unit;
  std::int64_t count = 1;
};

struct FileRecord {
  std::vector<ContentPiece> content;
  bool inUse = false;
};

// What the scenario asks of the run itself, beyond the machine.
struct RunScript {
  std::vector<DialogResult> answers;
  enum class CancelPoint { None, Pause, Pump } cancelPoint = CancelPoint::None;
  int cancelAt = 0;
};

struct Scenario {
  SystemRecord system;
  std::vector<std::string> directories;
  Named<FileRecord> files;
  Named<Named<RegistryValue>> registry;  // key path -> value name -> value
  std::vector<std::string> deniedKeys;
  Named<ServiceScript> services;
  std::vector<std::string> devices;
  RunScript run;
};

// The most a scenario may nest, and the most members one object or array may hold. A scenario
// may come from anybody: far deeper nesting exhausts the stack of whoever walks the document,
// and an object with very many members takes minutes to build (its keys are kept in order and
// checked one by one).
inline constexpr std::size_t kMaxScenarioDepth = 64;
inline constexpr std::size_t kMaxScenarioMembers = 100000;

// Why the scenario's text is not a document lksim should build, or nothing: not JSON, nested
// deeper than kMaxScenarioDepth, or a container with more than kMaxScenarioMembers members.
// Reads the text as a stream of events, without building anything.
[[nodiscard]] std::optional<std::string> ScenarioShapeFault(std::string_view text);

// The scenario's records; raises ScenarioError naming the place of the first fault.
[[nodiscard]] Scenario ReadScenario(const Json& document);

// A place in the scenario as messages name it: files["C:\x.dll"].content[0].hex; "scenario" for
// the whole.
[[nodiscard]] std::string Place(const Json::json_pointer& pointer);

}  // namespace lk::lksim
