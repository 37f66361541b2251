// lkscan's entry point on Linux: it examines a Windows installation below --root, from a rescue
// system where the installation does not run. The running Linux system is nothing to examine.
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "system/offline/OfflineSystemAccess.h"
#include "system/posix/PosixFileStore.h"
#include "system/posix/PosixFileSystem.h"
#include "tools/ConsoleTexts.h"
#include "tools/lkscan/LkScan.h"
#include "tools/lkscan/PosixOutputFile.h"
#include "trojan/TrojanNames.h"

namespace {

// The installation whose system drive is mounted at the root folder: its registry from the hive
// files, its files through the POSIX layer rooted at the same folder.
class OfflineScanTarget final : public lk::ScanTarget {
 public:
  OfflineScanTarget(std::unique_ptr<lk::OfflineSystemAccess> system, const std::string& root)
      : system_(std::move(system)), files_(root), store_(files_) {}

  lk::SystemAccess& System() override { return *system_; }
  lk::FileSystem& Files() override { return files_; }
  lk::FileStore& Store() override { return store_; }

  // A hive file is rewritten as a whole: the journal keeps the untouched file first, and a hive
  // that could not be kept is not written. A restore keeps nothing (it writes back what a
  // removal kept).
  void BeforeChanges(lk::RemovalJournal* journal) override {
    if (journal == nullptr) {
      system_->SetBeforeFirstHiveWrite([](const std::string&) { return true; });
      return;
    }
    system_->SetBeforeFirstHiveWrite([this, journal](const std::string& hostPath) {
      return journal->KeepBackup(WindowsPathOf(hostPath)).ok;
    });
  }
  // A host path below the drive's folder is the drive's own path ("C:\\ProgramData\\..."); any
  // other host path stays one, to be walked from '/'. A drive path is taken as it is.
  std::string FolderPath(const std::string& given) override {
    const bool drivePath = given.size() >= 2 && given[1] == ':';
    if (given.empty() || drivePath || given.front() == '\\') return given;
    std::error_code failed;
    const std::filesystem::path host = std::filesystem::absolute(given, failed).lexically_normal();
    const std::filesystem::path root =
        std::filesystem::absolute(system_->Root(), failed).lexically_normal();
    if (failed) return given;
    const std::filesystem::path relative = host.lexically_relative(root);
    if (relative.empty() || *relative.begin() == "..") {
      std::string path = host.string();
      while (path.size() > 1 && path.back() == '/') path.pop_back();
      return path;
    }
    std::string path = "C:";
    for (const auto& part : relative) {
      if (part != "." && !part.empty()) path += "\\" + part.string();
    }
    return path.size() == 2 ? path + "\\" : path;
  }
  std::vector<lk::ScanNote> Notes() override {
    std::vector<lk::ScanNote> notes;
    for (const auto& hive : system_->DirtyHiveStates()) {
      if (hive.logsApplied.empty()) continue;
      notes.push_back({"registry", lk::console_texts::Fill(lk::lkscan_texts::kHiveReplayed,
                                                           {hive.hostPath, hive.logsApplied})});
    }
    return notes;
  }
  std::string WhyRemovalIsUnsafe() override {
    std::string windowsKey(lk::names::kWindowsKey);
    std::string wow32Key = windowsKey;
    wow32Key.insert(std::string_view("SOFTWARE\\").size(), "Wow6432Node\\");
    return system_->CheckChanges(lk::names::kServiceName, {{lk::RegistryView::Native, windowsKey},
                                                           {lk::RegistryView::Native, wow32Key}});
  }
  std::vector<lk::ScanSkipped> Unexamined() override {
    std::vector<lk::ScanSkipped> skipped;
    for (const auto& hive : system_->DirtyHiveStates()) {
      if (!hive.logFailure.empty()) {
        skipped.push_back({WindowsPathOf(hive.hostPath),
                           lk::console_texts::Fill(lk::lkscan_texts::kHiveNotReplayed,
                                                   {hive.hostPath, hive.logFailure})});
      }
    }
    return skipped;
  }

 private:
  // "C:\Windows\System32\config\SYSTEM" for a host path below the drive's folder.
  std::string WindowsPathOf(const std::string& hostPath) const {
    const std::filesystem::path relative =
        std::filesystem::path(hostPath).lexically_relative(system_->Root());
    std::string path = "C:";
    for (const auto& part : relative) path += "\\" + part.string();
    return path;
  }

  std::unique_ptr<lk::OfflineSystemAccess> system_;
  lk::PosixFileSystem files_;
  lk::PosixFileStore store_;
};

}  // namespace

int main(int argc, char** argv) {
  const lk::LkScanHost host{[](const std::optional<std::string>& root,
                               std::string* error) -> std::unique_ptr<lk::ScanTarget> {
                              if (!root) {
                                *error = lk::lkscan_texts::kNoRunningWindows;
                                return nullptr;
                              }
                              std::unique_ptr<lk::OfflineSystemAccess> system =
                                  lk::OfflineSystemAccess::Open(*root, error);
                              if (!system) return nullptr;
                              return std::make_unique<OfflineScanTarget>(std::move(system), *root);
                            },
                            std::cout,
                            std::cerr,
                            isatty(STDERR_FILENO) == 1,
                            lk::CreatePosixOutputFile,
                            nullptr,
                            nullptr};
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int code = lk::RunLkScan(args, host);
  std::cout.flush();
  return code;
}
