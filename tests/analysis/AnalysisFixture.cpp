#include "AnalysisFixture.h"

#include <algorithm>
#include <atomic>
#include <fstream>

#include <unistd.h>

namespace lk::testing {

std::string Utf16(std::string_view ascii) {
  std::string bytes;
  for (char c : ascii) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

namespace {

// While the program holds a file open without delete sharing, Windows refuses to delete it (32).
// The model learns that here: each such open marks the file in use until the handle goes.
class HeldOpenFile final : public ReadableFile {
 public:
  HeldOpenFile(std::unique_ptr<ReadableFile> file, ScriptedSystem& system, std::string path)
      : file_(std::move(file)), system_(system), path_(std::move(path)) {
    system_.SetFileInUse(path_, true);
  }
  ~HeldOpenFile() override { system_.SetFileInUse(path_, false); }
  std::int64_t Size() override { return file_->Size(); }
  ReadResult ReadAt(std::int64_t offset, void* buffer, std::size_t length) override {
    return file_->ReadAt(offset, buffer, length);
  }

 private:
  std::unique_ptr<ReadableFile> file_;
  ScriptedSystem& system_;
  std::string path_;
};

}  // namespace

std::unique_ptr<ReadableFile> HoldingFileSystem::OpenForReading(std::string_view path,
                                                                FileShare share,
                                                                std::uint32_t* error) {
  std::unique_ptr<ReadableFile> file = files_.OpenForReading(path, share, error);
  const std::string modelPath = system_.RedirectedPath(path);
  const bool sharesDelete =
      (static_cast<std::uint32_t>(share) & static_cast<std::uint32_t>(FileShare::Delete)) != 0;
  if (!file || sharesDelete || system_.FileInUse(modelPath)) return file;
  return std::make_unique<HeldOpenFile>(std::move(file), system_, modelPath);
}

AnalysisFixture::AnalysisFixture() {
  static std::atomic<int> counter{0};
  root = std::filesystem::temp_directory_path() /
         ("lk-analysis-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root);
  files = std::make_unique<PosixFileSystem>(root.string());
  files->SetPathMapping([this](std::string_view path) { return system.RedirectedPath(path); });
  system.OnFileDeleted([this](const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(HostPath(path), ignored);
  });
  system.AddDirectory(std::string(kSystemDir) + "\\Drivers");
  std::filesystem::create_directories(HostPath(std::string(kSystemDir) + "\\Drivers"));
  holding = std::make_unique<HoldingFileSystem>(*files, system);
  controller = std::make_unique<AnalysisController>(system, system, *holding, view);
}

AnalysisFixture::~AnalysisFixture() {
  controller.reset();
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
}

std::filesystem::path AnalysisFixture::HostPath(std::string_view windowsPath) const {
  std::string relative(windowsPath.substr(windowsPath.find(':') + 1));
  std::replace(relative.begin(), relative.end(), '\\', '/');
  while (!relative.empty() && relative.front() == '/') relative.erase(0, 1);
  return root / relative;
}

void AnalysisFixture::AddFile(std::string_view windowsPath, std::string_view bytes, bool inUse) {
  const std::filesystem::path host = HostPath(windowsPath);
  std::filesystem::create_directories(host.parent_path());
  std::ofstream(host, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  system.AddFile(windowsPath, inUse);
}

bool AnalysisFixture::HostFileExists(std::string_view windowsPath) const {
  return std::filesystem::exists(HostPath(windowsPath));
}

void AnalysisFixture::AddServiceKey() {
  system.SetValue(kServiceKey, "ImagePath",
                  RegistryValue::ExpandString("system32\\drivers\\winsys32.sys"));
}

void AnalysisFixture::AddAppInit(std::string_view value) {
  system.SetValue(kWindowsKey, "AppInit_DLLs", RegistryValue::String(value));
}

void AnalysisFixture::AddLibrary(bool withSignature) {
  AddFile(kLibraryPath, withSignature ? "MZ....c3po-R2D2-poe...." : "MZ....nothing here....");
}

void AnalysisFixture::AddDriver(bool withSignature) {
  AddFile(kDriverPath, withSignature ? "MZ.." + Utf16("\\DosDevices\\KeyboardClassC") + ".."
                                     : "MZ..\\DosDevices\\KeyboardClassC..");
}

void AnalysisFixture::AddService(ServiceScript script) { system.AddService("winsys32", script); }

void AnalysisFixture::AddDevice() { system.AddDevice(kDevice); }

void AnalysisFixture::InstallKnownVersion() {
  AddServiceKey();
  AddAppInit("mfc42ul.dll");
  AddLibrary();
  AddDriver();
  AddService();
  AddDevice();
}

void AnalysisFixture::Start(std::vector<DialogResult> answers) {
  for (DialogResult answer : answers) view.QueueAnswer(answer);
  if (!created_) {
    created_ = true;
    controller->FormCreate();
  }
  controller->btnStartAnalyzeClick();
}

std::vector<std::string> AnalysisFixture::DialogTitles() const {
  std::vector<std::string> titles;
  for (const auto& dialog : view.Dialogs()) titles.push_back(dialog.title);
  return titles;
}

bool AnalysisFixture::HasCaption(std::string_view caption) const {
  const auto captions = Captions();
  return std::find(captions.begin(), captions.end(), caption) != captions.end();
}

}  // namespace lk::testing
