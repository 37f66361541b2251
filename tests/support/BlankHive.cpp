#include "tests/support/BlankHive.h"

#include <fstream>

namespace lk::test {

namespace {

constexpr std::size_t kBinSize = 4096;
constexpr std::size_t kBinHeaderSize = 32;
constexpr std::uint32_t kNone = 0xFFFFFFFFU;

void WriteWord(std::string& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<char>(value & 0xFFU);
  bytes[at + 1] = static_cast<char>((value >> 8U) & 0xFFU);
}

void WriteSize(std::string& bytes, std::size_t at, std::int32_t size) {
  WriteDword(bytes, at, static_cast<std::uint32_t>(size));
}

constexpr std::size_t RoundUp8(std::size_t size) { return (size + 7U) & ~std::size_t{7}; }

}  // namespace

std::uint32_t ReadDword(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 4; i-- > 0;) {
    value = (value << 8U) | static_cast<unsigned char>(bytes[at + i]);
  }
  return value;
}

void WriteDword(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFFU);
}

std::uint32_t BaseBlockChecksum(std::string_view baseBlock) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 127; ++i) sum ^= ReadDword(baseBlock, i * 4);
  if (sum == 0xFFFFFFFFU) return 0xFFFFFFFEU;
  if (sum == 0) return 1;
  return sum;
}

std::string BlankHiveBytes(std::string_view rootName) {
  std::string bytes(kBaseBlockSize + kBinSize, '\0');

  // The cells, offsets relative to the first bin: the root key, then its security cell.
  constexpr std::size_t kNkFixedSize = 4 + 0x4C;
  const std::size_t rootCell = kBinHeaderSize;
  const std::size_t rootSize = RoundUp8(kNkFixedSize + rootName.size());
  const std::size_t securityCell = rootCell + rootSize;
  constexpr std::size_t kSecurityDescriptorSize = 20;
  const std::size_t securitySize = RoundUp8(4 + 20 + kSecurityDescriptorSize);
  const std::size_t freeCell = securityCell + securitySize;

  // Base block.
  bytes.replace(0, 4, "regf");
  WriteDword(bytes, 4, 1);  // both sequence numbers alike: a clean hive
  WriteDword(bytes, 8, 1);
  WriteDword(bytes, 20, 1);  // major version
  WriteDword(bytes, 24, 3);  // minor version
  WriteDword(bytes, 28, 0);  // primary file
  WriteDword(bytes, 32, 1);  // direct memory load
  WriteDword(bytes, kRootCellOffsetField, static_cast<std::uint32_t>(rootCell));
  WriteDword(bytes, 40, static_cast<std::uint32_t>(kBinSize));
  WriteDword(bytes, 44, 1);  // clustering factor

  // The hive bin.
  std::string& b = bytes;
  const std::size_t bin = kBaseBlockSize;
  b.replace(bin, 4, "hbin");
  WriteDword(b, bin + 4, 0);
  WriteDword(b, bin + 8, static_cast<std::uint32_t>(kBinSize));

  // Root key: hive entry, no delete, ASCII name.
  const std::size_t nk = bin + rootCell;
  WriteSize(b, nk, -static_cast<std::int32_t>(rootSize));
  b.replace(nk + 4, 2, "nk");
  WriteWord(b, nk + 4 + 0x02, 0x2C);
  WriteDword(b, nk + 4 + 0x10, kNone);  // parent
  WriteDword(b, nk + 4 + 0x1C, kNone);  // subkey list
  WriteDword(b, nk + 4 + 0x20, kNone);  // volatile subkey list
  WriteDword(b, nk + 4 + 0x28, kNone);  // value list
  WriteDword(b, nk + 4 + 0x2C, static_cast<std::uint32_t>(securityCell));
  WriteDword(b, nk + 4 + 0x30, kNone);  // class name
  WriteWord(b, nk + 4 + 0x48, static_cast<std::uint16_t>(rootName.size()));
  b.replace(nk + 4 + 0x4C, rootName.size(), rootName);

  // Security cell: a list of one, referenced once, with an empty self-relative descriptor.
  const std::size_t sk = bin + securityCell;
  WriteSize(b, sk, -static_cast<std::int32_t>(securitySize));
  b.replace(sk + 4, 2, "sk");
  WriteDword(b, sk + 8, static_cast<std::uint32_t>(securityCell));   // flink
  WriteDword(b, sk + 12, static_cast<std::uint32_t>(securityCell));  // blink
  WriteDword(b, sk + 16, 1);                                         // reference count
  WriteDword(b, sk + 20, static_cast<std::uint32_t>(kSecurityDescriptorSize));
  b[sk + 24] = 1;                 // revision
  WriteWord(b, sk + 26, 0x8004);  // self-relative, DACL present

  // The rest of the bin is free.
  WriteSize(b, bin + freeCell, static_cast<std::int32_t>(kBinSize - freeCell));

  WriteDword(bytes, kChecksumField, BaseBlockChecksum(bytes));
  return bytes;
}

bool WriteBlankHive(const std::string& hostPath, std::string_view rootName) {
  std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
  const std::string bytes = BlankHiveBytes(rootName);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

}  // namespace lk::test
