#pragma once
// Writes the transaction logs of a hive the way Windows writes them, for tests of the replay:
// new-format logs (a base block copy, then HvLE entries with their dirty pages and both
// Marvin32 hashes) and old-format logs (a base block copy, the DIRT bitmap, the dirty pages).
// It also marks a primary dirty as Windows leaves it after a flush that reached only the log.
//
// It follows the public description of the format and checks nothing: a test may hand it pages
// that do not fit, to see the reader refuse them.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lk::test {

struct LogPage {
  std::uint32_t offset = 0;  // relative to the hive bins
  std::string bytes;
};

// The pages (of pageSize bytes) of the hive bins in which after differs from before, including
// those after has beyond the end of before.
[[nodiscard]] std::vector<LogPage> ChangedPages(std::string_view before, std::string_view after,
                                                std::size_t pageSize = 4096);

// The hive bins size that a hive's base block declares.
[[nodiscard]] std::uint32_t HiveBinsSize(std::string_view hive);

// The primary with its primary sequence number one past its secondary one, checksum renewed.
[[nodiscard]] std::string MarkDirty(std::string primary, std::uint32_t secondarySequence);

// A new-format log: its first sector is the hive's base block (512 bytes) with type 6 and both
// sequence numbers set to sequence; entries follow as they are added.
class NewFormatLog {
 public:
  NewFormatLog(std::string_view hive, std::uint32_t sequence);

  // One entry with correct hashes; a hive bins size of 0 takes the hive's.
  NewFormatLog& Add(std::uint32_t sequence, std::uint32_t hiveBinsSize,
                    const std::vector<LogPage>& pages);
  // Where the last entry starts, for tests that damage it.
  [[nodiscard]] std::size_t LastEntryAt() const noexcept { return lastEntry_; }
  [[nodiscard]] std::string& Bytes() noexcept { return bytes_; }

 private:
  std::string bytes_;
  std::uint32_t hiveBinsSize_ = 0;
  std::size_t lastEntry_ = 0;
};

// An old-format log that brings before up to after: after's base block (type 1, both sequence
// numbers set to sequence, before's timestamp), a DIRT bitmap of the 512-byte pages that differ,
// those pages.
[[nodiscard]] std::string OldFormatLog(std::string_view before, std::string_view after,
                                       std::uint32_t sequence);

}  // namespace lk::test
