#pragma once
// Writes the smallest registry hive file that hivex accepts: a base block with its checksum, one
// hive bin holding a root key and its security cell, the rest of the bin one free cell. hivex
// cannot create a hive; the tests create this one and fill it through hivex.
//
// The layout follows the public description of the regf format.

#include <cstdint>
#include <string>
#include <string_view>

namespace lk::test {

// The bytes of a blank hive whose root key is named rootName (ASCII).
[[nodiscard]] std::string BlankHiveBytes(std::string_view rootName = "ROOT");
// Writes them to hostPath; false when the file cannot be written.
[[nodiscard]] bool WriteBlankHive(const std::string& hostPath, std::string_view rootName = "ROOT");

// The base block's checksum: the XOR of its first 127 dwords, with 0xFFFFFFFF and 0 avoided.
[[nodiscard]] std::uint32_t BaseBlockChecksum(std::string_view baseBlock);

// Little-endian helpers for tests that damage hives on purpose.
[[nodiscard]] std::uint32_t ReadDword(std::string_view bytes, std::size_t at);
void WriteDword(std::string& bytes, std::size_t at, std::uint32_t value);

// Offsets in a hive file.
inline constexpr std::size_t kBaseBlockSize = 4096;
inline constexpr std::size_t kRootCellOffsetField = 36;  // relative to the first hive bin
inline constexpr std::size_t kChecksumField = 508;

}  // namespace lk::test
