#pragma once
// Windows' recovery of a hive from its transaction logs, done in memory: the bytes of the primary
// file and of its logs in, the bytes of the hive as Windows would load it out.
//
// It follows the public description of the format. New-format logs (HvLE entries, each with two
// Marvin32 hashes) are applied in sequence order across both logs, starting where the primary's
// last complete write left off; old-format logs (a DIRT bitmap of 512-byte pages) only when their
// timestamp is the primary's. A primary whose base block is broken takes the base block of the
// log with the latest entries, and only that log's entries. The logs are hostile input: every
// size, count and offset is checked against the bytes that are there, and the result never
// grows beyond kMaxHiveBinsSize. It never touches a file.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lk {

struct HiveLogFile {
  std::string name;  // as the report should name it ("SYSTEM.LOG1")
  std::string bytes;
};

struct HiveReplay {
  enum class Outcome : std::uint8_t {
    Clean,     // the primary is not dirty: the logs do not apply, hive is empty
    Replayed,  // hive holds the recovered file, applied says what went into it
    Failed,    // dirty, and the logs cannot bring it up to date: failure says why
  };
  Outcome outcome = Outcome::Clean;
  std::string hive;
  std::string applied;
  std::string failure;
};

class HiveLogReplay {
 public:
  static constexpr std::uint32_t kMaxHiveBinsSize = 1U << 30U;

  [[nodiscard]] static HiveReplay Run(std::string_view primary,
                                      const std::vector<HiveLogFile>& logs);
};

}  // namespace lk
