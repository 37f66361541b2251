#include "tests/support/HiveLogWriter.h"

#include <algorithm>

#include "system/offline/HiveBaseBlock.h"
#include "system/offline/Marvin32.h"

namespace lk::test {

namespace {

constexpr std::size_t kBins = HiveBaseBlock::kSize;
constexpr std::size_t kSector = 512;

void PutQword(std::string& bytes, std::size_t at, std::uint64_t value) {
  PutHiveDword(bytes, at, static_cast<std::uint32_t>(value));
  PutHiveDword(bytes, at + 4, static_cast<std::uint32_t>(value >> 32U));
}

std::string LogBaseBlock(std::string_view hive, std::uint32_t sequence, std::uint32_t type) {
  std::string block(hive.substr(0, kSector));
  block.resize(kSector, '\0');
  HiveBaseBlock::Seal(block, sequence, type, HiveDword(block, 40));
  return block;
}

}  // namespace

std::vector<LogPage> ChangedPages(std::string_view before, std::string_view after,
                                  std::size_t pageSize) {
  std::vector<LogPage> pages;
  const std::size_t end = kBins + HiveBinsSize(after);
  for (std::size_t at = kBins; at + pageSize <= end && at + pageSize <= after.size();
       at += pageSize) {
    const std::string_view page = after.substr(at, pageSize);
    if (at + pageSize <= before.size() && before.substr(at, pageSize) == page) continue;
    pages.push_back({static_cast<std::uint32_t>(at - kBins), std::string(page)});
  }
  return pages;
}

std::uint32_t HiveBinsSize(std::string_view hive) { return HiveDword(hive, 40); }

std::string MarkDirty(std::string primary, std::uint32_t secondarySequence) {
  PutHiveDword(primary, 4, secondarySequence + 1);
  PutHiveDword(primary, 8, secondarySequence);
  PutHiveDword(primary, HiveBaseBlock::kChecksumAt, HiveBaseBlock::Checksum(primary));
  return primary;
}

NewFormatLog::NewFormatLog(std::string_view hive, std::uint32_t sequence)
    : bytes_(LogBaseBlock(hive, sequence, HiveBaseBlock::kNewLog)),
      hiveBinsSize_(HiveBinsSize(hive)) {}

NewFormatLog& NewFormatLog::Add(std::uint32_t sequence, std::uint32_t hiveBinsSize,
                                const std::vector<LogPage>& pages) {
  std::string entry(40, '\0');
  entry.replace(0, 4, "HvLE");
  PutHiveDword(entry, 8, 0);
  PutHiveDword(entry, 12, sequence);
  PutHiveDword(entry, 16, hiveBinsSize != 0 ? hiveBinsSize : hiveBinsSize_);
  PutHiveDword(entry, 20, static_cast<std::uint32_t>(pages.size()));
  for (const LogPage& page : pages) {
    std::string reference(8, '\0');
    PutHiveDword(reference, 0, page.offset);
    PutHiveDword(reference, 4, static_cast<std::uint32_t>(page.bytes.size()));
    entry += reference;
  }
  for (const LogPage& page : pages) entry += page.bytes;
  entry.resize((entry.size() + kSector - 1) / kSector * kSector, '\0');
  PutHiveDword(entry, 4, static_cast<std::uint32_t>(entry.size()));
  PutQword(entry, 24, Marvin32::Hash(std::string_view(entry).substr(40)));
  PutQword(entry, 32, Marvin32::Hash(std::string_view(entry).substr(0, 32)));
  lastEntry_ = bytes_.size();
  bytes_ += entry;
  return *this;
}

std::string OldFormatLog(std::string_view before, std::string_view after, std::uint32_t sequence) {
  std::string log(after.substr(0, kSector));
  log.resize(kSector, '\0');
  log.replace(12, 8, before.substr(12, 8));
  HiveBaseBlock::Seal(log, sequence, HiveBaseBlock::kOldLog1, HiveBinsSize(after));
  const std::size_t pageCount = HiveBinsSize(after) / kSector;
  std::string bitmap((pageCount + 7) / 8, '\0');
  std::string pages;
  for (std::size_t page = 0; page < pageCount; ++page) {
    const std::size_t at = kBins + page * kSector;
    const std::string_view bytes = after.substr(at, kSector);
    if (at + kSector <= before.size() && before.substr(at, kSector) == bytes) continue;
    bitmap[page / 8] =
        static_cast<char>(static_cast<unsigned char>(bitmap[page / 8]) | (1U << (page % 8)));
    pages += bytes;
  }
  std::string vector = "DIRT" + bitmap;
  vector.resize((vector.size() + kSector - 1) / kSector * kSector, '\0');
  return log + vector + pages;
}

}  // namespace lk::test
