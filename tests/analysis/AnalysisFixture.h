#pragma once
// A machine for the analysis tests: the scripted system, a temporary folder standing for drive
// C: read through the POSIX file layer (so the stream search and the file searcher read real
// bytes), the recording view and the controller. Files added here exist in both, deletions in
// the model remove the real copy, and the 64-bit redirection of the model applies to reading.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/AnalysisController.h"
#include "system/posix/PosixFileSystem.h"
#include "testing/RecordingView.h"
#include "testing/scripted/ScriptedSystem.h"

namespace lk::testing {

inline constexpr std::string_view kSystemDir = "C:\\WINDOWS\\system32";
inline constexpr std::string_view kLibraryPath = "C:\\WINDOWS\\system32\\mfc42ul.dll";
inline constexpr std::string_view kDriverPath = "C:\\WINDOWS\\system32\\Drivers\\winsys32.sys";
inline constexpr std::string_view kServiceKey = "SYSTEM\\CurrentControlSet\\services\\winsys32";
inline constexpr std::string_view kWindowsKey =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
inline constexpr std::string_view kDevice = "\\\\.\\KeyboardClassC";

// Text as UTF-16 LE bytes (ASCII only).
std::string Utf16(std::string_view ascii);

// The drive folder as the program reads it, with the model told which files the program holds
// open (see HeldOpenFile).
class HoldingFileSystem final : public FileSystem {
 public:
  HoldingFileSystem(FileSystem& files, ScriptedSystem& system) : files_(files), system_(system) {}
  std::unique_ptr<ReadableFile> OpenForReading(std::string_view path, FileShare share,
                                               std::uint32_t* error) override;
  std::unique_ptr<DirectoryEnumeration> EnumerateDirectory(std::string_view directory,
                                                           std::string_view pattern) override {
    return files_.EnumerateDirectory(directory, pattern);
  }
  std::int64_t ToLocalFileTime(std::int64_t utcTicks) override {
    return files_.ToLocalFileTime(utcTicks);
  }

 private:
  FileSystem& files_;
  ScriptedSystem& system_;
};

class AnalysisFixture : public ::testing::Test {
 protected:
  AnalysisFixture();
  ~AnalysisFixture() override;

  // A file in the model and on the drive folder with these bytes.
  void AddFile(std::string_view windowsPath, std::string_view bytes, bool inUse = false);
  [[nodiscard]] bool HostFileExists(std::string_view windowsPath) const;

  // Parts of the known version, each on its own.
  void AddServiceKey();
  void AddAppInit(std::string_view value);
  void AddLibrary(bool withSignature = true);
  void AddDriver(bool withSignature = true);
  void AddService(ServiceScript script = {});
  void AddDevice();
  void InstallKnownVersion();

  // Creates the window once (FormCreate), then runs one analysis with the answers given.
  void Start(std::vector<DialogResult> answers = {});
  // The captions of the rows now in the list, and the titles of all dialogs so far.
  [[nodiscard]] std::vector<std::string> Captions() const { return view.Captions(); }
  [[nodiscard]] std::vector<std::string> DialogTitles() const;
  [[nodiscard]] bool HasCaption(std::string_view caption) const;

  ScriptedSystem system;
  std::filesystem::path root;
  std::unique_ptr<PosixFileSystem> files;
  std::unique_ptr<HoldingFileSystem> holding;
  RecordingView view;
  std::unique_ptr<AnalysisController> controller;

 private:
  [[nodiscard]] std::filesystem::path HostPath(std::string_view windowsPath) const;
  bool created_ = false;
};

}  // namespace lk::testing
