#include "bench/ScanBench.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "scan/Scanner.h"
#include "system/posix/PosixFileSystem.h"
#include "testing/scripted/ScriptedSystem.h"
#include "tools/lkgrep/LkGrep.h"
#include "tools/lkscan/ScanOutput.h"

namespace lk::bench {

namespace {

constexpr const char* kSystemDir = "C:\\Windows\\System32";

// Peak resident memory of this process in KiB (VmHWM).
long PeakKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// Hands every record to lkscan's JSON Lines output and notes the sweep's hits and the files
// examined.
class CountingReport final : public ScanReport {
 public:
  explicit CountingReport(std::ostream& out) : json_(out) {}
  void Finding(const ScanFinding& finding) override {
    if (finding.check.rfind("sweep-", 0) == 0 && finding.path) found.push_back(*finding.path);
    json_.Finding(finding);
  }
  void Action(const ScanAction& action) override { json_.Action(action); }
  void Skipped(const ScanSkipped& skipped) override { json_.Skipped(skipped); }
  void Note(const ScanNote& note) override { json_.Note(note); }
  void Progress(const ScanProgress& progress) override { json_.Progress(progress); }
  void Summary(const ScanSummary& summary) override {
    examined = summary.filesExamined;
    json_.Summary(summary);
  }

  std::vector<std::string> found;
  std::int64_t examined = 0;

 private:
  JsonLinesReport json_;
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int RunLkScanChild(const std::string& corpusRoot, int threads) {
  // The records go where a script would redirect them: into a file nobody reads.
  std::ofstream records("/dev/null");
  const auto start = std::chrono::steady_clock::now();
  ScriptedSystem system;
  system.SetSystemDirectory(kSystemDir);
  PosixFileSystem files(corpusRoot);
  CountingReport report(records);
  Scanner scanner(system, files, report);
  ScanOptions options;
  options.threads = threads;
  const int exitCode = scanner.Run(options);
  const double seconds = SecondsSince(start);
  std::cout << "result " << seconds << ' ' << PeakKiB() << ' ' << report.examined << '\n';
  for (const std::string& path : report.found) std::cout << "found " << path << '\n';
  return exitCode == 2 ? 1 : 0;
}

int RunLkGrepChild(const std::string& corpusRoot, int threads) {
  PosixFileSystem files("/");
  const LkGrepHost host{files, [](std::string_view path) { return std::string(path); },
                        [](std::string_view path) { return std::string(path); },
                        [](std::string_view text) { return std::string(text); }};
  const std::string system32 = corpusRoot + "/Windows/System32";
  std::ostringstream out;
  std::ostringstream err;
  const auto start = std::chrono::steady_clock::now();
  const std::string jobs = "-j" + std::to_string(threads);
  const int libraries =
      RunLkGrep({jobs, "--preset", "libraries", "--mask", "*.dll", system32}, host, out, err);
  const int drivers = RunLkGrep(
      {jobs, "--preset", "drivers", "--mask", "*.sys", system32 + "/Drivers"}, host, out, err);
  const double seconds = SecondsSince(start);
  // lkgrep does not count what it examined; the parent takes lkscan's count.
  std::cout << "result " << seconds << ' ' << PeakKiB() << " 0\n";
  std::istringstream lines(out.str());
  for (std::string line; std::getline(lines, line);) {
    std::string windows = line;
    for (char& c : windows) {
      if (c == '/') c = '\\';
    }
    std::cout << "found " << windows << '\n';
  }
  std::cerr << err.str();
  return libraries == 2 || drivers == 2 ? 1 : 0;
}

}  // namespace lk::bench
