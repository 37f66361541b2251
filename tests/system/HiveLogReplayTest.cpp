// The replay of a hive's transaction logs, checked against the test support's log writer and
// against hivex's reading of the replayed file: which entries apply, where the replay stops,
// and that hostile logs are refused without a crash.
#include "system/offline/HiveLogReplay.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "system/offline/Hive.h"
#include "system/offline/HiveBaseBlock.h"
#include "system/offline/Marvin32.h"
#include "tests/support/BlankHive.h"
#include "tests/support/HiveLogWriter.h"
#include "tests/support/WindowsTree.h"

namespace lk {
namespace {

using ::testing::HasSubstr;
using Outcome = HiveReplay::Outcome;

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A hive in three states, as a flush that reached only the logs leaves it: the primary as it was
// (dirty), and two later states that the logs hold.
class HiveStates : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        std::filesystem::temp_directory_path() /
        ("lk-replay-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
    path_ = (folder_ / "SYSTEM").string();
    ASSERT_TRUE(test::WriteBlankHive(path_));
    test::SetHiveFileValue(path_, "Select", "Current", 4, std::string("\1\0\0\0", 4));
    before = FileBytes(path_);
    test::SetHiveFileValue(path_, "ControlSet001\\Services\\winsys32", "ImagePath", 2,
                           test::HiveString("system32\\drivers\\winsys32.sys"));
    middle = FileBytes(path_);
    // Enough new keys to grow the hive by a bin.
    for (int i = 0; i < 80; ++i) {
      test::SetHiveFileValue(path_, "ControlSet001\\Services\\filler" + std::to_string(i),
                             "Description", 1, test::HiveString(std::string(40, 'x')));
    }
    after = FileBytes(path_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  // The primary as Windows leaves it dirty, its last complete write being sequence.
  [[nodiscard]] std::string DirtyPrimary(std::uint32_t sequence) const {
    return test::MarkDirty(before, sequence);
  }

  // Opens bytes through hivex, as the offline system would; null when hivex refuses them.
  [[nodiscard]] std::unique_ptr<Hive> OpenThroughHivex(std::string_view bytes) const {
    const std::string path = (folder_ / "replayed").string();
    WriteBytes(path, bytes);
    std::string error;
    auto hive = Hive::Open(path, &error);
    EXPECT_TRUE(hive) << error;
    return hive;
  }

  [[nodiscard]] bool KeyIn(std::string_view bytes, const Hive::KeyPath& key) const {
    auto hive = OpenThroughHivex(bytes);
    Hive::Node node = 0;
    return hive && hive->Find(key, &node) == 0;
  }

  std::filesystem::path folder_;
  std::string path_;
  std::string before;
  std::string middle;
  std::string after;
};

const Hive::KeyPath kService{"ControlSet001", "Services", "winsys32"};
const Hive::KeyPath kFiller{"ControlSet001", "Services", "filler79"};

// The hive bins of a replayed hive are those of the state the writer logged.
std::string_view Bins(std::string_view hive) {
  return hive.substr(HiveBaseBlock::kSize, test::HiveBinsSize(hive));
}

TEST(Marvin32Hash, MatchesThePublishedTestVectors) {
  constexpr std::uint64_t kSeed = 0x004FB61A001BDBCCULL;
  EXPECT_EQ(Marvin32::Hash("", kSeed), 0x30ED35C100CD3C7DULL);
  EXPECT_EQ(Marvin32::Hash("\xAF", kSeed), 0x48E73FC77D75DDC1ULL);
  EXPECT_EQ(Marvin32::Hash("\xE7\x0F", kSeed), 0xB5F6E1FC485DBFF8ULL);
  EXPECT_EQ(Marvin32::Hash("\x37\xF4\x95", kSeed), 0xF0B07C789B8CF7E8ULL);
  EXPECT_EQ(Marvin32::Hash("\x86\x42\xDC\x59", kSeed), 0x7008F2E87E9CF556ULL);
  EXPECT_EQ(Marvin32::Hash("\xAB\x42\x7E\xA8\xD1\x0F\xC7", kSeed), 0xE11847E4F0678C41ULL);
}

TEST_F(HiveStates, ACleanPrimaryIgnoresItsLogs) {
  test::NewFormatLog log(before, 7);
  log.Add(7, test::HiveBinsSize(middle), test::ChangedPages(before, middle));
  const HiveReplay replay = HiveLogReplay::Run(before, {{"SYSTEM.LOG1", log.Bytes()}});
  EXPECT_EQ(replay.outcome, Outcome::Clean);
}

TEST_F(HiveStates, OneLogBringsThePrimaryToTheLoggedState) {
  test::NewFormatLog log(before, 5);
  log.Add(5, test::HiveBinsSize(middle), test::ChangedPages(before, middle));
  const HiveReplay replay = HiveLogReplay::Run(DirtyPrimary(5), {{"SYSTEM.LOG1", log.Bytes()}});
  ASSERT_EQ(replay.outcome, Outcome::Replayed) << replay.failure;
  EXPECT_EQ(Bins(replay.hive), Bins(middle));
  EXPECT_THAT(replay.applied, HasSubstr("SYSTEM.LOG1 Eintrag 5"));
  const auto block = HiveBaseBlock::Parse(replay.hive);
  ASSERT_TRUE(block);
  EXPECT_FALSE(block->Dirty()) << "the replayed hive has a clean base block";
  EXPECT_EQ(block->primarySequence, 5U);
  EXPECT_TRUE(KeyIn(replay.hive, kService));
  EXPECT_FALSE(KeyIn(DirtyPrimary(5), kService)) << "the primary alone lacks the key";
}

TEST_F(HiveStates, BothLogsApplyInSequenceOrderAndTheHiveGrows) {
  test::NewFormatLog log1(before, 5);
  log1.Add(5, test::HiveBinsSize(middle), test::ChangedPages(before, middle));
  test::NewFormatLog log2(middle, 6);
  log2.Add(6, test::HiveBinsSize(after), test::ChangedPages(middle, after));
  // The logs in either order on the folder: the sequence numbers decide.
  const HiveReplay replay = HiveLogReplay::Run(
      DirtyPrimary(5), {{"SYSTEM.LOG2", log2.Bytes()}, {"SYSTEM.LOG1", log1.Bytes()}});
  ASSERT_EQ(replay.outcome, Outcome::Replayed) << replay.failure;
  ASSERT_GT(test::HiveBinsSize(after), test::HiveBinsSize(middle));
  EXPECT_EQ(replay.hive.size(), HiveBaseBlock::kSize + test::HiveBinsSize(after));
  EXPECT_EQ(Bins(replay.hive), Bins(after));
  EXPECT_EQ(replay.applied, "SYSTEM.LOG1 Eintrag 5, SYSTEM.LOG2 Eintrag 6");
  EXPECT_TRUE(KeyIn(replay.hive, kFiller));
}

TEST_F(HiveStates, AnEntryWithABadHashEndsTheReplay) {
  test::NewFormatLog log(before, 5);
  log.Add(5, test::HiveBinsSize(middle), test::ChangedPages(before, middle));
  log.Add(6, test::HiveBinsSize(after), test::ChangedPages(middle, after));
  std::string& bytes = log.Bytes();
  bytes[bytes.size() - 1] = static_cast<char>(bytes[bytes.size() - 1] ^ 0x55);
  const HiveReplay replay = HiveLogReplay::Run(DirtyPrimary(5), {{"SYSTEM.LOG1", bytes}});
  ASSERT_EQ(replay.outcome, Outcome::Replayed) << replay.failure;
  EXPECT_EQ(replay.applied, "SYSTEM.LOG1 Eintrag 5");
  EXPECT_EQ(Bins(replay.hive), Bins(middle));
}

TEST_F(HiveStates, ASequenceGapBeforeTheFirstEntryFailsTheReplay) {
  test::NewFormatLog log(before, 8);
  log.Add(8, test::HiveBinsSize(middle), test::ChangedPages(before, middle));
  const HiveReplay replay = HiveLogReplay::Run(DirtyPrimary(5), {{"SYSTEM.LOG1", log.Bytes()}});
  EXPECT_EQ(replay.outcome, Outcome::Failed);
  EXPECT_THAT(replay.failure, HasSubstr("Lücke"));
}

TEST_F(HiveStates, ASequenceGapBetweenEntriesStopsTheReplayThere) {
  test::NewFormatLog log(before, 5);
  log.Add(5, test::HiveBinsSize(middle), test::ChangedPages(before, middle));
  log.Add(7, test::HiveBinsSize(after), test::ChangedPages(middle, after));
  const HiveReplay replay = HiveLogReplay::Run(DirtyPrimary(5), {{"SYSTEM.LOG1", log.Bytes()}});
  ASSERT_EQ(replay.outcome, Outcome::Replayed);
  EXPECT_EQ(replay.applied, "SYSTEM.LOG1 Eintrag 5");
}

TEST_F(HiveStates, OldEntriesAreSkippedAndTheSequenceNumberMayWrap) {
  test::NewFormatLog log(before, 0xFFFFFFF0U);
  log.Add(0xFFFFFFF0U, test::HiveBinsSize(before),
          test::ChangedPages(before, before));  // already in the primary
  log.Add(0xFFFFFFFFU, test::HiveBinsSize(middle), test::ChangedPages(before, middle));
  log.Add(0, test::HiveBinsSize(after), test::ChangedPages(middle, after));
  const HiveReplay replay =
      HiveLogReplay::Run(DirtyPrimary(0xFFFFFFFFU), {{"SYSTEM.LOG1", log.Bytes()}});
  ASSERT_EQ(replay.outcome, Outcome::Replayed) << replay.failure;
  EXPECT_EQ(replay.applied, "SYSTEM.LOG1 Einträge 4294967295 bis 0");
  EXPECT_EQ(Bins(replay.hive), Bins(after));
}

TEST_F(HiveStates, ABrokenPrimaryBaseBlockTakesTheLatestLogOnly) {
  std::string primary = DirtyPrimary(5);
  primary[100] = static_cast<char>(primary[100] ^ 1);  // the checksum no longer holds
  test::NewFormatLog older(before, 3);
  older.Add(3, test::HiveBinsSize(after),
            test::ChangedPages(before, after));  // would add the filler keys
  test::NewFormatLog latest(before, 5);
  latest.Add(5, test::HiveBinsSize(middle), test::ChangedPages(before, middle));
  const HiveReplay replay = HiveLogReplay::Run(
      primary, {{"SYSTEM.LOG1", older.Bytes()}, {"SYSTEM.LOG2", latest.Bytes()}});
  ASSERT_EQ(replay.outcome, Outcome::Replayed) << replay.failure;
  EXPECT_EQ(replay.applied, "SYSTEM.LOG2 Eintrag 5");
  EXPECT_EQ(Bins(replay.hive), Bins(middle));
  EXPECT_TRUE(KeyIn(replay.hive, kService));
  EXPECT_FALSE(KeyIn(replay.hive, kFiller));
}

TEST_F(HiveStates, AnOldFormatLogAppliesWhenItsTimestampIsThePrimarys) {
  const std::string primary = DirtyPrimary(5);
  const std::string log = test::OldFormatLog(primary, after, 6);
  const HiveReplay replay = HiveLogReplay::Run(primary, {{"SYSTEM.LOG", log}});
  ASSERT_EQ(replay.outcome, Outcome::Replayed) << replay.failure;
  EXPECT_EQ(Bins(replay.hive), Bins(after));
  EXPECT_TRUE(KeyIn(replay.hive, kFiller));

  std::string stale = log;
  stale[12] = static_cast<char>(stale[12] ^ 1);
  PutHiveDword(stale, HiveBaseBlock::kChecksumAt, HiveBaseBlock::Checksum(stale));
  EXPECT_EQ(HiveLogReplay::Run(primary, {{"SYSTEM.LOG", stale}}).outcome, Outcome::Failed)
      << "a log written at another time than the primary does not apply";
}

TEST_F(HiveStates, ADirtyHiveWithoutUsableLogsFails) {
  EXPECT_EQ(HiveLogReplay::Run(DirtyPrimary(5), {}).outcome, Outcome::Failed);
  EXPECT_EQ(HiveLogReplay::Run(DirtyPrimary(5), {{"SYSTEM.LOG1", "regf"}}).outcome,
            Outcome::Failed);
}

// Hostile logs: every mutation of a valid pair of logs is either refused or replayed into a
// hive of bounded size, and nothing reads outside the bytes (ASan and UBSan watch).
TEST_F(HiveStates, MutatedLogsNeverCrashTheReader) {
  test::NewFormatLog log1(before, 5);
  log1.Add(5, test::HiveBinsSize(middle), test::ChangedPages(before, middle));
  test::NewFormatLog log2(middle, 6);
  log2.Add(6, test::HiveBinsSize(after), test::ChangedPages(middle, after));
  const std::string old = test::OldFormatLog(DirtyPrimary(5), after, 6);
  std::mt19937 random(20261210);
  for (int round = 0; round < 300; ++round) {
    std::vector<HiveLogFile> logs{
        {"SYSTEM.LOG1", log1.Bytes()}, {"SYSTEM.LOG2", log2.Bytes()}, {"SYSTEM.LOG", old}};
    HiveLogFile& target = logs[random() % logs.size()];
    const int flips = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < flips; ++i) {
      // Mostly the headers, where the sizes, counts and offsets are.
      const std::size_t limit = random() % 2 == 0 ? std::min<std::size_t>(1200, target.bytes.size())
                                                  : target.bytes.size();
      target.bytes[random() % limit] = static_cast<char>(random());
    }
    if (random() % 5 == 0) target.bytes.resize(random() % target.bytes.size());
    std::string primary = DirtyPrimary(5);
    if (round % 7 == 0) primary[64] = static_cast<char>(primary[64] ^ 2);
    const HiveReplay replay = HiveLogReplay::Run(primary, logs);
    if (replay.outcome == Outcome::Replayed) {
      EXPECT_LE(replay.hive.size(), HiveBaseBlock::kSize + HiveLogReplay::kMaxHiveBinsSize);
    }
  }
}

}  // namespace
}  // namespace lk
