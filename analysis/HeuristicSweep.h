#pragma once
// The heuristic branch of a run: examines every library directly in the system directory and
// every driver directly in the drivers directory by content, with a search expression built from
// the trojan's characteristic strings, reports each match at once, probes the trojan's device,
// shows the findings in dialogs and puts the list of suspicious files on the clipboard. It finds
// new variants too, but cannot remove anything.
//
// Each category is searched twice: a counting pass with the empty expression (every entry that
// fits the mask, no file opened) sets the progress bar's range, then the content pass. The cancel
// flag is tested after each of the four searches. On 64-bit systems the file-system redirection
// is off for the whole sweep, so the native system directory is examined, and it is switched
// back on on every way out. Catches no failure itself.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/RunContext.h"

namespace lk {

class HeuristicSweep {
 public:
  explicit HeuristicSweep(RunContext& context) : ctx_(context) {}

  void RunHeuristicSweep();

  // The file searcher's event handlers, assigned by the controller.
  void FileAnalyzerFound(const SPFileRecord& file);
  void FileAnalyzerFileChange(const std::string& name);
  void FileAnalyzerFinished();
  void FileAnalyzerCancel();

 private:
  struct Category {
    std::string_view announcement;
    bool showsProgressBar;
    std::string_view mask;
    std::string directory;
    std::string_view countEntry;
    std::string expression;
    std::vector<std::string>* results;
  };

  void RunCategories();
  // false when a test point ended the sweep.
  [[nodiscard]] bool RunCategory(const Category& category);
  void Evaluate();
  void CloseSweep(std::unique_ptr<FsRedirectionScope>& redirection);
  void HideStatus();

  RunContext& ctx_;
};

}  // namespace lk
