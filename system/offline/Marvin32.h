#pragma once
// The Marvin32 hash, as the registry's transaction logs use it to check their entries.
//
// It guarantees the 64-bit result that the log entries store (the two 32-bit halves of the
// state, low half first); it is a checksum against torn writes, not a defence against a forger.

#include <cstdint>
#include <string_view>

namespace lk {

class Marvin32 {
 public:
  // The seed with which every log entry is hashed.
  static constexpr std::uint64_t kLogSeed = 0xC5554E7A884DEF82ULL;

  [[nodiscard]] static std::uint64_t Hash(std::string_view data, std::uint64_t seed = kLogSeed);
};

}  // namespace lk
