// Reading a scenario's records: what each key becomes, and how a fault is named.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/lksim/ScenarioRecords.h"

namespace lk::lksim {
namespace {

using namespace std::string_literals;

Scenario Read(const std::string& json) { return ReadScenario(Json::parse(json)); }

std::string FaultOf(const std::string& json) {
  try {
    (void)Read(json);
  } catch (const ScenarioError& fault) {
    return fault.what();
  }
  return "no fault";
}

template <typename Record>
std::vector<std::string> NamesOf(const Named<Record>& named) {
  std::vector<std::string> names;
  for (const auto& [name, record] : named.entries) names.push_back(name);
  return names;
}

TEST(ScenarioRecords, EveryKeyIsOptional) {
  const Scenario scenario = Read("{}");
  EXPECT_FALSE(scenario.system.is64);
  EXPECT_TRUE(scenario.system.ntFamily);
  EXPECT_EQ(scenario.system.systemDirectory, "C:\\WINDOWS\\system32");
  EXPECT_TRUE(scenario.files.entries.empty());
  EXPECT_TRUE(scenario.run.answers.empty());
  EXPECT_EQ(scenario.run.cancelPoint, RunScript::CancelPoint::None);
}

TEST(ScenarioRecords, PiecesBecomeBytesAndRepeatsStayUnexpanded) {
  const Scenario scenario = Read(R"({"files": {"C:\\x.dll": {"inUse": true, "content": [
      {"text": "\u20ac"}, {"utf16": "A"}, {"hex": "01 ff,2A"},
      {"repeat": {"hex": "4142", "count": 70000}}]}}})");
  ASSERT_EQ(scenario.files.entries.size(), 1u);
  const FileRecord& file = scenario.files.entries[0].second;
  EXPECT_TRUE(file.inUse);
  ASSERT_EQ(file.content.size(), 4u);
  EXPECT_EQ(file.content[0].unit, "\x80");
  EXPECT_EQ(file.content[1].unit, "A\0"s);
  EXPECT_EQ(file.content[2].unit, "\x01\xFF\x2A");
  EXPECT_EQ(file.content[3].unit, "AB");
  EXPECT_EQ(file.content[3].count, 70000);
  EXPECT_EQ(file.content[3].kind, "repeat");
}

TEST(ScenarioRecords, NamedEntriesKeepTheFilesOrder) {
  const Scenario scenario = Read(R"({
      "files": {"C:\\b.dll": {}, "C:\\A.dll": {}},
      "registry": {"SOFTWARE\\Z": {"b": {"type": "REG_SZ", "data": ""},
                                   "A": {"type": "REG_SZ", "data": ""}},
                   "SOFTWARE\\a": {}},
      "services": {"zeta": {}, "alpha": {}}})");
  EXPECT_EQ(NamesOf(scenario.files), (std::vector<std::string>{"C:\\b.dll", "C:\\A.dll"}));
  EXPECT_EQ(NamesOf(scenario.registry), (std::vector<std::string>{"SOFTWARE\\Z", "SOFTWARE\\a"}));
  EXPECT_EQ(NamesOf(scenario.registry.entries[0].second), (std::vector<std::string>{"b", "A"}));
  EXPECT_EQ(NamesOf(scenario.services), (std::vector<std::string>{"zeta", "alpha"}));
}

TEST(ScenarioRecords, RegistryValuesTakeTheirTypesData) {
  const Scenario scenario = Read(R"({"registry": {"K": {
      "sz": {"type": "REG_SZ", "data": "a"},
      "expand": {"type": "REG_EXPAND_SZ", "data": "%x%"},
      "dword": {"type": "REG_DWORD", "data": 4294967295},
      "binary": {"type": "REG_BINARY", "data": "00 ff"},
      "multi": {"type": "REG_MULTI_SZ", "data": ["a", "b"]}}}})");
  const auto& values = scenario.registry.entries.at(0).second.entries;
  ASSERT_EQ(values.size(), 5u);
  EXPECT_EQ(values[0].second, RegistryValue::String("a"));
  EXPECT_EQ(values[1].second, RegistryValue::ExpandString("%x%"));
  EXPECT_EQ(values[2].second, RegistryValue::Dword(0xFFFFFFFF));
  EXPECT_EQ(values[3].second, RegistryValue::Binary("\x00\xFF"s));
  EXPECT_EQ(values[4].second, RegistryValue::MultiString({"a", "b"}));
}

TEST(ScenarioRecords, ServicesAndTheRunScript) {
  const Scenario scenario = Read(R"({
      "services": {"winsys32": {"state": 2, "onStop": "refuse", "statesAfterStop": [3, 1],
                                "startPendingQueries": 5, "deleteError": 1072}},
      "answers": ["Yes", "No", "Ok", "Close"], "cancelAt": {"pump": 56}})");
  const ServiceScript& script = scenario.services.entries.at(0).second;
  EXPECT_EQ(script.state, ServiceState::StartPending);
  EXPECT_FALSE(script.acceptsStop);
  EXPECT_EQ(script.statesAfterStop,
            (std::vector<ServiceState>{ServiceState::StopPending, ServiceState::Stopped}));
  EXPECT_EQ(script.startPendingQueries, 5);
  EXPECT_EQ(script.deleteError, 1072u);
  EXPECT_EQ(scenario.run.answers,
            (std::vector<DialogResult>{DialogResult::Yes, DialogResult::No, DialogResult::Ok,
                                       DialogResult::Cancel}));
  EXPECT_EQ(scenario.run.cancelPoint, RunScript::CancelPoint::Pump);
  EXPECT_EQ(scenario.run.cancelAt, 56);
}

TEST(ScenarioFaults, TypeFaultsNameTheField) {
  EXPECT_EQ(FaultOf(R"({"system": {"is64": "yes"}})"),
            "system.is64: type must be boolean, but is string");
  EXPECT_EQ(FaultOf(R"([])"), "scenario: type must be object, but is array");
  EXPECT_EQ(FaultOf(R"({"deniedKeys": ["a", 1]})"),
            "deniedKeys[1]: type must be string, but is number");
  EXPECT_EQ(FaultOf(R"({"answers": "Yes"})"), "answers: type must be array, but is string");
  EXPECT_EQ(FaultOf(R"({"registry": {"K": {"V": {"type": "REG_MULTI_SZ", "data": ["a", 1]}}}})"),
            "registry[\"K\"][\"V\"].data[1]: type must be string, but is number");
  EXPECT_EQ(FaultOf(R"({"files": {"C:\\x.dll": {"content": {}}}})"),
            "files[\"C:\\x.dll\"].content: type must be array, but is object");
}

TEST(ScenarioFaults, KeyFaultsNameTheRecord) {
  EXPECT_EQ(FaultOf(R"({"sytem": {}})"), "scenario: unknown key \"sytem\"");
  EXPECT_EQ(FaultOf(R"({"services": {"w": {"stat": 1}}})"),
            "services[\"w\"]: unknown key \"stat\"");
  EXPECT_EQ(FaultOf(R"({"registry": {"K": {"V": {"type": "REG_SZ"}}}})"),
            "registry[\"K\"][\"V\"]: key 'data' not found");
  EXPECT_EQ(FaultOf(R"({"files": {"C:\\x.dll": {"content": [{"repeat": {"hex": "00"}}]}}})"),
            "files[\"C:\\x.dll\"].content[0].repeat: key 'count' not found");
  EXPECT_EQ(FaultOf(R"({"files": {"C:\\x.dll": {"content": [{"text": "a", "hex": "00"}]}}})"),
            "files[\"C:\\x.dll\"].content[0]: expected exactly one of \"text\", \"utf16\", "
            "\"hex\" and \"repeat\"");
  EXPECT_EQ(FaultOf(R"({"cancelAt": {}})"),
            "cancelAt: expected exactly one of \"pause\" and \"pump\"");
}

TEST(ScenarioFaults, NumbersMustBeWholeAndWithinTheirField) {
  EXPECT_EQ(FaultOf(R"({"services": {"w": {"state": 2.5}}})"),
            "services[\"w\"].state: expected an integer from 1 to 7");
  EXPECT_EQ(FaultOf(R"({"services": {"w": {"statesAfterStop": [1, 8]}}})"),
            "services[\"w\"].statesAfterStop[1]: expected an integer from 1 to 7");
  EXPECT_EQ(FaultOf(R"({"services": {"w": {"deleteError": -1}}})"),
            "services[\"w\"].deleteError: expected an integer from 0 to 4294967295");
  EXPECT_EQ(FaultOf(R"({"registry": {"K": {"V": {"type": "REG_DWORD", "data": 4294967296}}}})"),
            "registry[\"K\"][\"V\"].data: expected an integer from 0 to 4294967295");
  EXPECT_EQ(FaultOf(R"({"cancelAt": {"pump": 18446744073709551615}})"),
            "cancelAt.pump: expected an integer from 1 to 1000000000");
  EXPECT_EQ(
      FaultOf(R"({"files": {"C:\\x": {"content": [{"repeat": {"hex": "", "count": "2"}}]}}})"),
      "files[\"C:\\x\"].content[0].repeat.count: expected an integer from 0 to 67108864");
}

TEST(ScenarioFaults, NamesAndBytesMustBeOnesTheFormatKnows) {
  EXPECT_EQ(FaultOf(R"({"registry": {"K": {"V": {"type": "REG_QWORD", "data": 1}}}})"),
            "registry[\"K\"][\"V\"].type: \"REG_QWORD\" is none of \"REG_SZ\", \"REG_EXPAND_SZ\", "
            "\"REG_DWORD\", \"REG_BINARY\", \"REG_MULTI_SZ\"");
  EXPECT_EQ(FaultOf(R"({"services": {"w": {"onStop": "maybe"}}})"),
            "services[\"w\"].onStop: \"maybe\" is none of \"accept\", \"refuse\"");
  EXPECT_EQ(FaultOf(R"({"answers": ["Yes", "Maybe"]})"),
            "answers: \"Maybe\" is none of \"Yes\", \"No\", \"Ok\", \"Close\"");
  EXPECT_EQ(FaultOf(R"({"files": {"C:\\x.dll": {"content": [{"hex": "4g"}]}}})"),
            "files[\"C:\\x.dll\"].content[0].hex: not a hex digit: \"g\"");
  EXPECT_EQ(FaultOf(R"({"registry": {"K": {"V": {"type": "REG_BINARY", "data": "0 1"}}}})"),
            "registry[\"K\"][\"V\"].data: odd number of hex digits in a byte");
  EXPECT_EQ(FaultOf(R"({"files": {"C:\\x.dll": {"content": [{"hex": "012"}]}}})"),
            "files[\"C:\\x.dll\"].content[0].hex: odd number of hex digits");
  EXPECT_EQ(FaultOf(R"({"files": {"C:\\x.dll": {"content": [{"text": "\u03a9"}]}}})"),
            "files[\"C:\\x.dll\"].content[0].text: character U+03A9 is not in Windows-1252");
}

TEST(ScenarioFaults, PlacesSpellNamesAsTheScenarioDoes) {
  // A pointer escapes "/" and "~"; a name may hold the ") " that ends the library's pointer.
  EXPECT_EQ(FaultOf(R"json({"files": {"C:\\a) b/~c.dll": {"inUse": "no"}}})json"),
            "files[\"C:\\a) b/~c.dll\"].inUse: type must be boolean, but is string");
  EXPECT_EQ(FaultOf(R"json({"services": {"0": {"state": 0}}})json"),
            "services[\"0\"].state: expected an integer from 1 to 7");
  EXPECT_EQ(FaultOf(R"json({"registry": {"": {"V": {"type": "X) y", "data": 1}}}})json"),
            "registry[\"\"][\"V\"].type: \"X) y\" is none of \"REG_SZ\", \"REG_EXPAND_SZ\", "
            "\"REG_DWORD\", \"REG_BINARY\", \"REG_MULTI_SZ\"");
}

TEST(ScenarioShape, DeepNestingAndHugeObjectsAreRefusedBeforeTheDocumentIsBuilt) {
  EXPECT_FALSE(ScenarioShapeFault(R"({"system":{"is64":false},"run":{"answers":[]}})"));
  const std::string deep(1000000, '[');
  const auto deepFault = ScenarioShapeFault(deep);
  ASSERT_TRUE(deepFault);
  EXPECT_NE(deepFault->find("nested deeper than 64"), std::string::npos) << *deepFault;

  std::string wide = "{";
  for (std::size_t i = 0; i <= kMaxScenarioMembers; ++i) {
    wide += (i > 0 ? ",\"k" : "\"k") + std::to_string(i) + "\":0";
  }
  wide += "}";
  const auto wideFault = ScenarioShapeFault(wide);
  ASSERT_TRUE(wideFault);
  EXPECT_NE(wideFault->find("more than 100000 members"), std::string::npos) << *wideFault;

  const auto broken = ScenarioShapeFault("{\"a\":");
  ASSERT_TRUE(broken);
  EXPECT_EQ(broken->rfind("not valid JSON", 0), 0u) << *broken;
}

}  // namespace
}  // namespace lk::lksim
