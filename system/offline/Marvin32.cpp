#include "system/offline/Marvin32.h"

#include <bit>

namespace lk {

namespace {

void Mix(std::uint32_t& low, std::uint32_t& high) {
  high ^= low;
  low = std::rotl(low, 20);
  low += high;
  high = std::rotl(high, 9);
  high ^= low;
  low = std::rotl(low, 27);
  low += high;
  high = std::rotl(high, 19);
}

std::uint32_t Byte(std::string_view data, std::size_t at) {
  return static_cast<unsigned char>(data[at]);
}

}  // namespace

std::uint64_t Marvin32::Hash(std::string_view data, std::uint64_t seed) {
  auto low = static_cast<std::uint32_t>(seed);
  auto high = static_cast<std::uint32_t>(seed >> 32U);
  std::size_t at = 0;
  for (; data.size() - at >= 4; at += 4) {
    low += Byte(data, at) | (Byte(data, at + 1) << 8U) | (Byte(data, at + 2) << 16U) |
           (Byte(data, at + 3) << 24U);
    Mix(low, high);
  }
  // The tail of up to three bytes, closed by a single 0x80 byte.
  std::uint32_t last = 0x80;
  for (std::size_t i = data.size(); i-- > at;) last = (last << 8U) | Byte(data, i);
  low += last;
  Mix(low, high);
  Mix(low, high);
  return (static_cast<std::uint64_t>(high) << 32U) | low;
}

}  // namespace lk
