// The quarantine of a console removal and the restore from it, on a scripted PC whose drive is a
// temporary folder read through the POSIX file layer and written through the POSIX file store.
#include "quarantine/Quarantine.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "quarantine/QuarantineFormat.h"
#include "quarantine/Restorer.h"
#include "system/Sha256.h"
#include "system/posix/PosixFileStore.h"
#include "tests/analysis/AnalysisFixture.h"

namespace lk::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr std::string_view kLibraryBytes = "MZ....c3po-R2D2-poe....";
constexpr std::string_view kLibrarySha256 =
    "bf0115e9034885877a0362b76cf05eed63496a09b56128413264e68935f17823";
constexpr std::string_view kDefaultBase = "C:\\ProgramData\\Anti-Lauschkobold\\Quarantine";
constexpr std::string_view kRunName = "20261209T231501Z";
constexpr std::string_view kServiceKeyPath = "SYSTEM\\CurrentControlSet\\Services\\winsys32";

// 2026-12-09 23:15:01 UTC.
std::chrono::system_clock::time_point RunTime() {
  return std::chrono::system_clock::time_point(std::chrono::seconds(1796858101));
}

// Records what a restore reports.
class RecordingReport final : public ScanReport {
 public:
  void Finding(const ScanFinding&) override {}
  void Action(const ScanAction& action) override { actions.push_back(action); }
  void Skipped(const ScanSkipped& entry) override { skipped.push_back(entry); }
  void Note(const ScanNote& note) override { notes.push_back(note); }
  void Progress(const ScanProgress&) override {}
  void Summary(const ScanSummary& summary) override { summaries.push_back(summary); }

  [[nodiscard]] std::vector<std::string> Failed() const {
    std::vector<std::string> failed;
    for (const auto& action : actions) {
      if (!action.ok) failed.push_back(action.action + " " + action.target);
    }
    return failed;
  }

  std::vector<ScanAction> actions;
  std::vector<ScanSkipped> skipped;
  std::vector<ScanNote> notes;
  std::vector<ScanSummary> summaries;
};

// A store that behaves like the POSIX one except where a test makes it fail.
class FaultyStore final : public FileStore {
 public:
  explicit FaultyStore(FileStore& inner) : inner_(inner) {}
  // Creating a quarantine copy fails with this error (0: it does not fail).
  std::uint32_t refuseCopies = 0;
  // Every byte of a quarantine copy is written changed: the verification must notice.
  bool corruptCopies = false;

  FolderTrust CheckPrivateDirectory(std::string_view path) override {
    return inner_.CheckPrivateDirectory(path);
  }
  std::uint32_t CreatePrivateDirectory(std::string_view path) override {
    return inner_.CreatePrivateDirectory(path);
  }
  std::unique_ptr<WritableFile> CreateNewFile(std::string_view path,
                                              std::uint32_t* error) override {
    const bool copy = path.size() > 4 && path.substr(path.size() - 4) == ".lkq";
    if (copy && refuseCopies != 0) {
      *error = refuseCopies;
      return nullptr;
    }
    auto file = inner_.CreateNewFile(path, error);
    if (!file || !copy || !corruptCopies) return file;
    return std::make_unique<Corrupting>(std::move(file));
  }
  std::uint32_t FindFile(std::string_view path) override { return inner_.FindFile(path); }
  std::uint32_t DeleteFile(std::string_view path) override { return inner_.DeleteFile(path); }
  std::uint32_t DeleteFileAtRestart(std::string_view path) override {
    return inner_.DeleteFileAtRestart(path);
  }
  std::uint32_t CancelDeleteAtRestart(std::string_view path) override {
    return inner_.CancelDeleteAtRestart(path);
  }
  std::uint32_t SetFileMetadata(std::string_view path, std::uint32_t attributes, std::int64_t c,
                                std::int64_t a, std::int64_t w) override {
    return inner_.SetFileMetadata(path, attributes, c, a, w);
  }

 private:
  class Corrupting final : public WritableFile {
   public:
    explicit Corrupting(std::unique_ptr<WritableFile> file) : file_(std::move(file)) {}
    std::uint32_t Write(const void* data, std::size_t length) override {
      std::string bytes(static_cast<const char*>(data), length);
      for (char& byte : bytes) byte = static_cast<char>(byte ^ 1);
      return file_->Write(bytes.data(), bytes.size());
    }
    std::uint32_t Finish() override { return file_->Finish(); }

   private:
    std::unique_ptr<WritableFile> file_;
  };

  FileStore& inner_;
};

class QuarantineFixture : public AnalysisFixture {
 protected:
  QuarantineFixture() {
    fs::create_directories(root / "ProgramData");
    system.AddDirectory("C:\\ProgramData");
  }

  std::unique_ptr<Quarantine> OpenQuarantine(std::string folder = {}, std::string* error = nullptr,
                                             FileStore* with = nullptr) {
    QuarantineSettings settings;
    settings.folder = std::move(folder);
    settings.runTime = RunTime();
    settings.programVersion = "9.8.7";
    auto quarantine =
        std::make_unique<Quarantine>(system, *holding, with ? *with : store, std::move(settings));
    std::string ignored;
    if (!quarantine->Open(error ? error : &ignored)) return nullptr;
    return quarantine;
  }

  [[nodiscard]] fs::path Host(std::string_view windowsPath) const {
    std::string relative(windowsPath.substr(3));
    std::replace(relative.begin(), relative.end(), '\\', '/');
    return root / relative;
  }
  [[nodiscard]] std::string HostContent(std::string_view windowsPath) const {
    std::ifstream in(Host(windowsPath), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
  }
  [[nodiscard]] Json Manifest(const std::string& runFolder) const {
    return Json::parse(HostContent(runFolder + "\\manifest.json"));
  }

  // A realistic service key: what the service manager writes, with a subkey.
  void AddFullServiceKey() {
    system.SetValue(kServiceKey, "Type", RegistryValue::Dword(1));
    system.SetValue(kServiceKey, "Start", RegistryValue::Dword(2));
    system.SetValue(kServiceKey, "ErrorControl", RegistryValue::Dword(1));
    system.SetValue(kServiceKey, "ImagePath",
                    RegistryValue::ExpandString("system32\\drivers\\winsys32.sys"));
    system.SetValue(kServiceKey, "DisplayName", RegistryValue::String("winsys32"));
    system.SetValue(std::string(kServiceKey) + "\\Enum", "Count", RegistryValue::Dword(1));
    system.SetValue(std::string(kServiceKey) + "\\Enum", "0",
                    RegistryValue::String("Root\\LEGACY_WINSYS32\\0000"));
  }

  // What a removal does after keeping: the library deleted, the driver (in use) left for the
  // restart, AppInit_DLLs emptied, the service stopped and deleted, its key deleted.
  void Remove() {
    ASSERT_EQ(system.SystemFiles().DeleteFile(kLibraryPath), 0U);
    ASSERT_EQ(system.SystemFiles().DeleteFileAtRestart(kDriverPath), 0U);
    system.SetValue(kWindowsKey, "AppInit_DLLs", RegistryValue::String(""));
    {
      const std::unique_ptr<ServiceManager> manager = system.OpenServiceManager();
      const std::unique_ptr<Service> service = manager->OpenServiceEntry("winsys32");
      ASSERT_TRUE(service);
      ASSERT_TRUE(service->SendStop());
      ASSERT_TRUE(service->Delete());
    }
    auto registry = system.ConnectRegistry(RegistryView::Native);
    ASSERT_TRUE(registry->OpenMachineKeyReadWrite("SYSTEM\\CurrentControlSet\\services"));
    ASSERT_TRUE(registry->DeleteSubKeyTree("winsys32"));
  }

  int Restore(std::string_view folder, RecordingReport& report) {
    Restorer restorer(system, *holding, store, report);
    return restorer.Run(folder);
  }

  PosixFileStore store{*files};
};

std::string Untransformed(std::string bytes) {
  quarantine_format::Transform(bytes.data(), bytes.size(), 0);
  return bytes;
}

std::string Sha256Of(std::string_view bytes) {
  Sha256 hash;
  hash.Update(bytes.data(), bytes.size());
  return Sha256::Hex(hash.Finish());
}

TEST(QuarantineTransform, IsTheDocumentedXorAndDoesNotDependOnTheBlocks) {
  std::string zeros(600, '\0');
  quarantine_format::Transform(zeros.data(), zeros.size(), 0);
  for (std::size_t n : {0u, 1u, 255u, 256u, 599u}) {
    EXPECT_EQ(static_cast<unsigned char>(zeros[n]), (151 * (n % 256) + 89) % 256) << n;
  }
  std::string tail(300, '\0');
  quarantine_format::Transform(tail.data(), tail.size(), 300);
  EXPECT_EQ(tail, zeros.substr(300));
}

TEST(QuarantineRunName, IsTheRunsUtcTime) {
  EXPECT_EQ(quarantine_format::RunName(0), "19700101T000000Z");
  EXPECT_EQ(quarantine_format::RunName(1709164800), "20240229T000000Z");  // a leap day
  EXPECT_EQ(quarantine_format::RunName(1796858101), "20261209T231501Z");
  EXPECT_EQ(quarantine_format::RunName(4102444799), "20991231T235959Z");
}

using QuarantineKeep = QuarantineFixture;

TEST_F(QuarantineKeep, AFileIsKeptTransformedVerifiedAndInAPrivateRunFolder) {
  AddLibrary();
  AddDriver();
  auto quarantine = OpenQuarantine();
  ASSERT_NE(quarantine, nullptr);
  EXPECT_EQ(quarantine->Location(), "");
  EXPECT_FALSE(fs::exists(root / "ProgramData/Anti-Lauschkobold")) << "nothing before a keep";

  const auto library = quarantine->KeepFile(kLibraryPath);
  ASSERT_TRUE(library.ok) << library.error;
  const auto driver = quarantine->KeepFile(kDriverPath);
  ASSERT_TRUE(driver.ok) << driver.error;
  const std::string run = std::string(kDefaultBase) + "\\" + std::string(kRunName);
  EXPECT_EQ(quarantine->Location(), run);
  for (const char* folder : {"Anti-Lauschkobold", "Anti-Lauschkobold/Quarantine",
                             "Anti-Lauschkobold/Quarantine/20261209T231501Z"}) {
    struct stat status {};
    ASSERT_EQ(::lstat((root / "ProgramData" / folder).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u) << folder;
  }

  const std::string storedLibrary = HostContent(run + "\\0001.lkq");
  const std::string storedDriver = HostContent(run + "\\0002.lkq");
  EXPECT_EQ(storedLibrary.find("c3po"), std::string::npos);
  EXPECT_EQ(storedLibrary.find("R2D2"), std::string::npos);
  EXPECT_EQ(storedDriver.find(Utf16("KeyboardClassC")), std::string::npos);
  EXPECT_EQ(storedDriver.find("KeyboardClassC"), std::string::npos);
  EXPECT_EQ(Untransformed(storedLibrary), kLibraryBytes);
  EXPECT_EQ(Sha256Of(Untransformed(storedDriver)), Sha256Of(HostContent(kDriverPath)));
  EXPECT_TRUE(HostFileExists(kLibraryPath)) << "keeping changes nothing";
}

TEST_F(QuarantineKeep, TheManifestDescribesEveryKeptThing) {
  InstallKnownVersion();
  AddFullServiceKey();
  // As the scan has it on 64-bit Windows: the 32-bit registry view, the redirection off.
  system.SetRunningUnderWow64(true);
  const std::unique_ptr<FsRedirectionScope> redirectionOff = system.DisableFsRedirection();
  ASSERT_TRUE(redirectionOff);
  system.SetValue("SOFTWARE\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Windows",
                  "AppInit_DLLs", RegistryValue::String("mfc42ul.dll"));
  auto quarantine = OpenQuarantine();
  ASSERT_NE(quarantine, nullptr);
  ASSERT_TRUE(quarantine->KeepFile(kLibraryPath).ok);
  ASSERT_TRUE(quarantine->KeepRegistryValue(RegistryView::Wow32, kWindowsKey, "AppInit_DLLs").ok);
  ASSERT_TRUE(quarantine->KeepServiceKey("winsys32").ok);

  const Json manifest = Manifest(quarantine->Location());
  EXPECT_EQ(manifest.at("format"), "lkscan-quarantine");
  EXPECT_EQ(manifest.at("format_version"), 1);
  EXPECT_EQ(manifest.at("program_version"), "9.8.7");
  EXPECT_EQ(manifest.at("run"), kRunName);
  const Json& items = manifest.at("items");
  ASSERT_EQ(items.size(), 3u);

  const Json& file = items[0];
  EXPECT_EQ(file.at("kind"), "file");
  EXPECT_EQ(file.at("path"), kLibraryPath);
  EXPECT_EQ(file.at("copy"), "0001.lkq");
  EXPECT_EQ(file.at("size"), kLibraryBytes.size());
  EXPECT_EQ(file.at("sha256"), kLibrarySha256);
  EXPECT_EQ(file.at("attributes"), file_attribute::kArchive);
  struct stat status {};
  ASSERT_EQ(::stat(Host(kLibraryPath).c_str(), &status), 0);
  constexpr std::int64_t kUnixEpochTicks = 11644473600LL * 10000000;
  EXPECT_EQ(file.at("last_write_time").get<std::int64_t>(),
            kUnixEpochTicks + status.st_mtim.tv_sec * 10000000LL + status.st_mtim.tv_nsec / 100);
  EXPECT_GT(file.at("creation_time").get<std::int64_t>(), kUnixEpochTicks);
  EXPECT_GT(file.at("last_access_time").get<std::int64_t>(), kUnixEpochTicks);

  const Json& value = items[1];
  EXPECT_EQ(value.at("kind"), "registry-value");
  EXPECT_EQ(value.at("key"), kWindowsKey);
  EXPECT_EQ(value.at("view"), "32");
  EXPECT_EQ(value.at("name"), "AppInit_DLLs");
  EXPECT_EQ(value.at("type"), 1);
  EXPECT_EQ(value.at("encoding"), "text");
  EXPECT_EQ(value.at("data"), std::string("mfc42ul.dll\0", 12));

  const Json& service = items[2];
  EXPECT_EQ(service.at("kind"), "service");
  EXPECT_EQ(service.at("name"), "winsys32");
  EXPECT_EQ(service.at("key"), kServiceKeyPath);
  std::map<std::string, Json> values;
  for (const Json& entry : service.at("tree").at("values")) values[entry.at("name")] = entry;
  EXPECT_EQ(values.at("Start").at("type"), 4);
  EXPECT_EQ(values.at("Start").at("encoding"), "hex");
  EXPECT_EQ(values.at("Start").at("data"), "02000000");
  EXPECT_EQ(values.at("ImagePath").at("type"), 2);
  EXPECT_EQ(values.at("ImagePath").at("data"),
            std::string("system32\\drivers\\winsys32.sys\0", 30));
  ASSERT_EQ(service.at("tree").at("subkeys").size(), 1u);
  EXPECT_EQ(service.at("tree").at("subkeys")[0].at("name"), "Enum");
  EXPECT_EQ(service.at("tree").at("subkeys")[0].at("values").size(), 2u);

  // Each thing also has its own record, written before it was changed.
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string record = quarantine->Location() + "\\" + quarantine_format::RecordName(i + 1);
    EXPECT_EQ(Json::parse(HostContent(record)), items[i]);
  }
}

TEST_F(QuarantineKeep, ATakenRunFolderNameGetsASuffix) {
  AddLibrary();
  fs::create_directories(root / "ProgramData/Anti-Lauschkobold/Quarantine" / kRunName);
  ::chmod((root / "ProgramData/Anti-Lauschkobold").c_str(), 0700);
  ::chmod((root / "ProgramData/Anti-Lauschkobold/Quarantine").c_str(), 0700);
  auto quarantine = OpenQuarantine();
  ASSERT_NE(quarantine, nullptr);
  ASSERT_TRUE(quarantine->KeepFile(kLibraryPath).ok);
  EXPECT_EQ(quarantine->Location(),
            std::string(kDefaultBase) + "\\" + std::string(kRunName) + "-2");
}

TEST_F(QuarantineKeep, AFailedCopyIsNotOkLeavesTheFileAndNoPartialCopy) {
  AddLibrary();
  FaultyStore faulty(store);
  faulty.refuseCopies = 112;
  auto quarantine = OpenQuarantine({}, nullptr, &faulty);
  ASSERT_NE(quarantine, nullptr);
  const auto refused = quarantine->KeepFile(kLibraryPath);
  EXPECT_FALSE(refused.ok);
  EXPECT_NE(refused.error.find("112"), std::string::npos) << refused.error;

  faulty.refuseCopies = 0;
  faulty.corruptCopies = true;
  const auto corrupted = quarantine->KeepFile(kLibraryPath);
  EXPECT_FALSE(corrupted.ok);
  EXPECT_NE(corrupted.error.find("SHA-256"), std::string::npos) << corrupted.error;
  EXPECT_FALSE(fs::exists(Host(quarantine->Location() + "\\0001.lkq")));
  EXPECT_FALSE(fs::exists(Host(quarantine->Location() + "\\0001.json")));
  EXPECT_EQ(HostContent(kLibraryPath), kLibraryBytes);

  const auto missing = quarantine->KeepFile("C:\\WINDOWS\\system32\\absent.dll");
  EXPECT_FALSE(missing.ok);
  EXPECT_FALSE(quarantine->KeepRegistryValue(RegistryView::Native, kWindowsKey, "AppInit_DLLs").ok);
  EXPECT_FALSE(quarantine->KeepServiceKey("winsys32").ok);
}

TEST_F(QuarantineKeep, AHugeOrDeepServiceKeyIsRefusedNotKeptInPart) {
  AddFullServiceKey();
  std::string deep(kServiceKey);
  for (int level = 0; level <= quarantine_format::kMaxTreeDepth; ++level) deep += "\\d";
  system.SetValue(deep, "x", RegistryValue::Dword(1));
  auto quarantine = OpenQuarantine();
  ASSERT_NE(quarantine, nullptr);
  const auto kept = quarantine->KeepServiceKey("winsys32");
  EXPECT_FALSE(kept.ok);
  EXPECT_NE(kept.error.find("verschachtelt"), std::string::npos) << kept.error;
}

using QuarantineRefusal = QuarantineFixture;

TEST_F(QuarantineRefusal, UntrustedFoldersAreRefusedBeforeAnythingIsCreated) {
  fs::create_directories(root / "elsewhere");
  fs::create_directory_symlink(root / "elsewhere", root / "linked");
  std::string error;
  EXPECT_EQ(OpenQuarantine("C:\\linked", &error), nullptr);
  EXPECT_NE(error.find("Verknüpfung"), std::string::npos) << error;

  fs::create_directories(root / "open");
  ::chmod((root / "open").c_str(), 0777);
  EXPECT_EQ(OpenQuarantine("C:\\open\\", &error), nullptr);
  EXPECT_NE(error.find("von anderen"), std::string::npos) << error;

  // The default path: our own folder below ProgramData, made writable by others.
  fs::create_directories(root / "ProgramData/Anti-Lauschkobold");
  ::chmod((root / "ProgramData/Anti-Lauschkobold").c_str(), 0757);
  EXPECT_EQ(OpenQuarantine({}, &error), nullptr);
  EXPECT_NE(error.find("Anti-Lauschkobold"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(root / "ProgramData/Anti-Lauschkobold/Quarantine"));

  EXPECT_EQ(OpenQuarantine("relative\\folder", &error), nullptr);
  EXPECT_NE(error.find("Laufwerk"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_empty(root / "elsewhere"));
  EXPECT_TRUE(fs::is_empty(root / "open"));
}

TEST_F(QuarantineRefusal, AFolderOwnedBySomeoneElseIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "changing a folder's owner needs root";
  fs::create_directories(root / "theirs");
  ::chmod((root / "theirs").c_str(), 0700);
  ASSERT_EQ(::chown((root / "theirs").c_str(), 65534, 65534), 0);
  std::string error;
  EXPECT_EQ(OpenQuarantine("C:\\theirs", &error), nullptr);
  EXPECT_NE(error.find("gehört weder"), std::string::npos) << error;
}

TEST_F(QuarantineRefusal, AMissingProgramDataFolderIsAnErrorNotACreation) {
  system.SetProgramDataDirectory("C:\\Nowhere");
  std::string error;
  EXPECT_EQ(OpenQuarantine({}, &error), nullptr);
  EXPECT_NE(error.find("C:\\Nowhere"), std::string::npos) << error;
  system.SetProgramDataDirectory("");
  EXPECT_EQ(OpenQuarantine({}, &error), nullptr);
  EXPECT_NE(error.find("--quarantine"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(root / "Nowhere"));
}

// Restore ------------------------------------------------------------------------------------

class QuarantineRestore : public QuarantineFixture {
 protected:
  // The known version kept and removed; returns the run folder.
  std::string KeepAndRemove() {
    InstallKnownVersion();
    AddFullServiceKey();
    system.SetFileInUse(kDriverPath, true);
    before_ = system.RegistrySnapshot();
    struct stat status {};
    EXPECT_EQ(::stat(Host(kLibraryPath).c_str(), &status), 0);
    libraryWriteTime_ = status.st_mtim;
    auto quarantine = OpenQuarantine();
    EXPECT_NE(quarantine, nullptr);
    if (!quarantine) return {};
    EXPECT_TRUE(quarantine->KeepFile(kLibraryPath).ok);
    EXPECT_TRUE(quarantine->KeepFile(kDriverPath).ok);
    EXPECT_TRUE(
        quarantine->KeepRegistryValue(RegistryView::Default, kWindowsKey, "AppInit_DLLs").ok);
    EXPECT_TRUE(quarantine->KeepServiceKey("winsys32").ok);
    Remove();
    EXPECT_NE(system.RegistrySnapshot(), before_);
    return quarantine->Location();
  }

  decltype(std::declval<ScriptedSystem>().RegistrySnapshot()) before_;
  timespec libraryWriteTime_{};
};

std::vector<std::string> Folded(
    const decltype(std::declval<ScriptedSystem>().RegistrySnapshot())& snapshot) {
  std::vector<std::string> lines;
  for (const auto& [key, values] : snapshot) {
    for (const auto& [name, value] : values) {
      std::string line =
          key + "\\" + name + "=" + std::to_string(static_cast<int>(value.type)) + ":" + value.data;
      std::transform(line.begin(), line.end(), line.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      lines.push_back(line);
    }
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST_F(QuarantineRestore, ARemovalIsUndoneCompletely) {
  const std::string run = KeepAndRemove();
  ASSERT_FALSE(run.empty());
  ASSERT_FALSE(HostFileExists(kLibraryPath));
  ASSERT_FALSE(system.ServiceExists("winsys32"));

  RecordingReport report;
  EXPECT_EQ(Restore(run, report), 0);
  EXPECT_TRUE(report.Failed().empty()) << ::testing::PrintToString(report.Failed());
  EXPECT_EQ(Folded(system.RegistrySnapshot()), Folded(before_));
  EXPECT_EQ(HostContent(kLibraryPath), kLibraryBytes);
  struct stat status {};
  ASSERT_EQ(::stat(Host(kLibraryPath).c_str(), &status), 0);
  EXPECT_EQ(status.st_mtim.tv_sec, libraryWriteTime_.tv_sec);
  EXPECT_EQ(status.st_mtim.tv_nsec / 100, libraryWriteTime_.tv_nsec / 100);
  EXPECT_TRUE(system.ServiceExists("winsys32"));
  EXPECT_TRUE(system.PendingDeletions().empty()) << "the driver's deletion at restart stays";

  std::multiset<std::string> actions;
  for (const auto& action : report.actions) actions.insert(action.action);
  EXPECT_EQ(actions, (std::multiset<std::string>{"restore-file", "restore-file",
                                                 "withdraw-delete-at-restart", "restore-service",
                                                 "restore-registry"}));
  ASSERT_EQ(report.summaries.size(), 1u);
  EXPECT_EQ(report.summaries[0].verdict, ScanVerdict::Clean);
  EXPECT_EQ(report.summaries[0].exitCode, 0);
  EXPECT_EQ(report.summaries[0].quarantine, run);

  // A second restore finds everything in place and changes nothing more.
  RecordingReport again;
  EXPECT_EQ(Restore(run, again), 0);
  EXPECT_EQ(Folded(system.RegistrySnapshot()), Folded(before_));
}

TEST_F(QuarantineRestore, AServiceStillMarkedForDeletionGetsItsKeyAndAsksForARestart) {
  InstallKnownVersion();
  AddFullServiceKey();
  const auto before = system.RegistrySnapshot();
  auto quarantine = OpenQuarantine();
  ASSERT_TRUE(quarantine->KeepServiceKey("winsys32").ok);
  // Deleted while a handle stays open: the service manager keeps it, marked.
  const std::unique_ptr<ServiceManager> manager = system.OpenServiceManager();
  const std::unique_ptr<Service> service = manager->OpenServiceEntry("winsys32");
  ASSERT_TRUE(service->Delete());
  auto registry = system.ConnectRegistry(RegistryView::Native);
  ASSERT_TRUE(registry->OpenMachineKeyReadWrite("SYSTEM\\CurrentControlSet\\services"));
  ASSERT_TRUE(registry->DeleteSubKeyTree("winsys32"));
  registry.reset();

  RecordingReport report;
  EXPECT_EQ(Restore(quarantine->Location(), report), 0);
  EXPECT_EQ(Folded(system.RegistrySnapshot()), Folded(before));
  ASSERT_EQ(report.summaries.size(), 1u);
  EXPECT_TRUE(report.summaries[0].restartRequired);
}

// The service manager writes Type, Start and ErrorControl into every key it registers: the
// restore takes away what the kept key did not have.
TEST_F(QuarantineRestore, AServiceKeyGetsExactlyTheValuesAndSubkeysItHad) {
  InstallKnownVersion();
  system.SetValue(kServiceKey, "ImagePath",
                  RegistryValue::ExpandString("system32\\drivers\\winsys32.sys"));
  system.SetValue(std::string(kServiceKey) + "\\Enum", "0", RegistryValue::String("Root"));
  const auto before = system.RegistrySnapshot();
  auto quarantine = OpenQuarantine();
  ASSERT_TRUE(quarantine->KeepServiceKey("winsys32").ok);
  {
    const std::unique_ptr<ServiceManager> manager = system.OpenServiceManager();
    const std::unique_ptr<Service> service = manager->OpenServiceEntry("winsys32");
    ASSERT_TRUE(service->Delete());
  }
  auto registry = system.ConnectRegistry(RegistryView::Native);
  if (registry->OpenMachineKeyReadWrite("SYSTEM\\CurrentControlSet\\services")) {
    static_cast<void>(registry->DeleteSubKeyTree("winsys32"));
  }
  registry.reset();
  ASSERT_FALSE(system.KeyExists(kServiceKey));

  RecordingReport report;
  EXPECT_EQ(Restore(quarantine->Location(), report), 0);
  EXPECT_TRUE(report.Failed().empty()) << ::testing::PrintToString(report.Failed());
  EXPECT_EQ(Folded(system.RegistrySnapshot()), Folded(before));
  EXPECT_TRUE(system.ServiceExists("winsys32"));
}

TEST_F(QuarantineRestore, AFileWithOtherContentIsNeverOverwritten) {
  const std::string run = KeepAndRemove();
  AddFile(kLibraryPath, "MZ something else");
  RecordingReport report;
  EXPECT_EQ(Restore(run, report), 2);
  EXPECT_EQ(report.Failed(), std::vector<std::string>{"restore-file " + std::string(kLibraryPath)});
  EXPECT_EQ(HostContent(kLibraryPath), "MZ something else");
  EXPECT_EQ(report.summaries.at(0).exitCode, 2);
}

TEST_F(QuarantineRestore, ADamagedCopyIsNotWrittenBack) {
  const std::string run = KeepAndRemove();
  std::ofstream(Host(run + "\\0001.lkq"), std::ios::binary | std::ios::app) << "x";
  RecordingReport report;
  EXPECT_EQ(Restore(run, report), 2);
  EXPECT_EQ(report.Failed(), std::vector<std::string>{"restore-file " + std::string(kLibraryPath)});
  EXPECT_FALSE(HostFileExists(kLibraryPath));
}

TEST_F(QuarantineRestore, AManifestCutShortByACrashIsRebuiltFromTheRecords) {
  const std::string run = KeepAndRemove();
  const std::string manifest = HostContent(run + "\\manifest.json");
  std::ofstream(Host(run + "\\manifest.json"), std::ios::binary | std::ios::trunc)
      << manifest.substr(0, manifest.size() / 2);
  RecordingReport report;
  EXPECT_EQ(Restore(run, report), 0);
  EXPECT_EQ(Folded(system.RegistrySnapshot()), Folded(before_));
  EXPECT_EQ(HostContent(kLibraryPath), kLibraryBytes);
  ASSERT_EQ(report.notes.size(), 1u);
}

TEST_F(QuarantineRestore, RecordsWrittenAfterTheLastManifestAreRestoredToo) {
  const std::string run = KeepAndRemove();
  Json manifest = Manifest(run);
  // As if the crash came before the last two rewrites.
  Json& items = manifest["items"];
  items.erase(items.begin() + 2, items.end());
  std::ofstream(Host(run + "\\manifest.json"), std::ios::binary | std::ios::trunc)
      << manifest.dump();
  RecordingReport report;
  EXPECT_EQ(Restore(run, report), 0);
  EXPECT_EQ(Folded(system.RegistrySnapshot()), Folded(before_));
  EXPECT_TRUE(system.ServiceExists("winsys32"));
}

// A run kept and removed, whose manifest.json a test then rewrites.
class HostileManifest : public QuarantineRestore {
 protected:
  void SetUp() override {
    run_ = KeepAndRemove();
    ASSERT_FALSE(run_.empty());
    original_ = Manifest(run_);
  }
  // Restores after edit changed the manifest; expects an error and no change at all.
  void ExpectRefused(const std::function<void(Json&)>& edit) {
    Json manifest = original_;
    edit(manifest);
    WriteManifest(run_, manifest.dump());
    ExpectNothingRestored(run_);
  }
  void WriteManifest(const std::string& run, const std::string& text) {
    std::ofstream(Host(run + "\\manifest.json"), std::ios::binary | std::ios::trunc) << text;
  }
  void ExpectNothingRestored(const std::string& run) {
    const auto registry = system.RegistrySnapshot();
    const std::size_t logLines = system.Log().size();
    RecordingReport report;
    EXPECT_EQ(Restore(run, report), 2);
    EXPECT_TRUE(report.actions.empty());
    ASSERT_EQ(report.skipped.size(), 1u);
    EXPECT_NE(report.skipped[0].reason.find("nichts zurückgelegt"), std::string::npos);
    EXPECT_EQ(system.RegistrySnapshot(), registry);
    EXPECT_EQ(system.Log().size(), logLines);
    EXPECT_FALSE(HostFileExists(kLibraryPath));
  }

  std::string run_;
  Json original_;
};

TEST_F(HostileManifest, PathsThatClimbOrAreRelativeAreRefused) {
  for (const char* path : {"C:\\WINDOWS\\..\\x.dll", "WINDOWS\\x.dll", "C:\\WINDOWS\\.\\x.dll",
                           "\\\\server\\share\\x.dll", "C:\\a\\\\b", "C:\\a:b", "C:/a/b"}) {
    SCOPED_TRACE(path);
    ExpectRefused([&](Json& manifest) { manifest["items"][0]["path"] = path; });
  }
}

TEST_F(HostileManifest, FieldsOfTheWrongKindOrSizeAreRefused) {
  ExpectRefused([](Json& m) { m["items"][0]["copy"] = "..\\..\\x.lkq"; });
  ExpectRefused([](Json& m) { m["items"][0]["size"] = -1; });
  ExpectRefused([](Json& m) { m["items"][0]["sha256"] = "xyz"; });
  ExpectRefused([](Json& m) { m["items"][2]["data"] = std::string(2 * 1024 * 1024, 'a'); });
  ExpectRefused([](Json& m) { m["items"][2]["encoding"] = "base64"; });
  ExpectRefused([](Json& m) { m["items"][3]["key"] = "SOFTWARE\\Microsoft\\Windows\\Run"; });
  ExpectRefused([](Json& m) { m["items"][0]["kind"] = "program"; });
  ExpectRefused([](Json& m) { m["format_version"] = 2; });
  ExpectRefused([](Json& m) { m["items"] = "none"; });
}

TEST_F(HostileManifest, BrokenOrDeeplyNestedJsonIsAnErrorNeverACrash) {
  // Without the records there is nothing to fall back on.
  for (std::size_t i = 1; i <= 4; ++i)
    fs::remove(Host(run_ + "\\" + quarantine_format::RecordName(i)));
  WriteManifest(run_, "{\"format\": \"lkscan-quarantine\", \"items\": [");
  ExpectNothingRestored(run_);
  WriteManifest(run_, std::string(1000000, '[') + std::string(1000000, ']'));
  ExpectNothingRestored(run_);
  fs::remove(Host(run_ + "\\manifest.json"));
  ExpectNothingRestored(run_);
}

}  // namespace
}  // namespace lk::testing
