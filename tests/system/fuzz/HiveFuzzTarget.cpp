// Fuzz input: a primary hive file and two transaction logs, each but the last preceded by its
// length (4 bytes, little-endian). Replays the logs and walks the cells of the primary and of
// the replayed hive as a removal would; none of it may crash or read outside the input.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "system/offline/HiveBaseBlock.h"
#include "system/offline/HiveCells.h"
#include "system/offline/HiveLogReplay.h"

namespace {

std::string_view Take(std::string_view& input) {
  if (input.size() < 4) {
    const std::string_view rest = input;
    input = {};
    return rest;
  }
  const std::size_t length = std::min<std::size_t>(lk::HiveDword(input, 0), input.size() - 4);
  const std::string_view part = input.substr(4, length);
  input.remove_prefix(4 + length);
  return part;
}

void WalkCells(std::string_view hive) {
  if (hive.size() < lk::HiveBaseBlock::kSize) return;
  const lk::HiveCells cells(hive);
  const std::size_t root = lk::HiveBaseBlock::kSize + lk::HiveDword(hive, 36);
  static_cast<void>(cells.CheckDeleteTree(root));
  static_cast<void>(cells.CheckRewriteValues(root));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string primary(Take(input));
  std::vector<lk::HiveLogFile> logs;
  logs.push_back({"SYSTEM.LOG1", std::string(Take(input))});
  logs.push_back({"SYSTEM.LOG2", std::string(input)});
  WalkCells(primary);
  const lk::HiveReplay replay = lk::HiveLogReplay::Run(primary, logs);
  if (replay.outcome == lk::HiveReplay::Outcome::Replayed) WalkCells(replay.hive);
  return 0;
}
