#include "system/offline/HiveBaseBlock.h"

namespace lk {

std::uint32_t HiveDword(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 4; i-- > 0;) {
    value = (value << 8U) | static_cast<unsigned char>(bytes[at + i]);
  }
  return value;
}

std::uint64_t HiveQword(std::string_view bytes, std::size_t at) {
  return HiveDword(bytes, at) | (static_cast<std::uint64_t>(HiveDword(bytes, at + 4)) << 32U);
}

void PutHiveDword(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[at + i] = static_cast<char>((value >> (8U * i)) & 0xFFU);
  }
}

std::optional<HiveBaseBlock> HiveBaseBlock::Parse(std::string_view bytes) {
  if (bytes.size() < kChecked || bytes.substr(0, 4) != "regf") return std::nullopt;
  HiveBaseBlock block;
  block.primarySequence = HiveDword(bytes, 4);
  block.secondarySequence = HiveDword(bytes, 8);
  block.lastWritten = HiveQword(bytes, 12);
  block.fileType = HiveDword(bytes, 28);
  block.hiveBinsSize = HiveDword(bytes, 40);
  block.checksumValid = Checksum(bytes) == HiveDword(bytes, kChecksumAt);
  return block;
}

std::uint32_t HiveBaseBlock::Checksum(std::string_view bytes) {
  std::uint32_t sum = 0;
  for (std::size_t at = 0; at < kChecksumAt; at += 4) sum ^= HiveDword(bytes, at);
  if (sum == 0xFFFFFFFFU) return 0xFFFFFFFEU;
  if (sum == 0) return 1;
  return sum;
}

void HiveBaseBlock::Seal(std::string& bytes, std::uint32_t sequence, std::uint32_t fileType,
                         std::uint32_t hiveBinsSize) {
  PutHiveDword(bytes, 4, sequence);
  PutHiveDword(bytes, 8, sequence);
  PutHiveDword(bytes, 28, fileType);
  PutHiveDword(bytes, 40, hiveBinsSize);
  PutHiveDword(bytes, kChecksumAt, Checksum(bytes));
}

}  // namespace lk
