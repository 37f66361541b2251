// lkscan --image and --list: the program itself over disk images made from the Windows-like
// test installation, in every format, with the states that make a volume untrustworthy and the
// damage a hostile or broken image can carry.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
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

// What a shell command printed, and whether it succeeded.
struct Shell {
  bool ok = false;
  std::string out;
};
Shell RunShell(const std::string& command) {
  Shell result;
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[512];
  for (std::size_t got = 0; (got = fread(buffer, 1, sizeof(buffer), pipe)) > 0;) {
    result.out.append(buffer, got);
  }
  result.ok = pclose(pipe) == 0;
  while (!result.out.empty() && result.out.back() == '\n') result.out.pop_back();
  return result;
}

// A loop device over an image, with the image's partitions, detached when it goes. Where this
// machine allows no loop devices, Device() is empty and Why() says why. The partition nodes a
// system without udev lacks are made here, as udev would make them, and removed again.
class LoopDevice {
 public:
  explicit LoopDevice(const std::string& image) {
    if (::access("/dev/loop-control", W_OK) != 0) {
      why_ = "no writable /dev/loop-control (loop devices are not allowed here)";
      return;
    }
    const Shell attached = RunShell("losetup -P -f --show " + Quoted(image));
    if (!attached.ok || attached.out.rfind("/dev/loop", 0) != 0) {
      why_ = "losetup -P failed (loop devices are not allowed here)";
      return;
    }
    device_ = attached.out;
  }
  ~LoopDevice() {
    for (const std::string& node : made_) ::unlink(node.c_str());
    if (!device_.empty()) static_cast<void>(RunShell("losetup -d " + Quoted(device_)));
  }
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  [[nodiscard]] const std::string& Device() const { return device_; }
  [[nodiscard]] const std::string& Why() const { return why_; }

  // The node of partition number, once the kernel has read the table (empty if it never does).
  std::string Partition(int number) {
    const std::string name =
        std::filesystem::path(device_).filename().string() + "p" + std::to_string(number);
    const std::filesystem::path sys =
        "/sys/block/" + std::filesystem::path(device_).filename().string() + "/" + name;
    for (int tries = 0; tries < 50 && !std::filesystem::exists(sys / "dev"); ++tries) {
      if (tries == 10) static_cast<void>(RunShell("partx -u " + Quoted(device_)));
      ::usleep(100'000);
    }
    std::ifstream in(sys / "dev");
    unsigned major = 0;
    unsigned minor = 0;
    char colon = 0;
    if (!(in >> major >> colon >> minor)) return {};
    const std::string node = "/dev/" + name;
    if (!std::filesystem::exists(node)) {
      if (::mknod(node.c_str(), S_IFBLK | 0600, makedev(major, minor)) != 0) return {};
      made_.push_back(node);
    }
    return node;
  }

 private:
  std::string device_;
  std::string why_;
  std::vector<std::string> made_;
};

// A read-only ntfs-3g mount, unmounted when it goes; Ok() false where FUSE mounts are not allowed.
class NtfsMount {
 public:
  NtfsMount(const std::string& source, const std::string& point) : point_(point) {
    std::filesystem::create_directories(point);
    ok_ = RunShell("ntfs-3g -o ro " + Quoted(source) + " " + Quoted(point)).ok;
  }
  ~NtfsMount() {
    if (ok_) static_cast<void>(RunShell("umount " + Quoted(point_)));
  }
  NtfsMount(const NtfsMount&) = delete;
  NtfsMount& operator=(const NtfsMount&) = delete;
  [[nodiscard]] bool Ok() const { return ok_; }

 private:
  std::string point_;
  bool ok_ = false;
};

bool HasVolumeNote(const ScanRun& run) {
  for (const Json& note : run.OfType("note")) {
    if (note["topic"] == "volume" &&
        note.value("text", "").find("nicht sauber") != std::string::npos) {
      return true;
    }
  }
  return false;
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
  EXPECT_NE(reserved.err.find("Partition 1 enthält kein NTFS-Laufwerk"), std::string::npos)
      << reserved.err;
  EXPECT_TRUE(reserved.OfType("finding").empty());
  EXPECT_EQ(reserved.Summary()["exit_code"], 2);

  const ScanRun missing = RunLkScan({"--image", image, "--partition", "9"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("es gibt keine Partition 9"), std::string::npos) << missing.err;

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
    EXPECT_NE(run.err.find("lkscan --root EINHÄNGEPUNKT --remove"), std::string::npos) << run.err;
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
  EXPECT_NE(reason.find("Wiederherstellungsschlüssel"), std::string::npos) << "German: " << reason;
  EXPECT_EQ(run.Summary()["exit_code"], 2);
  EXPECT_EQ(run.Summary()["verdict"], "incomplete");
  const ScanRun text = RunLkScan({"--image", image});
  EXPECT_EQ(text.out.find("sauber"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("LAUFWERK    Partition 2, ab Byte 2097152"), std::string::npos)
      << text.out;

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
            text.find("Schnellstart") != std::string::npos;
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
  EXPECT_NE(removal.err.find("Ruhezustand"), std::string::npos) << removal.err;
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
      {"table-gpt.raw", {"--damage", "table"}, "Partitionstabelle"},
      {"table-mbr.raw", {"--damage", "table", "--table", "mbr"}, "Partitionstabelle"},
      {"mft.raw", {"--damage", "mft"}, "NTFS-Laufwerk ist beschädigt"},
      {"cut.E01", {"--format", "e01", "--damage", "truncate"}, "abgeschnitten"},
  };
  for (const auto& damage : cases) {
    SCOPED_TRACE(damage.name);
    const std::string image = images_.Make(clean_->Root(), damage.name, damage.options);
    const auto before = images_.Digests();
    const ScanRun run = RunLkScan({"--json", "--image", image});
    EXPECT_EQ(run.exitCode, 2) << run.err;
    // The damage is told once: the closing line does not repeat what was just said.
    std::size_t told = 0;
    for (std::size_t at = run.err.find(damage.named); at != std::string::npos;
         at = run.err.find(damage.named, at + 1)) {
      ++told;
    }
    EXPECT_EQ(told, 1U) << run.err;
    EXPECT_NE(run.err.find("es wurde nichts untersucht"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(image), std::string::npos) << run.err;
    EXPECT_EQ(run.Summary()["exit_code"], 2);
    EXPECT_EQ(run.Summary()["verdict"], "incomplete");  // nothing found, nothing is clean
    const ScanRun listed = RunLkScan({"--json", "--list", "--image", image});
    EXPECT_TRUE(listed.exitCode == 2 || !listed.OfType("installation").empty());
    EXPECT_EQ(images_.Digests(), before);
  }
  const ScanRun notAnImage = RunLkScan({"--json", "--image", images_.Path("missing.raw")});
  EXPECT_EQ(notAnImage.exitCode, 2);
  EXPECT_NE(notAnImage.err.find("es wurde nichts untersucht"), std::string::npos) << notAnImage.err;
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
  EXPECT_NE(text.out.find("Partition 2: Windows 10 Pro Build 19045"), std::string::npos)
      << text.out;
  // The German text says it all in German, sizes with a decimal comma.
  EXPECT_THAT(text.out, ::testing::ContainsRegex(", [0-9]+,[0-9] MiB, Bezeichnung \"System\", "
                                                 "BitLocker: nein, Ruhezustand: nein\n$"));

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

// --root learns the dirty flag from the volume behind its mount: ntfs-3g over a block device
// (fuseblk) or over an image file (fuse), found in /proc/self/mountinfo also when the mount
// point's name holds a space.
TEST_F(ImageScan, ADirtyVolumeMountedUnderRootGetsTheNoteToo) {
  const std::string dirty =
      images_.Make(clean_->Root(), "dirty-volume.raw", {"--dirty", "--table", "none"});
  const std::string tidy = images_.Make(clean_->Root(), "tidy-volume.raw", {"--table", "none"});
  {
    NtfsMount mount(dirty, images_.Path("mounted dirty"));
    if (!mount.Ok()) GTEST_SKIP() << "ntfs-3g cannot mount here (no FUSE mounts allowed)";
    const ScanRun run =
        RunLkScan({"--json", "--no-sweep", "--root", images_.Path("mounted dirty")});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(HasVolumeNote(run)) << run.out;
  }
  {
    NtfsMount mount(tidy, images_.Path("mounted-tidy"));
    ASSERT_TRUE(mount.Ok());
    const ScanRun run = RunLkScan({"--json", "--no-sweep", "--root", images_.Path("mounted-tidy")});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_FALSE(HasVolumeNote(run)) << run.out;
  }
  LoopDevice loop(dirty);
  if (loop.Device().empty()) GTEST_SKIP() << loop.Why();
  NtfsMount mount(loop.Device(), images_.Path("mounted-loop"));
  ASSERT_TRUE(mount.Ok());
  const ScanRun run = RunLkScan({"--json", "--no-sweep", "--root", images_.Path("mounted-loop")});
  EXPECT_TRUE(HasVolumeNote(run)) << run.out;
}

// A real partitioned disk: the installation's device is its partition's node, whichever name
// the disk is given by, and --list without --image finds it among the machine's disks.
TEST_F(ImageScan, AnInstallationOnAPartitionedBlockDeviceNamesItsPartitionNode) {
  const std::string image = images_.Make(infected_->Root(), "disk.raw", {"--table", "gpt"});
  LoopDevice loop(image);
  if (loop.Device().empty()) GTEST_SKIP() << loop.Why();
  const std::string partition = loop.Partition(2);
  ASSERT_FALSE(partition.empty()) << "the kernel made no partition of " << loop.Device();

  const std::string link = images_.Path("by-id-link");
  std::filesystem::create_symlink(loop.Device(), link);
  for (const std::string& name : {loop.Device(), link}) {
    SCOPED_TRACE(name);
    const ScanRun listed = RunLkScan({"--json", "--list", "--image", name});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    const std::vector<Json> installations = listed.OfType("installation");
    ASSERT_EQ(installations.size(), 1U) << listed.out;
    EXPECT_EQ(installations[0]["partition"], 2);
    EXPECT_EQ(installations[0]["device"], partition);
  }
  bool listedAmongDisks = false;
  for (const Json& installation : RunLkScan({"--json", "--list"}).OfType("installation")) {
    listedAmongDisks = listedAmongDisks || (installation["image"] == loop.Device() &&
                                            installation["device"] == partition);
  }
  EXPECT_TRUE(listedAmongDisks);
  // The partition's node is itself an image to examine, and says what the disk says.
  const ScanRun disk = RunLkScan({"--json", "--no-sweep", "--image", loop.Device()});
  const ScanRun alone = RunLkScan({"--json", "--no-sweep", "--image", partition});
  EXPECT_EQ(disk.exitCode, 1) << disk.err;
  EXPECT_EQ(alone.exitCode, 1) << alone.err;
  EXPECT_EQ(alone.Findings("library-file"), disk.Findings("library-file"));
  EXPECT_FALSE(disk.Findings("library-file").empty());
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
