// lksim: runs one analysis run on the scripted system that a scenario file describes and prints
// what happens as JSON Lines (see README.md). Exit 0 after a run, 2 on an unusable scenario.

#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "analysis/AnalysisController.h"
#include "analysis/RecordingView.h"
#include "tools/lksim/ScenarioMachine.h"
#include "tools/lksim/TranscribingSystem.h"

namespace {

using lk::lksim::Json;

void Emit(const Json& line) {
  std::cout << line.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
}

int Unusable(const std::string& scenario, const std::string& why) {
  std::cerr << "lksim: " << scenario << ": " << why << '\n';
  return 2;
}

int Run(const std::string& scenarioPath) {
  std::ifstream in(scenarioPath, std::ios::binary);
  if (!in) return Unusable(scenarioPath, "cannot be read");
  std::stringstream text;
  text << in.rdbuf();

  Json scenario;
  try {
    scenario = Json::parse(text.str());
  } catch (const Json::parse_error& error) {
    return Unusable(scenarioPath, std::string("not valid JSON: ") + error.what());
  }

  lk::lksim::ScenarioMachine machine;
  lk::lksim::RunScript script;
  try {
    script = machine.Load(scenario);
  } catch (const lk::lksim::ScenarioError& error) {
    return Unusable(scenarioPath, error.what());
  }

  lk::lksim::TranscribingSystem system(machine.System(),
                                       {[](std::string_view clipboard) {
                                          Emit({{"clipboard", std::string(clipboard)}});
                                        },
                                        [](std::string_view mode, bool force) {
                                          Emit({{"shutdown", std::string(mode)}, {"force", force}});
                                        }});
  lk::RecordingView view;
  for (lk::DialogResult answer : script.answers) view.QueueAnswer(answer);
  view.OnRowAppended = [](const lk::RecordingView::Row& row) {
    Emit({{"entry", row.caption}, {"image", row.imageIndex}});
  };
  view.OnDialog = [](const lk::RecordingView::Dialog& dialog) {
    Emit({{"dialog", dialog.title},
          {"text", dialog.text},
          {"icon", static_cast<int>(dialog.icon)},
          {"buttons", static_cast<int>(dialog.buttons)},
          {"result", static_cast<int>(dialog.result)}});
  };

  lk::AnalysisController controller(system, machine.Files(), view);
  const auto cancel = [&controller] { controller.btnAbbruchClick(); };
  if (script.cancelPoint == lk::lksim::RunScript::CancelPoint::Pause) {
    machine.System().AtPause(script.cancelAt, cancel);
  } else if (script.cancelPoint == lk::lksim::RunScript::CancelPoint::Pump) {
    machine.System().AtPump(script.cancelAt, cancel);
  }

  controller.FormCreate();
  try {
    controller.btnStartAnalyzeClick();
  } catch (const std::exception& failure) {
    // What the window's general error display would show.
    Emit({{"failure", failure.what()}});
  }
  Emit({{"state", machine.State()}});
  std::cout.flush();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: lksim SCENARIO.json\n";
    return 2;
  }
  try {
    return Run(argv[1]);
  } catch (const std::exception& error) {
    std::cerr << "lksim: " << error.what() << '\n';
    return 1;
  }
}
