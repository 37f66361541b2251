#include "system/offline/HiveLogReplay.h"

#include <optional>
#include <unordered_map>

#include "system/offline/HiveBaseBlock.h"
#include "system/offline/Marvin32.h"

namespace lk {

namespace {

constexpr std::size_t kSector = 512;
constexpr std::size_t kEntryHeader = 40;
constexpr std::uint32_t kBinAlignment = 4096;

struct Page {
  std::uint32_t offset = 0;  // relative to the hive bins
  std::size_t at = 0;        // in the log
  std::uint32_t size = 0;
};

struct Entry {
  std::uint32_t sequence = 0;
  std::uint32_t hiveBinsSize = 0;
  std::vector<Page> pages;
};

struct NewLog {
  const HiveLogFile* file = nullptr;
  HiveBaseBlock base;
  std::vector<Entry> entries;  // up to the first one that is not whole
  // The first entry of each sequence number: a hostile log may repeat or shuffle them, and a
  // search per switch between the logs would make the replay quadratic.
  std::unordered_map<std::uint32_t, std::size_t> bySequence;
};

// a comes at or after b in the wrapping sequence numbers.
bool SequenceAtLeast(std::uint32_t a, std::uint32_t b) {
  return static_cast<std::int32_t>(a - b) >= 0;
}

bool PlausibleHiveBinsSize(std::uint32_t size) {
  return size != 0 && size % kBinAlignment == 0 && size <= HiveLogReplay::kMaxHiveBinsSize;
}

// The entries of a new-format log, in file order, up to the first that is not whole: a wrong
// signature, size or hash, or a page that does not fit the entry or the hive.
std::vector<Entry> ReadEntries(std::string_view log) {
  std::vector<Entry> entries;
  std::size_t at = kSector;
  while (at <= log.size() && log.size() - at >= kEntryHeader) {
    if (log.substr(at, 4) != "HvLE") break;
    const std::uint32_t size = HiveDword(log, at + 4);
    if (size < kEntryHeader || size % kSector != 0 || size > log.size() - at) break;
    Entry entry;
    entry.sequence = HiveDword(log, at + 12);
    entry.hiveBinsSize = HiveDword(log, at + 16);
    if (!PlausibleHiveBinsSize(entry.hiveBinsSize)) break;
    const std::string_view whole = log.substr(at, size);
    if (Marvin32::Hash(whole.substr(kEntryHeader)) != HiveQword(log, at + 24) ||
        Marvin32::Hash(whole.substr(0, 32)) != HiveQword(log, at + 32)) {
      break;
    }
    const std::uint32_t count = HiveDword(log, at + 20);
    if (count > (size - kEntryHeader) / 8) break;
    std::size_t data = kEntryHeader + std::size_t{count} * 8;
    bool whole_pages = true;
    for (std::uint32_t i = 0; i < count && whole_pages; ++i) {
      Page page;
      page.offset = HiveDword(whole, kEntryHeader + std::size_t{i} * 8);
      page.size = HiveDword(whole, kEntryHeader + std::size_t{i} * 8 + 4);
      page.at = at + data;
      whole_pages = page.size != 0 && page.size % kSector == 0 && page.offset % kSector == 0 &&
                    std::uint64_t{page.offset} + page.size <= entry.hiveBinsSize &&
                    page.size <= size - data;
      data += page.size;
      entry.pages.push_back(page);
    }
    if (!whole_pages) break;
    entries.push_back(std::move(entry));
    at += size;
  }
  return entries;
}

// The hive bins follow each other without a gap, each where it says it is.
bool HiveBinsChained(std::string_view hive, std::uint32_t hiveBinsSize) {
  std::size_t at = 0;
  while (at < hiveBinsSize) {
    const std::size_t file = HiveBaseBlock::kSize + at;
    if (hive.size() < file + 32 || hive.substr(file, 4) != "hbin") return false;
    if (HiveDword(hive, file + 4) != at) return false;
    const std::uint32_t size = HiveDword(hive, file + 8);
    if (size < kBinAlignment || size % kBinAlignment != 0 || size > hiveBinsSize - at) return false;
    at += size;
  }
  return true;
}

std::string Range(const std::string& log, std::uint32_t first, std::uint32_t last) {
  if (first == last) return log + " Eintrag " + std::to_string(first);
  return log + " Einträge " + std::to_string(first) + " bis " + std::to_string(last);
}

// Applies entries to the image and keeps the text of what was applied.
class Applier {
 public:
  explicit Applier(std::string image) : image_(std::move(image)) {}

  void Apply(const NewLog& log, const Entry& entry) {
    image_.resize(HiveBaseBlock::kSize + entry.hiveBinsSize, '\0');
    for (const Page& page : entry.pages) {
      image_.replace(HiveBaseBlock::kSize + page.offset, page.size,
                     log.file->bytes.substr(page.at, page.size));
    }
    if (current_ != log.file) {
      Close();
      current_ = log.file;
      first_ = entry.sequence;
    }
    last_ = entry.sequence;
    hiveBinsSize_ = entry.hiveBinsSize;
    applied_ = true;
  }

  [[nodiscard]] bool Any() const noexcept { return applied_; }

  HiveReplay Finish() {
    Close();
    HiveBaseBlock::Seal(image_, last_, HiveBaseBlock::kPrimary, hiveBinsSize_);
    HiveReplay replay;
    replay.outcome = HiveReplay::Outcome::Replayed;
    replay.hive = std::move(image_);
    replay.applied = std::move(text_);
    return replay;
  }

 private:
  void Close() {
    if (current_ == nullptr) return;
    if (!text_.empty()) text_ += ", ";
    text_ += Range(current_->name, first_, last_);
  }

  std::string image_;
  std::string text_;
  const HiveLogFile* current_ = nullptr;
  std::uint32_t first_ = 0;
  std::uint32_t last_ = 0;
  std::uint32_t hiveBinsSize_ = 0;
  bool applied_ = false;
};

HiveReplay Failed(std::string why) {
  HiveReplay replay;
  replay.outcome = HiveReplay::Outcome::Failed;
  replay.failure = std::move(why);
  return replay;
}

// The index of the first entry at or after sequence, or none.
std::optional<std::size_t> FirstFrom(const NewLog& log, std::uint32_t sequence) {
  for (std::size_t i = 0; i < log.entries.size(); ++i) {
    if (SequenceAtLeast(log.entries[i].sequence, sequence)) return i;
  }
  return std::nullopt;
}

std::optional<std::size_t> Exactly(const NewLog& log, std::uint32_t sequence) {
  const auto found = log.bySequence.find(sequence);
  if (found == log.bySequence.end()) return std::nullopt;
  return found->second;
}

// A primary with an intact base block: its secondary sequence number is the last write that
// reached the file completely, so the entries from there on are applied, in turn from both
// logs. Applying an entry the file already holds again changes nothing (entries carry whole
// pages), so the first one may lie anywhere up to the primary sequence number; a first entry
// beyond it leaves a gap that the logs cannot fill.
HiveReplay ReplayOnIntactPrimary(std::string_view primary, const HiveBaseBlock& block,
                                 const std::vector<NewLog>& logs) {
  const std::uint32_t start = block.secondarySequence;
  const NewLog* current = nullptr;
  std::size_t index = 0;
  for (const NewLog& log : logs) {
    const std::optional<std::size_t> first = FirstFrom(log, start);
    if (!first) continue;
    if (current == nullptr ||
        log.entries[*first].sequence - start < current->entries[index].sequence - start) {
      current = &log;
      index = *first;
    }
  }
  if (current == nullptr) {
    return Failed("kein vollständiger Eintrag ab Folgenummer " + std::to_string(start) +
                  " in den Transaktionsprotokollen");
  }
  const std::uint32_t first = current->entries[index].sequence;
  if (first - start > block.primarySequence - start) {
    return Failed("Lücke in den Transaktionsprotokollen: Folgenummer " + std::to_string(start) +
                  " fehlt, der nächste Eintrag hat " + std::to_string(first));
  }
  Applier applier{std::string(primary)};
  std::size_t budget = 0;
  for (const NewLog& log : logs) budget += log.entries.size();
  std::uint32_t expected = first;
  while (budget-- > 0) {
    applier.Apply(*current, current->entries[index]);
    ++expected;
    if (index + 1 < current->entries.size() && current->entries[index + 1].sequence == expected) {
      ++index;
      continue;
    }
    const NewLog* next = nullptr;
    for (const NewLog& log : logs) {
      if (&log == current) continue;
      if (const std::optional<std::size_t> found = Exactly(log, expected)) {
        next = &log;
        index = *found;
        break;
      }
    }
    if (next == nullptr) break;
    current = next;
  }
  return applier.Finish();
}

// A primary whose base block is broken: the log with the latest entries brings its own base
// block, and only its entries apply, from that base block's sequence number on and without gaps.
HiveReplay ReplayOnBrokenPrimary(std::string_view primary, const std::vector<NewLog>& logs) {
  const NewLog* latest = nullptr;
  for (const NewLog& log : logs) {
    if (log.entries.empty()) continue;
    if (latest == nullptr ||
        !SequenceAtLeast(latest->entries.back().sequence, log.entries.back().sequence)) {
      latest = &log;
    }
  }
  if (latest == nullptr) {
    return Failed("der Kopfblock ist beschädigt und kein Transaktionsprotokoll hat Einträge");
  }
  const std::uint32_t start = latest->base.primarySequence;
  const std::optional<std::size_t> first = Exactly(*latest, start);
  if (!first) {
    return Failed("der Kopfblock ist beschädigt und " + latest->file->name +
                  " hat keinen Eintrag mit Folgenummer " + std::to_string(start));
  }
  std::string image(primary);
  if (image.size() < HiveBaseBlock::kSize) image.resize(HiveBaseBlock::kSize, '\0');
  image.replace(0, HiveBaseBlock::kChecked, latest->file->bytes.substr(0, HiveBaseBlock::kChecked));
  Applier applier(std::move(image));
  std::uint32_t expected = start;
  for (std::size_t i = *first; i < latest->entries.size(); ++i, ++expected) {
    if (latest->entries[i].sequence != expected) break;
    applier.Apply(*latest, latest->entries[i]);
  }
  return applier.Finish();
}

// Old-format logs: the first whose base block is whole and was written together with the
// primary (same timestamp) brings its dirty pages; a hive bin that does not fit stops it.
HiveReplay ReplayOldFormat(std::string_view primary, const std::optional<HiveBaseBlock>& block,
                           const std::vector<const HiveLogFile*>& logs) {
  std::optional<std::uint64_t> timestamp;
  if (block && block->checksumValid) {
    timestamp = block->lastWritten;
  } else if (primary.size() >= HiveBaseBlock::kSize + 32 &&
             primary.substr(HiveBaseBlock::kSize, 4) == "hbin") {
    timestamp = HiveQword(primary, HiveBaseBlock::kSize + 20);
  }
  if (!timestamp) return Failed("weder Kopfblock noch erster Hive-Bin lesbar");
  std::string why = "kein Transaktionsprotokoll passt zum Zeitstempel der Datei";
  for (const HiveLogFile* log : logs) {
    const std::optional<HiveBaseBlock> base = HiveBaseBlock::Parse(log->bytes);
    if (!base || !base->checksumValid || base->primarySequence != base->secondarySequence ||
        base->lastWritten != *timestamp) {
      continue;
    }
    const std::uint32_t size = base->hiveBinsSize;
    const std::string_view bytes = log->bytes;
    const std::size_t bitmapBytes = (std::size_t{size} / kSector + 7) / 8;
    if (!PlausibleHiveBinsSize(size) || bytes.size() < kSector + 4 + bitmapBytes ||
        bytes.substr(kSector, 4) != "DIRT") {
      why = log->name + ": kein gültiger Vektor der geänderten Seiten";
      continue;
    }
    const std::size_t pagesAt = kSector + (4 + bitmapBytes + kSector - 1) / kSector * kSector;
    std::string image(primary);
    image.resize(HiveBaseBlock::kSize + size, '\0');
    image.replace(0, HiveBaseBlock::kChecked, bytes.substr(0, HiveBaseBlock::kChecked));
    std::size_t pages = 0;
    bool fits = true;
    for (std::size_t bit = 0; bit < size / kSector && fits; ++bit) {
      const auto byte = static_cast<unsigned char>(bytes[kSector + 4 + bit / 8]);
      if ((byte & (1U << (bit % 8))) == 0) continue;
      const std::size_t from = pagesAt + pages * kSector;
      fits = from <= bytes.size() && bytes.size() - from >= kSector;
      if (fits)
        image.replace(HiveBaseBlock::kSize + bit * kSector, kSector, bytes.substr(from, kSector));
      ++pages;
    }
    if (!fits || !HiveBinsChained(image, size)) {
      why = log->name + ": die geänderten Seiten passen nicht zur Datei";
      continue;
    }
    HiveBaseBlock::Seal(image, base->primarySequence, HiveBaseBlock::kPrimary, size);
    HiveReplay replay;
    replay.outcome = HiveReplay::Outcome::Replayed;
    replay.hive = std::move(image);
    replay.applied = log->name + " (" + std::to_string(pages) + " Seiten)";
    return replay;
  }
  return Failed(why);
}

}  // namespace

HiveReplay HiveLogReplay::Run(std::string_view primary, const std::vector<HiveLogFile>& logs) {
  const std::optional<HiveBaseBlock> block = HiveBaseBlock::Parse(primary);
  if (block && !block->Dirty()) return {};
  std::vector<NewLog> newLogs;
  std::vector<const HiveLogFile*> oldLogs;
  for (const HiveLogFile& log : logs) {
    const std::optional<HiveBaseBlock> base = HiveBaseBlock::Parse(log.bytes);
    if (!base || !base->checksumValid) continue;
    if (base->fileType == HiveBaseBlock::kNewLog) {
      NewLog read{&log, *base, ReadEntries(log.bytes), {}};
      for (std::size_t i = 0; i < read.entries.size(); ++i) {
        read.bySequence.emplace(read.entries[i].sequence, i);
      }
      newLogs.push_back(std::move(read));
    } else if (base->fileType == HiveBaseBlock::kOldLog1 ||
               base->fileType == HiveBaseBlock::kOldLog2) {
      oldLogs.push_back(&log);
    }
  }
  if (newLogs.empty() && oldLogs.empty()) {
    return Failed(logs.empty() ? "keine Transaktionsprotokolle (.LOG1/.LOG2) vorhanden"
                               : "kein Transaktionsprotokoll hat einen gültigen Kopfblock");
  }
  if (newLogs.empty()) return ReplayOldFormat(primary, block, oldLogs);
  if (block && block->checksumValid) return ReplayOnIntactPrimary(primary, *block, newLogs);
  return ReplayOnBrokenPrimary(primary, newLogs);
}

}  // namespace lk
