// lksim: runs one analysis run on the scripted system that a scenario file describes and prints
// what happens as JSON Lines (see README.md). Exit 0 after a run, 2 on an unusable scenario.

#include <cstddef>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "analysis/AnalysisController.h"
#include "testing/RecordingView.h"
#include "testing/lksim/ScenarioMachine.h"
#include "testing/lksim/TranscribingDesktop.h"

namespace {

using lk::lksim::Json;

// A scenario larger than this is surely not one written by hand or by a test.
constexpr std::size_t kMaxScenarioBytes = std::size_t{4} << 20;

int Unusable(const std::string& scenario, const std::string& why) {
  std::cerr << "lksim: " << scenario << ": " << why << '\n';
  return 2;
}

// The scenario file's text, or a reason it cannot be used. Only regular files are read (a
// device or a pipe could give text without end), and only up to kMaxScenarioBytes.
std::optional<std::string> ReadScenario(const std::string& path, std::string& why) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (error || !std::filesystem::exists(status)) {
    why = "cannot be read";
    return std::nullopt;
  }
  if (!std::filesystem::is_regular_file(status)) {
    why = "not a regular file";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  std::string text(kMaxScenarioBytes + 1, '\0');
  if (in) in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad() || (!in && !in.eof())) {
    why = "cannot be read";
    return std::nullopt;
  }
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > kMaxScenarioBytes) {
    why = "larger than 4 MiB";
    return std::nullopt;
  }
  return text;
}

// The transcript is held back until the run has ended: a scenario found unusable during the run
// (an answer that its dialog cannot give) prints none.
class Transcript {
 public:
  void Emit(const Json& line) {
    lines_.push_back(line.dump(-1, ' ', false, Json::error_handler_t::replace));
  }
  void Print() const {
    for (const std::string& line : lines_) std::cout << line << '\n';
    std::cout.flush();
  }

 private:
  std::vector<std::string> lines_;
};

int Run(const std::string& scenarioPath) {
  std::string why;
  const std::optional<std::string> text = ReadScenario(scenarioPath, why);
  if (!text) return Unusable(scenarioPath, why);

  if (const std::optional<std::string> fault = lk::lksim::ScenarioShapeFault(*text)) {
    return Unusable(scenarioPath, *fault);
  }
  Json scenario;
  try {
    scenario = Json::parse(*text);
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

  Transcript transcript;
  lk::lksim::TranscribingDesktop desktop(
      machine.System(),
      {[&transcript](std::string_view clipboard) {
         transcript.Emit({{"clipboard", std::string(clipboard)}});
       },
       [&transcript](lk::ShutdownMode mode, bool force) {
         transcript.Emit({{"shutdown", std::to_string(static_cast<int>(mode))}, {"force", force}});
       }});
  lk::RecordingView view;
  for (lk::DialogResult answer : script.answers) view.QueueAnswer(answer);
  view.OnRowAppended = [&transcript](const lk::RecordingView::Row& row) {
    transcript.Emit({{"entry", row.caption}, {"image", row.imageIndex}});
  };
  std::size_t dialogs = 0;
  std::string wrongAnswer;  // the first answer that its dialog cannot give
  view.OnDialog = [&](const lk::RecordingView::Dialog& dialog) {
    const std::size_t index = dialogs++;
    if (index < script.answers.size() && wrongAnswer.empty() &&
        !lk::lksim::IsAnswerOf(dialog.result, dialog.buttons)) {
      wrongAnswer = "answers[" + std::to_string(index) + "]: \"" +
                    scenario["answers"][index].get<std::string>() +
                    "\" is not a button of the dialog \"" + dialog.title +
                    "\" (its buttons: " + lk::lksim::ButtonNames(dialog.buttons) + ")";
    }
    transcript.Emit({{"dialog", dialog.title},
                     {"text", dialog.text},
                     {"icon", static_cast<int>(dialog.icon)},
                     {"buttons", static_cast<int>(dialog.buttons)},
                     {"result", static_cast<int>(dialog.result)}});
  };

  lk::AnalysisController controller(machine.System(), desktop, machine.Files(), view);
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
    transcript.Emit({{"failure", failure.what()}});
  }
  if (!wrongAnswer.empty()) return Unusable(scenarioPath, wrongAnswer);
  transcript.Emit({{"state", machine.State()}});
  transcript.Print();
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
  } catch (const std::filesystem::filesystem_error& error) {
    // The drive folder in the host's temporary folder could not be made or filled.
    std::cerr << "lksim: " << error.what() << '\n';
    return 2;
  } catch (const std::exception& error) {
    std::cerr << "lksim: " << error.what() << '\n';
    return 1;
  }
}
