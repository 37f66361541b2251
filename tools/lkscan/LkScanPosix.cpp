// lkscan's entry point on Linux: it examines a Windows installation below --root, from a rescue
// system where the installation does not run. The running Linux system is nothing to examine.
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "analysis/AnalysisTexts.h"
#include "system/HibernationFile.h"
#include "system/offline/OfflineSystemAccess.h"
#include "system/posix/PosixFileStore.h"
#include "system/posix/PosixFileSystem.h"
#include "tools/lkscan/LkScan.h"
#include "tools/lkscan/PosixOutputFile.h"
#if LK_HAVE_IMAGE
#include "system/image/ImageSurvey.h"
#include "system/image/ReadOnlyFileStore.h"
#endif

namespace {

// What the registry layer says about hives that Windows did not close cleanly: notes for the
// logs replayed, skipped entries for logs that could not be. shown turns a hive's host path into
// the name the user knows.
void AddHiveStates(const lk::OfflineSystemAccess& system,
                   const std::function<std::string(const std::string&)>& shown,
                   const std::function<std::string(const std::string&)>& windowsPath,
                   std::vector<lk::ScanNote>* notes, std::vector<lk::ScanSkipped>* skipped) {
  for (const auto& hive : system.DirtyHiveStates()) {
    if (notes != nullptr && !hive.logsApplied.empty()) {
      notes->push_back({"registry", "Registrierungsdatei " + shown(hive.hostPath) +
                                        ": Windows wurde nicht sauber beendet; untersucht ist "
                                        "der Stand nach den Transaktionsprotokollen (" +
                                        hive.logsApplied + ")"});
    }
    if (skipped != nullptr && !hive.logFailure.empty()) {
      skipped->push_back({windowsPath(hive.hostPath),
                          "Registrierungsdatei " + shown(hive.hostPath) +
                              ": Windows wurde nicht sauber beendet, und die neueren Änderungen "
                              "in den Transaktionsprotokollen lassen sich nicht einspielen (" +
                              hive.logFailure +
                              "); untersucht ist nur der ältere Stand der Datei"});
    }
  }
}

// The note for a hibernated installation, or nothing.
void AddHibernationNote(lk::FileSystem& files, std::vector<lk::ScanNote>& notes) {
  std::string why;
  switch (lk::ReadHibernationState(files, &why)) {
    case lk::HibernationState::Hibernated:
      notes.push_back({"hibernation", lk::HibernationRemedy()});
      break;
    case lk::HibernationState::Unreadable:
      notes.push_back({"hibernation", "whether Windows is hibernated cannot be told: " + why});
      break;
    case lk::HibernationState::NotHibernated:
      break;
  }
}

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
    AddHiveStates(
        *system_, [](const std::string& path) { return path; },
        [this](const std::string& path) { return WindowsPathOf(path); }, &notes, nullptr);
    AddHibernationNote(files_, notes);
    return notes;
  }
  std::string WhyChangesAreRefused() override {
    std::string why;
    if (lk::ReadHibernationState(files_, &why) != lk::HibernationState::Hibernated) return {};
    return "Windows on this volume is hibernated (Fast Startup), and a change made now is lost "
           "or corrupts the volume when Windows resumes. Start Windows and shut it down fully "
           "(shutdown /s /t 0), or turn Fast Startup off, then run the removal again.";
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
    AddHiveStates(
        *system_, [](const std::string& path) { return path; },
        [this](const std::string& path) { return WindowsPathOf(path); }, nullptr, &skipped);
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

#if LK_HAVE_IMAGE
// An installation on a disk image: read through the image layer, never changed.
class ImageScanTarget final : public lk::ScanTarget {
 public:
  explicit ImageScanTarget(std::unique_ptr<lk::ImageInstallation> installation)
      : installation_(std::move(installation)) {}

  lk::SystemAccess& System() override { return installation_->System(); }
  lk::FileSystem& Files() override { return installation_->Files(); }
  lk::FileStore& Store() override { return store_; }
  std::vector<lk::ScanNote> Notes() override {
    std::vector<lk::ScanNote> notes;
    if (installation_->Volume().IsDirty()) {
      notes.push_back({"volume",
                       "the NTFS volume is marked dirty: Windows did not unmount it cleanly "
                       "(a crash, a power loss or a hibernation); files being written then may "
                       "be incomplete, and chkdsk runs at the next start of Windows"});
    }
    AddHiveStates(
        installation_->System().Registry(), [this](const std::string& path) { return Shown(path); },
        [this](const std::string& path) { return Shown(path); }, &notes, nullptr);
    AddHibernationNote(installation_->Files(), notes);
    return notes;
  }
  std::vector<lk::ScanSkipped> Unexamined() override {
    std::vector<lk::ScanSkipped> skipped;
    AddHiveStates(
        installation_->System().Registry(), [this](const std::string& path) { return Shown(path); },
        [this](const std::string& path) { return Shown(path); }, nullptr, &skipped);
    return skipped;
  }
  std::string WhyChangesAreRefused() override {
    return "a disk image is only read, never changed; the repair needs the mounted volume";
  }

 private:
  // A hive copy's host path as the volume names the file ("C:\Windows\System32\config\X").
  std::string Shown(const std::string& hostPath) const {
    const std::string& root = installation_->HiveRoot();
    if (hostPath.rfind(root, 0) != 0) return hostPath;
    std::string path = "C:" + hostPath.substr(root.size());
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    return path;
  }

  std::unique_ptr<lk::ImageInstallation> installation_;
  lk::ReadOnlyFileStore store_;
};

std::vector<lk::ImageContents> SurveyImages(const std::optional<std::string>& image,
                                            std::optional<int> partition) {
  std::vector<lk::ImageContents> contents;
  const std::vector<std::string> paths =
      image ? std::vector<std::string>{*image} : lk::WholeBlockDevices();
  for (const std::string& path : paths) {
    lk::SurveyedImage survey = lk::SurveyImage(path, partition);
    lk::ImageContents disk;
    disk.image = path;
    disk.errors = std::move(survey.errors);
    for (lk::SurveyedVolume& found : survey.volumes) {
      lk::ImageVolume volume;
      volume.volume.partition = found.partition;
      volume.volume.offset = found.offset;
      volume.volume.size = found.size;
      volume.volume.filesystem = found.filesystem;
      volume.volume.label = found.label;
      volume.volume.serial = found.serial;
      volume.device = found.device;
      volume.windows = found.windows;
      volume.build = found.build;
      volume.bitlocker = found.bitlocker;
      volume.hibernated = found.hibernated;
      volume.dirty = found.dirty;
      volume.examinable = found.examinable;
      volume.reason = found.reason;
      if (found.installation) {
        volume.target = std::make_unique<ImageScanTarget>(std::move(found.installation));
      }
      disk.volumes.push_back(std::move(volume));
    }
    contents.push_back(std::move(disk));
  }
  return contents;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const lk::LkScanHost host {
    [](const std::optional<std::string>& root,
       std::string* error) -> std::unique_ptr<lk::ScanTarget> {
      if (!root) {
        *error =
            "hier läuft kein Windows: mit --root DIR eine Windows-Installation angeben "
            "(den Ordner, in dem ihr Systemlaufwerk eingehängt ist)";
        return nullptr;
      }
      std::unique_ptr<lk::OfflineSystemAccess> system = lk::OfflineSystemAccess::Open(*root, error);
      if (!system) return nullptr;
      return std::make_unique<OfflineScanTarget>(std::move(system), *root);
    },
        std::cout, std::cerr, isatty(STDERR_FILENO) == 1, lk::CreatePosixOutputFile, nullptr,
        nullptr,
#if LK_HAVE_IMAGE
        SurveyImages,
#else
        nullptr,
#endif
  };
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int code = lk::RunLkScan(args, host);
  std::cout.flush();
  return code;
}
