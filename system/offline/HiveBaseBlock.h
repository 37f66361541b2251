#pragma once
// The base block at the start of a registry hive file and of its transaction logs: what it says
// about the file (signature, sequence numbers, type, the size of the hive bins) and whether its
// checksum holds.
//
// It reads the first 512 bytes only (a log keeps no more of it) and checks every field against
// nothing but itself; whether the file is as long as it declares is the reader's to check.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lk {

// Little-endian reading and writing of the hive formats' fields; the caller checks the bounds.
[[nodiscard]] std::uint32_t HiveDword(std::string_view bytes, std::size_t at);
[[nodiscard]] std::uint64_t HiveQword(std::string_view bytes, std::size_t at);
void PutHiveDword(std::string& bytes, std::size_t at, std::uint32_t value);

struct HiveBaseBlock {
  static constexpr std::size_t kSize = 4096;    // the hive bins start here
  static constexpr std::size_t kChecked = 512;  // the part a log keeps and the checksum covers
  static constexpr std::size_t kChecksumAt = 508;
  static constexpr std::uint32_t kPrimary = 0;
  static constexpr std::uint32_t kOldLog1 = 1;
  static constexpr std::uint32_t kOldLog2 = 2;
  static constexpr std::uint32_t kNewLog = 6;

  std::uint32_t primarySequence = 0;
  std::uint32_t secondarySequence = 0;
  std::uint64_t lastWritten = 0;
  std::uint32_t fileType = 0;
  std::uint32_t hiveBinsSize = 0;
  bool checksumValid = false;

  // None when the bytes are too short or do not start with "regf".
  [[nodiscard]] static std::optional<HiveBaseBlock> Parse(std::string_view bytes);
  // The checksum of the first 508 bytes, as the format stores it.
  [[nodiscard]] static std::uint32_t Checksum(std::string_view bytes);
  // Sets the sequence numbers, type and hive-bins size in a base block and its checksum anew.
  static void Seal(std::string& bytes, std::uint32_t sequence, std::uint32_t fileType,
                   std::uint32_t hiveBinsSize);

  // Windows did not finish writing the file: its logs may hold newer data.
  [[nodiscard]] bool Dirty() const noexcept {
    return !checksumValid || primarySequence != secondarySequence;
  }
};

}  // namespace lk
