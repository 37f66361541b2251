#pragma once
// Runs the lkscan program of the build with arguments and collects what it printed, for the
// tests of lkscan --root.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace lk {

using Json = nlohmann::json;

struct ScanRun {
  int exitCode = -1;
  std::vector<Json> records;
  std::string out;
  std::string err;

  [[nodiscard]] std::vector<Json> OfType(std::string_view type) const {
    std::vector<Json> found;
    for (const Json& record : records) {
      if (record.value("type", "") == type) found.push_back(record);
    }
    return found;
  }
  [[nodiscard]] std::vector<Json> Findings(std::string_view check) const {
    std::vector<Json> found;
    for (const Json& record : OfType("finding")) {
      if (record.value("check", "") == check) found.push_back(record);
    }
    return found;
  }
  [[nodiscard]] Json Summary() const {
    const std::vector<Json> summaries = OfType("summary");
    return summaries.size() == 1 ? summaries[0] : Json();
  }
};

inline std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted.push_back(c);
    }
  }
  return quoted + "'";
}

// Runs lkscan with the arguments; with --json its records are parsed.
inline ScanRun RunLkScan(const std::vector<std::string>& args) {
  const std::filesystem::path errors =
      std::filesystem::temp_directory_path() / ("lkscan-root-test-" + std::to_string(getpid()));
  std::string command = Quoted(LK_LKSCAN_EXECUTABLE);
  for (const std::string& arg : args) command += " " + Quoted(arg);
  command += " 2>" + Quoted(errors.string());
  ScanRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = fread(buffer, 1, sizeof(buffer), pipe)) > 0) run.out.append(buffer, got);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(errors);
  run.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::filesystem::remove(errors);
  if (std::find(args.begin(), args.end(), "--json") != args.end()) {
    std::size_t start = 0;
    while (start < run.out.size()) {
      const std::size_t end = run.out.find('\n', start);
      const std::string line = run.out.substr(start, end - start);
      if (!line.empty()) run.records.push_back(Json::parse(line));
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  return run;
}

}  // namespace lk
