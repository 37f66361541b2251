// lkscan --image and --list: the program itself over disk images made from the Windows-like
// test installation, in every format, with the states that make a volume untrustworthy and the
// damage a hostile or broken image can carry.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>

#include "tests/support/WindowsTree.h"
#include "tests/system/image/ImageFixture.h"

namespace lk {
namespace {

using test::HiveName;
using test::ImageFolder;
using test::WindowsTree;
using test::WithoutVolumes;

void SetVersion(WindowsTree& tree) {
  tree.SetString(HiveName::Software, "Microsoft\\Windows NT\\CurrentVersion", "ProductName",
                 "Windows 10 Pro");
  tree.SetString(HiveName::Software, "Microsoft\\Windows NT\\CurrentVersion", "CurrentBuild",
                 "19045");
}

// One infected and one clean installation, shared by the tests (making images takes a while).
class ImageScan : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    infected_ = new WindowsTree();
    SetVersion(*infected_);
    infected_->InstallKnownVersion();
    clean_ = new WindowsTree();
    SetVersion(*clean_);
  }
  static void TearDownTestSuite() {
    delete infected_;
    delete clean_;
  }
  static WindowsTree* infected_;
  static WindowsTree* clean_;
  ImageFolder images_;
};

WindowsTree* ImageScan::infected_ = nullptr;
WindowsTree* ImageScan::clean_ = nullptr;

TEST_F(ImageScan, FindingsOnEveryFormatEqualTheRootScanAndTheImageStaysUnchanged) {
  const ScanRun root = RunLkScan({"--json", "--root", infected_->Root()});
  ASSERT_EQ(root.exitCode, 1) << root.err;
  ASSERT_FALSE(root.Findings("sweep-library").empty());
  const struct {
    const char* name;
    std::vector<std::string> options;
    int partition;
  } cases[] = {
      {"gpt.raw", {"--table", "gpt"}, 2},     {"mbr.raw", {"--table", "mbr"}, 1},
      {"bare.raw", {"--table", "none"}, 0},   {"split.raw", {"--format", "split"}, 2},
      {"disk.vhd", {"--format", "vhd"}, 2},   {"disk.vhdx", {"--format", "vhdx"}, 2},
      {"disk.vmdk", {"--format", "vmdk"}, 2}, {"disk.E01", {"--format", "e01"}, 2},
  };
  for (const auto& format : cases) {
    SCOPED_TRACE(format.name);
    const std::string image = images_.Make(infected_->Root(), format.name, format.options);
    const auto before = images_.Digests();
    const ScanRun run = RunLkScan({"--json", "--image", image});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(WithoutVolumes(run), root.records);
    const std::vector<Json> volumes = run.OfType("volume");
    ASSERT_EQ(volumes.size(), 1U);
    EXPECT_EQ(volumes[0]["partition"], format.partition);
    EXPECT_EQ(volumes[0]["filesystem"], "ntfs");
    EXPECT_EQ(volumes[0]["label"], "Windows");
    EXPECT_TRUE(
        std::regex_match(volumes[0]["serial"].get<std::string>(), std::regex("[0-9A-F]{16}")));
    EXPECT_EQ(images_.Digests(), before) << "the image was changed";
  }
}

TEST_F(ImageScan, ACleanImageExitsZeroLikeTheRootScan) {
  const std::string image = images_.Make(clean_->Root(), "clean.raw", {"--table", "mbr"});
  const ScanRun root = RunLkScan({"--json", "--root", clean_->Root()});
  const ScanRun run = RunLkScan({"--json", "--image", image});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(root.exitCode, 0);
  EXPECT_EQ(WithoutVolumes(run), root.records);
  EXPECT_GT(run.Summary()["files_examined"].get<int>(), 0);
}

TEST_F(ImageScan, PartitionPicksOneVolumeAndOneWithoutNtfsOrMissingExitsTwo) {
  const std::string image = images_.Make(infected_->Root(), "gpt.raw", {});
  const ScanRun chosen = RunLkScan({"--json", "--no-sweep", "--image", image, "--partition", "2"});
  EXPECT_EQ(chosen.exitCode, 1) << chosen.err;
  ASSERT_EQ(chosen.OfType("volume").size(), 1U);
  EXPECT_EQ(chosen.OfType("volume")[0]["offset"], 2 * 1024 * 1024);

  const ScanRun reserved = RunLkScan({"--json", "--image", image, "--partition", "1"});
  EXPECT_EQ(reserved.exitCode, 2);
  EXPECT_NE(reserved.err.find("partition 1 holds no NTFS volume"), std::string::npos)
      << reserved.err;
  EXPECT_TRUE(reserved.OfType("finding").empty());
  EXPECT_EQ(reserved.Summary()["exit_code"], 2);

  const ScanRun missing = RunLkScan({"--image", image, "--partition", "9"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("there is no partition 9"), std::string::npos) << missing.err;

  const ScanRun withoutImage = RunLkScan({"--root", infected_->Root(), "--partition", "2"});
  EXPECT_EQ(withoutImage.exitCode, 2);
}

TEST_F(ImageScan, RemoveAndRestoreAreRefusedBeforeAnythingIsRead) {
  const std::string image = images_.Make(infected_->Root(), "gpt.raw", {});
  const auto before = images_.Digests();
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--json", "--image", image, "--remove"},
        std::vector<std::string>{"--json", "--image", image, "--restore", images_.Path("q")}}) {
    const ScanRun run = RunLkScan(args);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("lkscan --root MOUNTPOINT --remove"), std::string::npos) << run.err;
    EXPECT_TRUE(run.records.empty());
  }
  EXPECT_EQ(images_.Digests(), before);
}

TEST_F(ImageScan, ABitLockerVolumeIsReportedWithHowToUnlockItAndNeverAsClean) {
  const std::string image = images_.Make(clean_->Root(), "bitlocker.raw", {"--bitlocker"});
  const ScanRun run = RunLkScan({"--json", "--image", image});
  EXPECT_EQ(run.exitCode, 2);
  ASSERT_EQ(run.OfType("volume").size(), 1U);
  EXPECT_EQ(run.OfType("volume")[0]["filesystem"], "bitlocker");
  const std::vector<Json> skipped = run.OfType("skipped");
  ASSERT_EQ(skipped.size(), 1U);
  const std::string reason = skipped[0]["reason"];
  EXPECT_NE(reason.find("BitLocker"), std::string::npos);
  EXPECT_NE(reason.find("dislocker"), std::string::npos);
  EXPECT_NE(reason.find("bdemount"), std::string::npos);
  EXPECT_EQ(run.Summary()["exit_code"], 2);

  const ScanRun listed = RunLkScan({"--json", "--list", "--image", image});
  EXPECT_EQ(listed.exitCode, 0);
  const std::vector<Json> installations = listed.OfType("installation");
  ASSERT_EQ(installations.size(), 1U);
  EXPECT_EQ(installations[0]["bitlocker"], true);
  EXPECT_EQ(installations[0]["examinable"], false);
  EXPECT_TRUE(installations[0]["reason"].is_string());
}

TEST_F(ImageScan, AHibernatedVolumeGetsTheRemedyAndItsRemovalUnderRootIsRefused) {
  const std::string image = images_.Make(infected_->Root(), "hibernated.raw", {"--hibernated"});
  const ScanRun run = RunLkScan({"--json", "--no-sweep", "--image", image});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  bool noted = false;
  for (const Json& note : run.OfType("note")) {
    if (note["topic"] != "hibernation") continue;
    const std::string text = note["text"];
    noted = text.find("shutdown /s /t 0") != std::string::npos &&
            text.find("Fast Startup") != std::string::npos;
  }
  EXPECT_TRUE(noted);
  const ScanRun listed = RunLkScan({"--json", "--list", "--image", image});
  ASSERT_EQ(listed.OfType("installation").size(), 1U);
  EXPECT_EQ(listed.OfType("installation")[0]["hibernated"], true);

  // The same state under --root: the removal is refused before anything changes.
  WindowsTree tree;
  tree.InstallKnownVersion();
  tree.WriteFile("hiberfil.sys", std::string("HIBR") + std::string(8188, '\x5a'));
  const auto before = tree.Fingerprint();
  const ScanRun removal = RunLkScan({"--json", "--root", tree.Root(), "--remove"});
  EXPECT_EQ(removal.exitCode, 2);
  EXPECT_NE(removal.err.find("hibernated"), std::string::npos) << removal.err;
  EXPECT_TRUE(removal.OfType("finding").empty());
  EXPECT_EQ(tree.Fingerprint(), before);

  // A first page of zeros is a Windows that was shut down fully.
  WindowsTree shutDown;
  shutDown.WriteFile("hiberfil.sys", std::string(8192, '\0'));
  const ScanRun clean = RunLkScan({"--json", "--no-sweep", "--root", shutDown.Root()});
  for (const Json& note : clean.OfType("note")) EXPECT_NE(note["topic"], "hibernation");
}

TEST_F(ImageScan, ADirtyVolumeGetsANote) {
  const std::string image = images_.Make(clean_->Root(), "dirty.raw", {"--dirty"});
  const ScanRun run = RunLkScan({"--json", "--no-sweep", "--image", image});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  bool noted = false;
  for (const Json& note : run.OfType("note")) noted = noted || note["topic"] == "volume";
  EXPECT_TRUE(noted);
  const ScanRun listed = RunLkScan({"--json", "--list", "--image", image});
  ASSERT_EQ(listed.OfType("installation").size(), 1U);
  EXPECT_EQ(listed.OfType("installation")[0]["dirty"], true);
}

TEST_F(ImageScan, DamagedImagesExitTwoNamingTheDamage) {
  const struct {
    const char* name;
    std::vector<std::string> options;
    const char* named;
  } cases[] = {
      {"table-gpt.raw", {"--damage", "table"}, "partition table"},
      {"table-mbr.raw", {"--damage", "table", "--table", "mbr"}, "partition table"},
      {"mft.raw", {"--damage", "mft"}, "NTFS volume is damaged"},
      {"cut.E01", {"--format", "e01", "--damage", "truncate"}, "truncated"},
  };
  for (const auto& damage : cases) {
    SCOPED_TRACE(damage.name);
    const std::string image = images_.Make(clean_->Root(), damage.name, damage.options);
    const auto before = images_.Digests();
    const ScanRun run = RunLkScan({"--json", "--image", image});
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_NE(run.err.find(damage.named), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(image), std::string::npos) << run.err;
    EXPECT_EQ(run.Summary()["exit_code"], 2);
    EXPECT_EQ(run.Summary()["verdict"], "clean");  // nothing found, and exit 2 says incomplete
    const ScanRun listed = RunLkScan({"--json", "--list", "--image", image});
    EXPECT_TRUE(listed.exitCode == 2 || !listed.OfType("installation").empty());
    EXPECT_EQ(images_.Digests(), before);
  }
  const ScanRun notAnImage = RunLkScan({"--json", "--image", images_.Path("missing.raw")});
  EXPECT_EQ(notAnImage.exitCode, 2);
}

TEST_F(ImageScan, ListTellsEachInstallationWithItsVersionInJsonLines) {
  const std::string image = images_.Make(infected_->Root(), "gpt.raw", {"--label", "System"});
  const ScanRun listed = RunLkScan({"--json", "--list", "--image", image});
  EXPECT_EQ(listed.exitCode, 0) << listed.err;
  ASSERT_EQ(listed.records.size(), 2U);
  const Json& installation = listed.records[0];
  EXPECT_EQ(installation["type"], "installation");
  EXPECT_EQ(installation["image"], image);
  EXPECT_EQ(installation["partition"], 2);
  EXPECT_TRUE(installation["device"].is_null());
  EXPECT_EQ(installation["offset"], 2 * 1024 * 1024);
  EXPECT_EQ(installation["size"], (24 - 3) * 1024 * 1024);
  EXPECT_EQ(installation["filesystem"], "ntfs");
  EXPECT_EQ(installation["label"], "System");
  EXPECT_EQ(installation["windows"], "Windows 10 Pro");
  EXPECT_EQ(installation["build"], "19045");
  EXPECT_EQ(installation["bitlocker"], false);
  EXPECT_EQ(installation["hibernated"], false);
  EXPECT_EQ(installation["dirty"], false);
  EXPECT_EQ(installation["examinable"], true);
  EXPECT_TRUE(installation["reason"].is_null());
  EXPECT_EQ(listed.records[1],
            Json::parse(R"({"type":"summary","installations":1,"images":1,"errors":0})"));

  const ScanRun text = RunLkScan({"--list", "--image", image});
  EXPECT_NE(text.out.find("partition 2: Windows 10 Pro build 19045"), std::string::npos)
      << text.out;

  // A volume without Windows is not an installation.
  const std::filesystem::path empty = images_.Path("empty-tree");
  std::filesystem::create_directories(empty / "Data");
  const std::string data = images_.Make(empty.string(), "data.raw", {});
  const ScanRun none = RunLkScan({"--json", "--list", "--image", data});
  EXPECT_EQ(none.exitCode, 0);
  EXPECT_TRUE(none.OfType("installation").empty());
  const ScanRun scanned = RunLkScan({"--json", "--image", data});
  EXPECT_EQ(scanned.exitCode, 2);
}

TEST_F(ImageScan, ListWithoutAnImageLooksAtTheBlockDevicesAndEndsWithASummary) {
  const ScanRun listed = RunLkScan({"--json", "--list"});
  EXPECT_TRUE(listed.exitCode == 0 || listed.exitCode == 2) << listed.err;
  ASSERT_FALSE(listed.records.empty());
  EXPECT_EQ(listed.records.back()["type"], "summary");
  const ScanRun mixed = RunLkScan({"--list", "--remove"});
  EXPECT_EQ(mixed.exitCode, 2);
}

}  // namespace
}  // namespace lk
